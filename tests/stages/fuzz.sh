#!/usr/bin/env bash
# libFuzzer stage: builds the fuzz targets with clang, replays the seed corpus
# and every past crash as regression tests, then fuzzes each target for a
# bounded time (FUZZ_SECONDS per target, 30 by default).
set -euo pipefail
cd "$(dirname "$0")/../.."

build=build-fuzz
seconds=${FUZZ_SECONDS:-30}
targets=(screen command_line asciicast)

CC=clang CXX=clang++ cmake -G Ninja -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVTSNAP_BUILD_FUZZ=ON -DVTSNAP_BUILD_TESTS=OFF -DVTSNAP_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

shopt -s nullglob
status=0
summary=()
for t in "${targets[@]}"; do
  bin=$build/fuzz/fuzz_$t
  seeds=(fuzz/corpus/$t/*)
  crashes=(fuzz/regressions/$t/*)

  # Every seed and every past crash once: a plain regression run.
  if ! "$bin" "${seeds[@]}" "${crashes[@]}" >"$build/replay-$t.log" 2>&1; then
    tail -n 40 "$build/replay-$t.log"
    echo "fuzz_$t: replay of the corpus and past crashes FAILED (log: $build/replay-$t.log)"
    status=1
    continue
  fi

  # New inputs go to a scratch corpus; the checked-in ones are only read.
  work=$build/work/$t artifacts=$build/artifacts/$t/
  rm -rf "$work" "$artifacts"
  mkdir -p "$work" "$artifacts"
  log=$build/fuzz-$t.log
  dict=()
  [[ -f fuzz/$t.dict ]] && dict=(-dict="fuzz/$t.dict")
  if "$bin" "${dict[@]}" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=8192 \
      -entropic_scale_per_exec_time=1 -print_final_stats=1 -artifact_prefix="$artifacts" \
      "$work" "fuzz/corpus/$t" "fuzz/regressions/$t" >"$log" 2>&1; then
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    corpus=$(grep -o 'corp: [0-9]*/[0-9A-Za-z]*' "$log" | tail -n 1 | cut -d' ' -f2)
    summary+=("fuzz_$t: ${#seeds[@]} seeds and ${#crashes[@]} past crashes replayed; $execs executions in ${seconds} s, corpus $corpus, nothing found")
  else
    grep -E 'ERROR|broken|SUMMARY|Test unit written' "$log" | head -n 20 || true
    summary+=("fuzz_$t: FAILED; see $log. Once fixed, copy the input from $artifacts into fuzz/regressions/$t/")
    status=1
  fi
done

printf '%s\n' "${summary[@]}"
exit $status
