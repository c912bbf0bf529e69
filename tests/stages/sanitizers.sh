#!/usr/bin/env bash
# Sanitizer stage: every native test (unit, end to end, fault injection) under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the tests that run the
# threaded tool under ThreadSanitizer. No suppressions. Every sanitizer report
# goes to a log file of its own, so that a report from the tool or its child
# fails the stage even where a test looks only at the output file.
set -uo pipefail
cd "$(dirname "$0")/../.."

status=0
summary=()

# configure_build DIR FLAGS TARGETS...: an empty target list builds everything.
configure_build() {
  local dir=$1 flags=$2
  shift 2
  cmake -G Ninja -S . -B "$dir" -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVTSNAP_BUILD_BENCH=OFF -DVTSNAP_BUILD_FUZZ=OFF -DVTSNAP_STATIC_CXX_RUNTIME=OFF \
    "-DCMAKE_CXX_FLAGS=$flags -fno-omit-frame-pointer" "-DCMAKE_EXE_LINKER_FLAGS=$flags" >/dev/null &&
    cmake --build "$dir" -j2 ${1:+--target "$@"}
}

# run_tests NAME DIR [ctest arguments...]: fails on a failed test or on any
# sanitizer log left behind.
run_tests() {
  local name=$1 dir=$2 start=$SECONDS logs
  shift 2
  logs=$dir/sanitizer-logs
  rm -rf "$logs"
  mkdir -p "$logs"
  export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:log_path=$PWD/$logs/asan"
  export UBSAN_OPTIONS="print_stacktrace=1:log_path=$PWD/$logs/ubsan"
  export TSAN_OPTIONS="second_deadlock_stack=1:log_path=$PWD/$logs/tsan"
  local result=0
  ctest --test-dir "$dir" -j2 --output-on-failure "$@" >"$dir/ctest.log" 2>&1 || result=1
  unset ASAN_OPTIONS UBSAN_OPTIONS TSAN_OPTIONS
  local counts reports
  counts=$(grep -E '^[0-9]+% tests passed' "$dir/ctest.log" || echo "no test summary")
  reports=$(find "$logs" -type f | wc -l)
  if ((reports > 0)); then
    for f in "$logs"/*; do
      echo "--- $f"
      head -n 60 "$f"
    done
    result=1
  fi
  if ((result)); then
    grep -E 'Failed|\*\*\*|Not Run' "$dir/ctest.log" | head -n 40
    summary+=("$name: FAILED ($counts; $reports sanitizer reports; log: $dir/ctest.log)")
    status=1
  else
    summary+=("$name: $counts, no sanitizer report, $((SECONDS - start)) s")
  fi
}

start=$SECONDS
if configure_build build-asan "-fsanitize=address,undefined -fno-sanitize-recover=all"; then
  summary+=("ASan+UBSan build: $((SECONDS - start)) s")
  run_tests "ASan+UBSan, all native tests" build-asan
else
  summary+=("ASan+UBSan build FAILED")
  status=1
fi

# The tool and the tests that drive it, with its reader thread, from outside.
start=$SECONDS
tsan_targets=(vtsnap vtsnap_posix_child vtsnap_posix_tests vtsnap_fault_tests)
if configure_build build-tsan "-fsanitize=thread" "${tsan_targets[@]}"; then
  summary+=("TSan build: $((SECONDS - start)) s")
  run_tests "TSan, threaded end-to-end and fault tests" build-tsan -R '^(CaptureTest|EdgeTest|FaultTest|TranscriptFaultTest|TranscriptPipeTest)\.'
else
  summary+=("TSan build FAILED")
  status=1
fi

printf '%s\n' "${summary[@]}"
exit $status
