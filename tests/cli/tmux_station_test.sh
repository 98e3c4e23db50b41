#!/usr/bin/env bash
# The station in a real terminal, typed into a shell in tmux at 80 x 24, as a
# person at a bench sees it:
#  1. upgrade --all over 30 simulated units with Windows-form paths and
#     --port-names, one made silent part-way, one unplugged: each row names
#     its port, the silent one says for how long it has not answered; at the
#     end the recap, the retry command (starting with the program as typed)
#     and the count last; the scrollback holds each result once, no frame of
#     bars and no escape sequence as text.
#  2. --watch with one unit failing: 5 s after its failure the visible screen
#     still names its port.
#  3. A second Ctrl-C: the screen ends with the recap, the retry and the
#     count, and no frame of bars is left in the scrollback.
#   tmux_station_test.sh PROGRAM [LAUNCHER...]   e.g. .../wxr7305.exe tools/wine-run
# Under a launcher (wine) only the first is run. Exits 77 (skipped) when tmux,
# or the launcher, is missing.
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
tmux=(tmux -S "$dir/socket0")
runs=0
trap 'for s in "$dir"/socket*; do tmux -S "$s" kill-server 2>/dev/null; done; rm -rf "$dir"' EXIT
# A bound for a hung command, not a speed target: wine's first start alone takes seconds.
wait_limit_s=300

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

units=30
for ((i = 1; i <= units; i++)); do echo "sim-usb-1.$i = Port $i"; done >"$dir/ports.txt"
windows_paths=
for ((i = 0; i < units; i++)); do
  windows_paths+=$(printf ',%d:path=\\\\?\\hid#vid_1209&pid_7305&mi_00#7&2b8a1c3f&0&0000#{4d1e55b2-f16f-11cf-88cb-0011110000%02d}' "$i" "$i")
done

