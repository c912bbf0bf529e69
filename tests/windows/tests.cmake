# Windows tests, run under Wine by tests/stages/windows.sh. Everything goes
# into the build directory's top, next to vtsnap.exe, where the end-to-end
# driver finds the tool and the test child.
target_sources(vtsnap_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/test_windows.cpp)
target_link_libraries(vtsnap_tests PRIVATE vtsnap_capture_windows)

add_executable(vtsnap_test_child ${CMAKE_CURRENT_LIST_DIR}/test_child.cpp)

add_executable(vtsnap_e2e_tests ${CMAKE_CURRENT_LIST_DIR}/e2e_tests.cpp)
target_compile_definitions(vtsnap_e2e_tests PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
target_include_directories(vtsnap_e2e_tests PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/generated)
# Its own main(), for the --log option.
if(TARGET GTest::gtest)
  target_link_libraries(vtsnap_e2e_tests PRIVATE GTest::gtest)
else()
  target_link_libraries(vtsnap_e2e_tests PRIVATE gtest)
endif()
add_dependencies(vtsnap_e2e_tests vtsnap vtsnap-render vtsnap_test_child vtsnap_version)

set_target_properties(vtsnap_tests vtsnap_test_child vtsnap_e2e_tests
  PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
