# check-release's read of the programs' hardening (sourced), as checksec would
# make it: every ELF position-independent, with a stack protector, fortified
# libc calls, full RELRO, bound at start, and no .comment; every .exe with
# address space randomisation (64-bit), no execution from data and a stack
# protector.

check_elf_hardening() {  # check_elf_hardening FILE...
  # Each read is whole before grep sees it: under pipefail a grep -q that
  # stops early would fail the check on its writer's SIGPIPE.
  local file header programs dynamic symbols others sections
  for file in "$@"; do
    header=$(readelf -hW "$file") programs=$(readelf -lW "$file") dynamic=$(readelf -dW "$file")
    symbols=$(readelf --dyn-syms -W "$file") sections=$(readelf -SW "$file")
    others=$(grep -v __stack_chk_fail <<<"$symbols")
    grep -q 'Type: *DYN' <<<"$header" || fail "$file: not position-independent"
    grep -q GNU_RELRO <<<"$programs" || fail "$file: no RELRO"
    grep -q -e '(BIND_NOW)' -e 'Flags: NOW' <<<"$dynamic" || fail "$file: not bound at start (BIND_NOW)"
    grep -q ' __stack_chk_fail' <<<"$symbols" || fail "$file: no stack protector"
    grep -q ' __[a-z0-9_]*_chk\b' <<<"$others" || fail "$file: no fortified calls"
    grep -q ' \.comment ' <<<"$sections" && fail "$file: has a .comment"
  done
}

check_pe_hardening() {  # check_pe_hardening FILE...
  local file flags
  for file in "$@"; do
    flags=$(x86_64-w64-mingw32-objdump -p "$file")
    for flag in HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT; do
      grep -qw "$flag" <<<"$flags" || fail "$(basename "$file"): no $flag"
    done
    # Stripped: libssp's own message tells that its stack protector is in.
    grep -q 'stack smashing detected' "$file" || fail "$(basename "$file"): no stack protector"
  done
}
