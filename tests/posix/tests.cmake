# POSIX tests: the snapshot file on real files, and build/vtsnap end to end
# on real pseudo terminals with a small child program of their own.
add_executable(vtsnap_posix_child ${CMAKE_CURRENT_LIST_DIR}/child.cpp)

add_executable(vtsnap_posix_tests
  ${CMAKE_CURRENT_LIST_DIR}/test_output_file_posix.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_capture_posix.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_edges_posix.cpp
)
target_link_libraries(vtsnap_posix_tests PRIVATE vtsnap_snapshot ${VTSNAP_GTEST})
target_include_directories(vtsnap_posix_tests PRIVATE ${PROJECT_BINARY_DIR}/generated)
target_compile_definitions(vtsnap_posix_tests PRIVATE
  VTSNAP_BINARY="$<TARGET_FILE:vtsnap>"
  VTSNAP_RENDER_BINARY="$<TARGET_FILE:vtsnap-render>"
  VTSNAP_TEST_CHILD="$<TARGET_FILE:vtsnap_posix_child>")
add_dependencies(vtsnap_posix_tests vtsnap vtsnap-render vtsnap_posix_child vtsnap_version)
gtest_discover_tests(vtsnap_posix_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)

# Recordings against the real asciinema, both ways.
add_test(NAME asciinema.round_trips
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/asciinema.sh $<TARGET_FILE:vtsnap> $<TARGET_FILE:vtsnap-render>)
set_tests_properties(asciinema.round_trips PROPERTIES TIMEOUT 120)
