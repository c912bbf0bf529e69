# Installs the build into a prefix of its own, then builds and runs the
# consumer project against it: find_package(vtsnap) and vtsnap::vtsnap as
# another project uses them. The consumer is built with the build's compiler
# and flags: a library built with sanitizers needs their runtimes.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... [-DCONSUMER_CXX=...
#         -DCONSUMER_CXX_FLAGS=... -DCONSUMER_LINKER_FLAGS=...] -P consumer.cmake
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} OUTPUT_QUIET
                COMMAND_ERROR_IS_FATAL ANY)
foreach(file include/vtsnap/vtsnap.hpp lib/libvtsnap.a lib/cmake/vtsnap/vtsnapConfig.cmake)
  if(NOT EXISTS ${prefix}/${file})
    string(REPLACE "lib/" "lib/${CMAKE_LIBRARY_ARCHITECTURE}/" multiarch ${file})
    if(NOT EXISTS ${prefix}/${multiarch})
      message(FATAL_ERROR "not installed: ${file}")
    endif()
  endif()
endforeach()
set(toolchain)
if(CONSUMER_CXX)
  list(APPEND toolchain "-DCMAKE_CXX_COMPILER=${CONSUMER_CXX}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/library/consumer -B ${WORK_DIR}/build -G Ninja
                -DCMAKE_PREFIX_PATH=${prefix} ${toolchain} "-DCMAKE_CXX_FLAGS=${CONSUMER_CXX_FLAGS}"
                "-DCMAKE_EXE_LINKER_FLAGS=${CONSUMER_LINKER_FLAGS}" OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${WORK_DIR}/build/consumer OUTPUT_VARIABLE out RESULT_VARIABLE result)
set(want "hi!|! 1 1|1,2|13\n")
if(NOT result EQUAL 0 OR NOT out STREQUAL want)
  message(FATAL_ERROR "the consumer printed '${out}' (exit ${result}), not '${want}'")
endif()
