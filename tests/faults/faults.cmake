# Fault injection around the snapshot file and the POSIX tool: real size
# limits, a real full file system where one can be mounted, real processes.
if(NOT VTSNAP_PLATFORM STREQUAL "posix" OR NOT TARGET vtsnap)
  return()
endif()

add_executable(vtsnap_fault_child ${CMAKE_CURRENT_LIST_DIR}/fault_child.cpp)

add_executable(vtsnap_fault_tests ${CMAKE_CURRENT_LIST_DIR}/test_faults.cpp)
target_link_libraries(vtsnap_fault_tests PRIVATE vtsnap_snapshot ${VTSNAP_GTEST})
target_compile_definitions(vtsnap_fault_tests PRIVATE
  VTSNAP_BINARY="$<TARGET_FILE:vtsnap>"
  VTSNAP_FAULT_CHILD="$<TARGET_FILE:vtsnap_fault_child>")
add_dependencies(vtsnap_fault_tests vtsnap vtsnap_fault_child)
gtest_discover_tests(vtsnap_fault_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 900)
