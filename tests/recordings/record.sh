#!/usr/bin/env bash
# Records the streams in this directory: each program on a pseudo terminal of
# 120 x 40 made by script(1), under TERM=xterm-256color and screen-256color.
# Needs dialog; the git log is of the repository this script lives in.
#   bash tests/recordings/record.sh     (from anywhere)
# Each file is NAME.TERM.r40.vt: the bytes the program wrote, without script's
# own header and footer lines and without the switches to and from the
# alternate screen (which vtsnap ignores and xterm.js obeys), cut at a line end
# when above 200 KB.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
rows=40

record() {  # NAME TERM LOCALE COMMAND
  local name=$1 term=$2 locale=$3 command=$4
  local out="$here/$name.$term.r$rows.vt" raw
  raw=$(mktemp)
  TERM=$term LANG=$locale LC_ALL=$locale PAGER=cat GIT_PAGER=cat \
    script -q -e -c "stty cols 120 rows $rows; $command" "$raw" </dev/null >/dev/null
  # script writes "Script started on ..." and "Script done on ..." lines.
  sed -e '1{/^Script started on /d}' "$raw" | sed -e '${/^Script done on /d}' |
    perl -pe 's/\e\[\?(?:1049|1047|47)[hl]//g' >"$out"
  rm -f "$raw"
  if [ "$(stat -c %s "$out")" -gt 200000 ]; then
    head -c 200000 "$out" | sed -e '$d' >"$out.cut" && mv "$out.cut" "$out"
  fi
  echo "$(stat -c %s "$out") $out"
}

for term in xterm-256color screen-256color; do
  record ls "$term" C.UTF-8 "ls --color=always -l /usr/bin | head -n 150"
  record dpkg "$term" C.UTF-8 "dpkg -l"
  record top "$term" C.UTF-8 "top -n 2 -d 0.3"
  record top-c "$term" C "top -n 2 -d 0.3"
  record dialog "$term" C.UTF-8 \
    "(for p in 10 40 70 100; do echo \$p; sleep 0.1; done) | dialog --title Progress --gauge 'Copying files...' 10 60 0"
  record dialog-c "$term" C \
    "dialog --title Notice --infobox 'Line drawing in the C locale' 8 50; sleep 0.2; dialog --begin 12 10 --infobox 'A second box, lower down' 5 40"
  record git-log "$term" C.UTF-8 "git -C '$repo' log --graph --color --decorate --oneline --all -n 150"
done
