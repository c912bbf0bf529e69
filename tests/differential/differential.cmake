# The differential test against xterm.js headless: a stream generator built
# here, and a node script that compares vtsnap-render with xterm.js on its
# streams and on the recordings in tests/recordings/.
if(CMAKE_CROSSCOMPILING)
  return()
endif()

add_executable(vtsnap-diffgen ${CMAKE_CURRENT_LIST_DIR}/make_streams.cpp)
