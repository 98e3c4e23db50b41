#!/usr/bin/env bash
# The Windows retry line, pasted into cmd.exe (wine's, run as `cmd /d /s /c
# "LINE"`, which takes the line as typed at the prompt): every word a unit's serial could hold must reach the program
# as exactly that word, and nothing in it may run. PowerShell does not run
# under wine: its line is checked by the unit tests' form only.
#   retry_paste_cmd_test.sh   (from the source tree; needs wine and mingw-w64)
set -uo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
command -v x86_64-w64-mingw32-g++ >/dev/null || { echo "SKIPPED: mingw-w64 is missing"; exit 77; }
command -v wine >/dev/null || command -v wine64 >/dev/null || { echo "SKIPPED: wine is missing"; exit 77; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
x86_64-w64-mingw32-g++ -O1 -static -o "$dir/show-argv.exe" "$root/tests/cli/wine/show_argv.cpp" -lshell32 || exit 1
x86_64-w64-mingw32-g++ -O1 -static -municode -o "$dir/paste.exe" "$root/tests/cli/wine/paste_into_cmd.cpp" || exit 1
g++ -std=c++20 -O1 -I"$root" -o "$dir/print-lines" "$root/tests/cli/wine/print_lines.cpp" "$root/app/cli/shell_words.cpp" || exit 1

hostile=('X"&cd>INJECTED&"Y' "it's" '%OS%' '$(echo INJECTED)' '`id`' 'a b  c' '!OS!' '\\?\hid#vid_1209&pid_7305&mi_00#7&2b8a1c3f&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}'
         'ends\' '‘q’' '“q”' '機種' 'a;b|c<d>e^f' '(x)' 'a,b' '@x' 'PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USB(2)' 'C:\Program Files\x.exe')
failures=0 checked=0
for word in "${hostile[@]}"; do
  mapfile -t lines < <("$dir/print-lines" show-argv.exe upgrade --device "$word")
  cmd_line=
  for line in "${lines[@]}"; do
    case $line in
      "cmd.exe:    ("*) ;;                      # cmd.exe cannot take it: said so
      "cmd.exe:    "*) cmd_line=${line#cmd.exe:    } ;;
      "PowerShell: "*) ;;
      *) cmd_line=$line ;;
    esac
  done
  [[ ${lines[*]} == *'\"'* ]] && { echo "FAILED: \\\" printed for $word"; failures=$((failures + 1)); }
  [ -n "$cmd_line" ] || { echo "cmd.exe form left out (said so) for: $word"; continue; }
  printf '%s' "$cmd_line" >"$dir/line.txt"
  got=$(cd "$dir" && "$root/tools/wine-run" paste.exe line.txt 2>/dev/null | tr '\036' '\n')
  want=$(printf '%s\n' upgrade --device "$word")
  checked=$((checked + 1))
  if [ "$got" != "$want" ] || [ -e "$dir/INJECTED" ]; then
    echo "FAILED: $word"; echo "  line: $cmd_line"; echo "  got:  $(printf '%q ' $got)"
    failures=$((failures + 1))
  fi
done
echo "$checked words pasted into cmd.exe, $failures failures"
[ "$failures" = 0 ]
