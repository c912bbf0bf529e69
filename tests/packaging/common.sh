# Sourced by the packaging tests: counting checks, and the demo that every
# installed or unpacked vtsnap is run on.

passed=0 failed=0

# check TITLE COMMAND...: runs the command; its output is shown only when it
# fails. (Its locals are seen by the command: bash scopes dynamically.)
check() {
  local check_title=$1 check_output
  shift
  if check_output=$("$@" 2>&1); then
    passed=$((passed + 1))
    echo "ok: $check_title"
  else
    failed=$((failed + 1))
    echo "FAILED: $check_title"
    printf '%s\n' "$check_output" | head -n 40
  fi
}

# The demo program's output: a colour that runs to the end of a line, and a
# progress figure overwritten in place. Then it exits with 7.
demo_stream='plain \033[32mgreen\033[0m\r\n50%%\r100%%\r\n'
demo_exit=7
# What vtsnap -color makes of it, on any screen.
demo_file() { printf '\357\273\277plain \033[32mgreen\033[0m\r\n100%%\r\n'; }

# same_bytes EXPECTED_FILE FILE
same_bytes() {
  if ! cmp -s "$1" "$2"; then
    echo "expected:"; od -An -c "$1"
    echo "got:"; od -An -c "$2" 2>&1
    return 1
  fi
}

# project_version BUILD_DIR: the version CMake gave the project.
project_version() {
  sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt"
}

# expect_lines EXPECTED ACTUAL: two newline-separated lists, equal.
expect_lines() {
  if [ "$1" != "$2" ]; then
    diff <(printf '%s\n' "$1") <(printf '%s\n' "$2")
    return 1
  fi
}
