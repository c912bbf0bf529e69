# vtsnap-render from the outside: exit codes, messages and the exact bytes
# it writes. Included from tests/CMakeLists.txt, this file registers one test
# per case; each test runs this same file with `cmake -P` and a CASE.

if(NOT CMAKE_SCRIPT_MODE_FILE)
  if(CMAKE_CROSSCOMPILING)
    return()
  endif()
  foreach(case usage missing_input unwritable_output exact_bytes standard_streams chunk_sizes dimensions log
               asciicast)
    add_test(NAME vtsnap_render.${case}
             COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:vtsnap-render> -DCASE=${case}
                     -DWORK=${CMAKE_CURRENT_BINARY_DIR}/render_tool/${case} -P ${CMAKE_CURRENT_LIST_FILE})
  endforeach()
  return()
endif()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
string(ASCII 27 ESC)
string(ASCII 7 BEL)
string(ASCII 13 CR)

# Runs the tool with the remaining arguments and checks its exit code; its
# stderr is left in `stderr_text`.
function(expect_exit code)
  execute_process(COMMAND "${TOOL}" ${ARGN} RESULT_VARIABLE got ERROR_VARIABLE err OUTPUT_VARIABLE out)
  if(NOT got STREQUAL "${code}")
    message(FATAL_ERROR "vtsnap-render ${ARGN}: exit ${got}, expected ${code}\nstderr: ${err}")
  endif()
  set(stderr_text "${err}" PARENT_SCOPE)
endfunction()

function(expect_hex path hex)
  file(READ "${path}" got HEX)
  if(NOT got STREQUAL "${hex}")
    message(FATAL_ERROR "${path}:\n  got      ${got}\n  expected ${hex}")
  endif()
endfunction()

