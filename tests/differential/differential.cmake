# The differential test against xterm.js headless: a stream generator built
# here, and a node script that compares vtsnap-render with xterm.js on its
# streams and on the recordings in tests/recordings/; and the character widths
# against xterm.js's.
if(CMAKE_CROSSCOMPILING)
  return()
endif()

add_executable(vtsnap-diffgen ${CMAKE_CURRENT_LIST_DIR}/make_streams.cpp)
add_executable(vtsnap-widths ${CMAKE_CURRENT_LIST_DIR}/print_widths.cpp)
target_link_libraries(vtsnap-widths PRIVATE vtsnap_terminal)

# A slice that takes seconds: 300 generated streams and every recording in
# several block sizes. docs/fidelity.md has the long run.
add_test(NAME differential.xterm_js
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run.sh
                 --render $<TARGET_FILE:vtsnap-render> --gen $<TARGET_FILE:vtsnap-diffgen>
                 --count 300 --wide --recordings ${PROJECT_SOURCE_DIR}/tests/recordings --show 5)
set_tests_properties(differential.xterm_js PROPERTIES
  ENVIRONMENT "VTSNAP_BUILD=${CMAKE_BINARY_DIR}"
  SKIP_RETURN_CODE 77
  TIMEOUT 600)

# charWidth against xterm.js's Unicode 11 widths, every code point Unicode 11
# assigns.
add_test(NAME char_width.xterm_js
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/widths.sh $<TARGET_FILE:vtsnap-widths>)
set_tests_properties(char_width.xterm_js PROPERTIES
  ENVIRONMENT "VTSNAP_BUILD=${CMAKE_BINARY_DIR}"
  SKIP_RETURN_CODE 77
  TIMEOUT 300)