# A fresh shell in a fresh 80 x 24 window; the command typed into it. Each run
# gets a server on its own socket: a new session could reach the old server
# while it is still exiting ("server exited unexpectedly").
start() {
  "${tmux[@]}" kill-server 2>/dev/null
  runs=$((runs + 1))
  tmux=(tmux -S "$dir/socket$runs")
  "${tmux[@]}" -f /dev/null new-session -d -s station -x 80 -y 24 -c "$dir" \
    "env -u NO_COLOR LANG=C.UTF-8 PS1='$ ' bash --norc --noprofile" || { echo "FAILED: tmux did not start"; exit 1; }
  "${tmux[@]}" set-option -t station history-limit 100000 >/dev/null
  local line
  printf -v line '%q ' "${launcher[@]}" "$program" "$@"
  "${tmux[@]}" send-keys -t station "clear; ${line}; echo EXIT=\$?" Enter
}
# -J keeps trailing blanks: they are dropped here.
screen() { "${tmux[@]}" capture-pane -p -J -t station | unwrap | sed 's/ *$//'; }
history() { "${tmux[@]}" capture-pane -p -J -S - -t station | unwrap | sed 's/ *$//'; }
# Waits until the visible screen matches the pattern; false past the limit.
wait_for() {
  for ((waited = 0; waited < wait_limit_s * 10; waited++)); do
    screen | grep -Eq "$1" && return 0
    sleep 0.1
  done
  return 1
}
# Lines wine's console broke at the right edge itself joined again, as -J joins tmux's own.
unwrap() {
  if [ ${#launcher[@]} -eq 0 ]; then cat; return; fi
  awk '{ line = line $0 } length($0) != 80 { print line; line = "" } END { if (line != "") print line }'
}
no_frames_left() {
  local bars escapes
  bars=$(grep -Ec 'writing [0-9]+ %|\[[#.]{8,}\]' <<<"$1")
  [ "$bars" = 0 ] || fail "$2: $bars lines of bars left in the scrollback"
  escapes=$(grep -Ec $'\x1b|\\[[0-9;?]*[ABCDJKmhl]' <<<"$1")
  [ "$escapes" = 0 ] || fail "$2: $escapes lines show escape sequences as text"
}

# 1. --all: rows named by port, a state word with seconds, the ending.
start upgrade --all --port-names ports.txt \
  "--simulate=devices=$units,busy=3,no-answer-ms=5000,4:silent-after=900,7:unplug-after=3000$windows_paths"
native=$([ ${#launcher[@]} -eq 0 ] && echo yes)
if [ -n "$native" ]; then
  wait_for '^Port 5 +no answer for [0-9]+ s \(gives up at 10 s\)' || fail "the silent unit's row never said how long it was silent"
  running=$(screen)
  grep -Eq '^Port [0-9]+ +(writing [0-9]+ %|querying|finishing|no answer)' <<<"$running" || fail "no row named by its port"
  grep -q '4d1e55b2' <<<"$running" && fail "a row is named by its Windows path"
fi
wait_for '^EXIT=' || fail "the command did not end"
end=$(screen)
printf '%s\n' "--- the screen at the end of --all:" "$end" "---"
grep -q '^EXIT=4$' <<<"$end" || fail "the command did not end with exit 4"
all=$(history)
# The retry repeats the --simulate of 30 paths: more than a screen, so the recap is looked for above it.
grep -q '^Not written (2 units):$' <<<"$all" || fail "no recap"
if [ -n "$native" ]; then
  grep -Eq '^  [^ ]+ failed +Port 8  \(stopped at block' <<<"$all" || fail "the recap does not name Port 8"
  grep -Eq "^  $(printf '%q' "$program" | sed 's/[.[\*^$]/\\&/g') upgrade .*--device sim-usb-1\.5 --device sim-usb-1\.8\$" <<<"$all" \
    || fail "no retry command starting with the program as typed"
  grep -B1 '^EXIT=' <<<"$end" | head -1 | grep -q '^30 units: 28 written, 2 failed (30 visits)$' || fail "the count is not the last line"
fi
for ((unit = 1; unit <= units; unit++)); do
  want='written|success'
  [ "$unit" = 5 ] || [ "$unit" = 8 ] && want='failed'
  # On a terminal "✓ written  1.56 s  Port N"; where the console takes no cursor moves, the piped "\\?\...  success".
  found=$(grep -Ec "^[^ ]+ ($want) +[0-9.]+ s  Port $unit( |\$)|0000$(printf %02d $((unit - 1)))\}  ($want)  " <<<"$all")
  [ "$found" = 1 ] || fail "Port $unit has $found result lines, not 1"
done
no_frames_left "$all" "--all"

if [ -n "$native" ]; then
  # 2. --watch: a failed unit stays in sight.
  start upgrade --watch --port-names ports.txt "--simulate=devices=$units,version=50,arrive-every=500,2:unplug-after=3000"
  wait_for '^[^ ]+ failed +[0-9.]+ s  Port 3' || fail "Port 3 never failed"
  sleep 5
  later=$(screen)
  grep -Eq '^[^ ]+ Port 3 failed [0-9]+ s ago: replug to retry$' <<<"$later" \
    || { fail "5 s after its failure the screen does not name Port 3"; printf '%s\n' "$later"; }
  wait_for '^EXIT=' || fail "the watch did not end"

  # 3. A second Ctrl-C: the same ending, no frame left behind.
  start upgrade --watch --port-names ports.txt "--simulate=devices=$units,busy=4,version=50"
  wait_for '^Port [0-9]+ +writing [0-9]+ %' || fail "nothing was being written"
  "${tmux[@]}" send-keys -t station C-c
  wait_for 'Ctrl-C again to leave now' || fail "the first Ctrl-C was not told"
  "${tmux[@]}" send-keys -t station C-c
  wait_for '^EXIT=' || fail "the second Ctrl-C did not end the command"
  end=$(screen)
  printf '%s\n' "--- the screen after a second Ctrl-C:" "$end" "---"
  grep -Eq '^  [^ ]+ failed +Port [0-9]+ .*left part-written' <<<"$end" || fail "the recap does not list the part-written units"
  grep -q '^Retry them:$' <<<"$end" || fail "no retry command after a second Ctrl-C"
  grep -B1 '^EXIT=' <<<"$end" | head -1 | grep -Eq '^Interrupted: [0-9]+ units? left part-written; [0-9]+ units?' \
    || fail "the count is not the last line after a second Ctrl-C"
  no_frames_left "$(history)" "a second Ctrl-C"
fi

if [ "$failures" -gt 0 ]; then
  printf '%s\n' "--- the whole scrollback:" "$(history)"
  exit 1
fi
echo "passed"
