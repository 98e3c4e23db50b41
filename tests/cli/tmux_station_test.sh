#!/usr/bin/env bash
# The station in a real terminal: wxr7305 upgrade --all over 30 simulated
# units, one unplugged part-way, typed into a shell in tmux at 80 x 24.
# Afterwards the screen must show the recap (the failed unit, its location,
# the retry command), and the whole scrollback each unit's result exactly
# once, no frame of bars and no escape sequence as text.
#   tmux_station_test.sh PROGRAM [LAUNCHER...]   e.g. .../wxr7305.exe tools/wine-run
# Exits 77 (skipped) when tmux, or the launcher, is missing.
set -uo pipefail

program=$1
shift
launcher=("$@")
command -v tmux >/dev/null || { echo "SKIPPED: tmux is missing"; exit 77; }
if [ ${#launcher[@]} -gt 0 ] && [ ! -x "${launcher[0]}" ] && ! command -v "${launcher[0]}" >/dev/null; then
  echo "SKIPPED: ${launcher[0]} is missing"; exit 77
fi
if [[ $program == *.exe ]] && ! command -v wine64 >/dev/null && ! command -v wine >/dev/null; then
  echo "SKIPPED: wine is missing"; exit 77
fi

dir=$(mktemp -d)
tmux=(tmux -S "$dir/socket")
trap '"${tmux[@]}" kill-server 2>/dev/null; rm -rf "$dir"' EXIT
# A bound for a hung command, not a speed target: wine's first start alone takes seconds.
wait_limit_s=300

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

"${tmux[@]}" -f /dev/null new-session -d -s station -x 80 -y 24 \
  "env -u NO_COLOR LANG=C.UTF-8 PS1='$ ' bash --norc --noprofile" || { echo "FAILED: tmux did not start"; exit 1; }
"${tmux[@]}" set-option -t station history-limit 100000 >/dev/null
printf -v line '%q ' "${launcher[@]}" "$program" upgrade --all "--simulate=devices=30,3:unplug-after=3000"
"${tmux[@]}" send-keys -t station "clear; ${line}; echo EXIT=\$?" Enter

for ((waited = 0; waited < wait_limit_s * 2; waited++)); do
  "${tmux[@]}" capture-pane -p -J -t station | grep -q '^EXIT=' && break
  sleep 0.5
done
# Lines wine's console broke at the right edge itself joined again, as -J joins tmux's own.
unwrap() {
  if [ ${#launcher[@]} -eq 0 ]; then cat; return; fi
  awk '{ line = line $0 } length($0) != 80 { print line; line = "" } END { if (line != "") print line }'
}
screen=$("${tmux[@]}" capture-pane -p -J -t station | unwrap)
history=$("${tmux[@]}" capture-pane -p -J -S - -t station | unwrap)
printf '%s\n' "--- the screen at the end:" "$screen" "---"

grep -q '^EXIT=4$' <<<"$screen" || fail "the command did not end with exit 4"
grep -q '^Not written (1 unit):$' <<<"$screen" || fail "no recap on the screen"
grep -Eq '^  (. )?failed +sim:3  at sim-usb-1\.4  \(stopped at block' <<<"$screen" \
  || fail "the recap does not name sim:3 at sim-usb-1.4"
grep -Eq '^  wxr7305 upgrade .*--device sim-usb-1\.4$' <<<"$screen" || fail "no retry command on the screen"
grep -q '^30 units: 29 written, 1 failed (30 attempts)$' <<<"$history" || fail "no count of units"
for unit in $(seq 0 29); do
  want=success
  [ "$unit" = 3 ] && want=failed
  # On a terminal "✓ written  1.56 s  sim:N"; where the console takes no cursor moves, "sim:N  success  1.56 s".
  found=$(grep -Ec "^sim:$unit  $want  |^. (written|failed) +[0-9.]+ s  sim:$unit( |$)" <<<"$history")
  [ "$found" = 1 ] || fail "sim:$unit has $found result lines, not 1"
done
bars=$(grep -Ec 'kB$|\[[#.]{8,}\]' <<<"$history")
[ "$bars" = 0 ] || fail "$bars lines of bars left in the scrollback"
escapes=$(grep -Ec $'\x1b|\\[[0-9;]*[ABCDJKm]' <<<"$history")
[ "$escapes" = 0 ] || fail "$escapes lines show escape sequences as text"

if [ "$failures" -gt 0 ]; then
  printf '%s\n' "--- the whole scrollback:" "$history"
  exit 1
fi
echo "passed: $(wc -l <<<"$history") lines of scrollback checked"