function(expect_stderr text)
  string(FIND "${stderr_text}" "${text}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "stderr '${stderr_text}' does not hold '${text}'")
  endif()
endfunction()

# The file of the given lines: a byte-order mark, each line and CR LF.
function(expect_lines path)
  set(text "")
  foreach(line IN LISTS ARGN)
    string(APPEND text "${line}\r\n")
  endforeach()
  file(WRITE "${WORK}/expected.txt" "${text}")
  file(READ "${WORK}/expected.txt" hex HEX)
  expect_hex("${path}" "efbbbf${hex}")
endfunction()

# é, a colour, a line end, an OSC title: the colour and the UTF-8 survive,
# the title leaves nothing.
set(stream "café ${ESC}[31mred${ESC}[0m${CR}\nsecond${ESC}]0;title${BEL}")
set(bom "efbbbf")
set(mono_hex "${bom}636166c3a9207265640d0a7365636f6e640d0a")
set(color_hex "${bom}636166c3a9201b5b33316d7265641b5b306d0d0a7365636f6e640d0a")
file(WRITE "${WORK}/in.txt" "${stream}")

if(CASE STREQUAL "usage")
  foreach(args IN ITEMS "" "in" "in;out;more" "-x;in;out" "--color;in;out" "-chunk=0;in;out"
                        "-chunk=1048577;in;out" "-chunk=abc;in;out" "-chunk=;in;out" "-chunk=-5;in;out"
                        "in;out;-color")
    expect_exit(2 ${args})
    expect_stderr("usage: vtsnap-render [-rows=N] [-cols=N] [-color] [-chunk=N] [-log=FILE] [-html=FILE] [-at=SECONDS] INPUT OUTPUT")
  endforeach()

elseif(CASE STREQUAL "missing_input")
  expect_exit(1 "${WORK}/no such file" "${WORK}/out.txt")
  expect_stderr("${WORK}/no such file: ")
  if(EXISTS "${WORK}/out.txt")
    message(FATAL_ERROR "a missing input created the output")
  endif()
  expect_exit(1 "${WORK}" "${WORK}/out.txt")
  expect_stderr("${WORK}: ")

elseif(CASE STREQUAL "unwritable_output")
  expect_exit(1 "${WORK}/in.txt" "${WORK}/missing dir/out.txt")
  expect_stderr("${WORK}/missing dir/out.txt: ")
  expect_exit(1 "${WORK}/in.txt" "${WORK}")
  expect_stderr("${WORK}: ")
  # A write that fails only when the buffered bytes are flushed.
  if(EXISTS /dev/full)
    expect_exit(1 "${WORK}/in.txt" /dev/full)
    expect_stderr("/dev/full: ")
  endif()

elseif(CASE STREQUAL "exact_bytes")
  expect_exit(0 "${WORK}/in.txt" "${WORK}/mono.txt")
  expect_hex("${WORK}/mono.txt" "${mono_hex}")
  expect_exit(0 -color "${WORK}/in.txt" "${WORK}/color.txt")
  expect_hex("${WORK}/color.txt" "${color_hex}")
  # An existing, longer output is replaced, not overwritten in part.
  file(WRITE "${WORK}/old.txt" "much longer content than the new snapshot will have, by far")
  expect_exit(0 -COLOR "${WORK}/in.txt" "${WORK}/old.txt")
  expect_hex("${WORK}/old.txt" "${color_hex}")
  file(WRITE "${WORK}/empty.txt" "")
  expect_exit(0 "${WORK}/empty.txt" "${WORK}/blank.txt")
  expect_hex("${WORK}/blank.txt" "${bom}")

elseif(CASE STREQUAL "standard_streams")
  execute_process(COMMAND "${TOOL}" -color - - INPUT_FILE "${WORK}/in.txt" OUTPUT_FILE "${WORK}/out.txt"
                  RESULT_VARIABLE got)
  if(NOT got STREQUAL "0")
    message(FATAL_ERROR "stdin to stdout: exit ${got}")
  endif()
  expect_hex("${WORK}/out.txt" "${color_hex}")
  execute_process(COMMAND "${TOOL}" - "${WORK}/file.txt" INPUT_FILE "${WORK}/in.txt" RESULT_VARIABLE got)
  if(NOT got STREQUAL "0")
    message(FATAL_ERROR "stdin to a file: exit ${got}")
  endif()
  expect_hex("${WORK}/file.txt" "${mono_hex}")

elseif(CASE STREQUAL "chunk_sizes")
  # Every split of the sequences must give the same file.
  foreach(chunk 1 2 3 5 4096 1048576)
    expect_exit(0 -color -chunk=${chunk} "${WORK}/in.txt" "${WORK}/out${chunk}.txt")
    expect_hex("${WORK}/out${chunk}.txt" "${color_hex}")
  endforeach()
  # An input several times the tool's read buffer, starting with a brace so
  # that it is first read as a line and put back: blocks that straddle the
  # buffer's refills, or are larger than it, lose and repeat no byte.
  set(big "{0000 not a header${CR}\n")
  foreach(i RANGE 1 4000)
    string(APPEND big "line ${i} of the long stream${CR}\n")
  endforeach()
  file(WRITE "${WORK}/big.txt" "${big}")
  file(READ "${WORK}/big.txt" big_hex HEX)
  foreach(chunk 1000 4096 70000 1048576)
    expect_exit(0 -rows=2 -chunk=${chunk} -log=${WORK}/big${chunk}.log "${WORK}/big.txt" "${WORK}/big${chunk}.txt")
    file(READ "${WORK}/big${chunk}.log" log_hex HEX)
    if(NOT log_hex STREQUAL "efbbbf${big_hex}")
      message(FATAL_ERROR "-chunk=${chunk}: ${WORK}/big${chunk}.log is not ${WORK}/big.txt after a byte-order mark")
    endif()
  endforeach()

elseif(CASE STREQUAL "dimensions")
  file(WRITE "${WORK}/lines.txt" "abcdefg${CR}\n2${CR}\n3")
  expect_exit(0 -cols=5 "${WORK}/lines.txt" "${WORK}/narrow.txt")
  expect_hex("${WORK}/narrow.txt" "${bom}61626364650d0a66670d0a320d0a330d0a")
  expect_exit(0 -ROWS=2 "${WORK}/lines.txt" "${WORK}/short.txt")
  expect_hex("${WORK}/short.txt" "${bom}320d0a330d0a")
  # 0 or less, or no number, keeps the value that was there before.
  expect_exit(0 -rows=2 -rows=0 -rows=-4 -rows=x -cols=0 "${WORK}/lines.txt" "${WORK}/kept.txt")
  expect_hex("${WORK}/kept.txt" "${bom}320d0a330d0a")
  expect_exit(0 -cols=3abc "${WORK}/lines.txt" "${WORK}/digits.txt")
  expect_hex("${WORK}/digits.txt" "${bom}6162630d0a6465660d0a670d0a320d0a330d0a")

elseif(CASE STREQUAL "log")
  # Rows that scrolled off, then the last screen: a progress bar in its last state.
  file(WRITE "${WORK}/rec.txt" "one${CR}\n${ESC}[31mtwo${ESC}[0m${CR}\n3%${CR}100%${CR}\nlast")
  set(log_color "${bom}6f6e650d0a1b5b33316d74776f1b5b306d0d0a313030250d0a6c6173740d0a")
  set(log_mono "${bom}6f6e650d0a74776f0d0a313030250d0a6c6173740d0a")
  foreach(chunk 1 3 4096)
    expect_exit(0 -rows=2 -color -chunk=${chunk} -log=${WORK}/log${chunk}.txt "${WORK}/rec.txt" "${WORK}/screen.txt")
    expect_hex("${WORK}/log${chunk}.txt" "${log_color}")
  endforeach()
  # The screen file is as without the log; an existing log is emptied first.
  expect_hex("${WORK}/screen.txt" "${bom}313030250d0a6c6173740d0a")
  file(WRITE "${WORK}/old.txt" "a longer file than the transcript will be, by a good many bytes")
  expect_exit(0 -rows=2 -LOG=${WORK}/old.txt "${WORK}/rec.txt" -)
  expect_hex("${WORK}/old.txt" "${log_mono}")
  # A log that cannot be created: exit 1, and the output is not written.
  expect_exit(1 -log=${WORK}/missing/log.txt "${WORK}/rec.txt" "${WORK}/none.txt")
  expect_stderr("${WORK}/missing/log.txt: ")
  if(EXISTS "${WORK}/none.txt")
    message(FATAL_ERROR "a log that cannot be created left an output file")
  endif()
  # A log that cannot take the rows.
  if(EXISTS /dev/full)
    file(READ "${WORK}/rec.txt" one_recording)
    string(REPEAT "${one_recording}${CR}\n" 20000 many)
    file(WRITE "${WORK}/many.txt" "${many}")
    expect_exit(1 -rows=2 -log=/dev/full "${WORK}/many.txt" "${WORK}/many-screen.txt")
    expect_stderr("/dev/full: ")
  endif()

elseif(CASE STREQUAL "asciicast")
  # A recording: its size is the screen's, its output events are fed in
  # order, other events are passed over, and -at= stops at a moment.
  file(WRITE "${WORK}/run.cast" [=[{"version": 2, "width": 10, "height": 3, "timestamp": 1, "env": {"TERM": "xterm"}}
[0.1, "o", "caf\u00e9 \u001b[31mred\u001b[0m\r\n"]
[0.2, "i", "typed"]
[0.5, "o", "line2\r\nline3\r\nline4"]

[1.5, "o", "\u001b[2J\u001b[Hcleared \ud83d\ude00"]
]=])
  expect_exit(0 "${WORK}/run.cast" "${WORK}/end.txt")
  expect_lines("${WORK}/end.txt" "cleared 😀")
  expect_exit(0 -at=1 "${WORK}/run.cast" "${WORK}/at1.txt")
  expect_lines("${WORK}/at1.txt" "line2" "line3" "line4")
  expect_exit(0 -AT=0.1 -color "${WORK}/run.cast" "${WORK}/at01.txt")
  expect_lines("${WORK}/at01.txt" "café ${ESC}[31mred${ESC}[0m")
  expect_exit(0 -at=0 "${WORK}/run.cast" "${WORK}/at0.txt")
  expect_lines("${WORK}/at0.txt")
  expect_exit(0 -at=1 -rows=5 -chunk=1 -log=${WORK}/log.txt "${WORK}/run.cast" "${WORK}/tall.txt")
  expect_lines("${WORK}/tall.txt" "café red" "line2" "line3" "line4")
  expect_lines("${WORK}/log.txt" "café red" "line2" "line3" "line4")
  expect_exit(0 -cols=4 -at=0.1 "${WORK}/run.cast" "${WORK}/narrow.txt")
  expect_lines("${WORK}/narrow.txt" "café" " red")
  # From standard input, with CR LF line ends.
  file(READ "${WORK}/run.cast" cast)
  string(REPLACE "\n" "\r\n" cast "${cast}")
  file(WRITE "${WORK}/crlf.cast" "${cast}")
  execute_process(COMMAND "${TOOL}" -at=1 - "${WORK}/stdin.txt" INPUT_FILE "${WORK}/crlf.cast" RESULT_VARIABLE got)
  if(NOT got STREQUAL "0")
    message(FATAL_ERROR "a recording on standard input: exit ${got}")
  endif()
  expect_lines("${WORK}/stdin.txt" "line2" "line3" "line4")

  # A line that is not an event: exit 1, the line named, no output.
  foreach(bad [=[[0.5, "o"]]=] [=[[0.5, "o", "\x"]]=] [=[[0.5, "o", "x"] [1, "o", "y"]]=] [=[{"version": 2}]=])
    file(WRITE "${WORK}/bad.cast" "{\"version\": 2, \"width\": 10, \"height\": 3}\n[0, \"o\", \"ok\"]\n${bad}\n")
    expect_exit(1 "${WORK}/bad.cast" "${WORK}/bad.txt")
    expect_stderr("${WORK}/bad.cast: line 3 is not an asciicast event")
    if(EXISTS "${WORK}/bad.txt")
      message(FATAL_ERROR "a bad recording left an output file")
    endif()
  endforeach()

  # A raw stream that only starts like JSON is a raw stream, in any block size.
  file(WRITE "${WORK}/brace.txt" "{\"width\": 1}\r\n{\"version\": 2\r\nx")
  foreach(chunk 1 4096)
    expect_exit(0 -chunk=${chunk} "${WORK}/brace.txt" "${WORK}/brace${chunk}.txt")
    expect_lines("${WORK}/brace${chunk}.txt" [=[{"width": 1}]=] [=[{"version": 2]=] "x")
  endforeach()

  # Recordings as found in the wild: a byte-order mark, a header longer than
  # 64 KB, version 3 (sizes in "term", times since the event before, comment
  # lines, events other than "o" passed over, -at= in real time).
  string(ASCII 239 187 191 BOM)
  string(REPEAT "t" 100000 title)
  set(v3 [=[{"version": 3, "term": {"cols": 10, "rows": 3, "type": "xterm"}, "timestamp": 1}
# a comment
[0.5, "o", "one\r\n"]
[0.5, "i", "typed"]
[0.25, "m", "mark"]
[0.25, "r", "20x5"]
#[1, "o", "commented out"]
[0.5, "o", "two\r\n"]
[1.0, "x", "0"]
]=])
  set(events [=[[0.5, "o", "one\r\n"]
[1.5, "o", "two\r\n"]
]=])
  file(WRITE "${WORK}/bom.cast" "${BOM}{\"version\": 2, \"width\": 10, \"height\": 3}\n${events}")
  file(WRITE "${WORK}/long.cast" "{\"version\": 2, \"width\": 10, \"height\": 3, \"title\": \"${title}\"}\n${events}")
  file(WRITE "${WORK}/v3.cast" "${v3}")
  file(WRITE "${WORK}/v3bom.cast" "${BOM}${v3}")
  # input | option | the screen's lines ("-" for no option)
  foreach(row "bom.cast|-|one|two" "long.cast|-|one|two" "v3.cast|-|one|two" "v3.cast|-at=1.9|one"
              "v3.cast|-at=2|one|two" "v3bom.cast|-at=0.5|one" "v3.cast|-rows=2|two")
    string(REPLACE "|" ";" fields "${row}")
    list(POP_FRONT fields input option)
    if(option STREQUAL "-")
      set(option "")
    endif()
    expect_exit(0 ${option} "${WORK}/${input}" "${WORK}/wild.txt")
    expect_lines("${WORK}/wild.txt" ${fields})
  endforeach()
  # The v3 screen is the header's 10 columns: a longer line wraps.
  file(WRITE "${WORK}/v3wide.cast" "{\"version\": 3, \"term\": {\"cols\": 10, \"rows\": 3}}\n[0, \"o\", \"0123456789ab\"]\n")
  expect_exit(0 "${WORK}/v3wide.cast" "${WORK}/wild.txt")
  expect_lines("${WORK}/wild.txt" "0123456789" "ab")

  # Version 1 (on one line, or spread over lines) and any other version: a
  # clear error, no output, never taken for a raw stream.
  file(WRITE "${WORK}/v1.cast" "{\"version\": 1, \"width\": 10, \"height\": 3, \"stdout\": [[0.5, \"x\"]]}\n")
  file(WRITE "${WORK}/v1spread.cast" "{\n  \"version\": 1,\n  \"width\": 10,\n  \"stdout\": []\n}\n")
  file(WRITE "${WORK}/v4.cast" "${BOM}{\"version\": 4, \"term\": {\"cols\": 10, \"rows\": 3}}\n")
  file(WRITE "${WORK}/v2.5.cast" "{\"version\": 2.5, \"width\": 10, \"height\": 3}\n")
  foreach(row "v1.cast|version 1," "v1spread.cast|version 1," "v4.cast|version 4," "v2.5.cast|an unknown version")
    string(REPLACE "|" ";" fields "${row}")
    list(GET fields 0 input)
    list(GET fields 1 text)
    file(REMOVE "${WORK}/version.txt")
    expect_exit(1 "${WORK}/${input}" "${WORK}/version.txt")
    expect_stderr("${input}: an asciicast recording of ${text}")
    expect_stderr("(versions 2 and 3 are)")
    if(EXISTS "${WORK}/version.txt")
      message(FATAL_ERROR "${input}: an output file was left")
    endif()
  endforeach()

  # A header cannot ask for more than 8388608 cells: past it an error naming
  # the options, and the options choose any size.
  file(WRITE "${WORK}/huge.cast" "{\"version\": 2, \"width\": 32767, \"height\": 32767}\n[0, \"o\", \"x\"]\n")
  foreach(options "-" "-cols=1000" "-rows=1000")
    if(options STREQUAL "-")
      set(options "")
    endif()
    expect_exit(1 ${options} "${WORK}/huge.cast" "${WORK}/huge.txt")
    expect_stderr("has more than 8388608 cells; choose its size with -cols= and -rows=")
  endforeach()
  expect_exit(0 -cols=10 -rows=2 "${WORK}/huge.cast" "${WORK}/huge.txt")
  expect_lines("${WORK}/huge.txt" "x")
  file(WRITE "${WORK}/tallest.cast" "{\"version\": 2, \"width\": 120, \"height\": 32767}\n[0, \"o\", \"x\"]\n")
  expect_exit(0 "${WORK}/tallest.cast" "${WORK}/huge.txt")
  expect_lines("${WORK}/huge.txt" "x")

  # -at= wants a recording, and a number of seconds.
  expect_exit(2 -at=1 "${WORK}/brace.txt" "${WORK}/none.txt")
  expect_stderr("-at= needs an asciicast recording")
  foreach(at "" "-1" "abc" "1s" "1e3")
    expect_exit(2 -at=${at} "${WORK}/run.cast" "${WORK}/none.txt")
  endforeach()

else()
  message(FATAL_ERROR "unknown case ${CASE}")
endif()
