# check-release's installers under wine (sourced), in the checkout's prefix:
# msiexec /i and /x as a user would run them, and what is left after.

wine_prefix=${WXR7305_WINEPREFIX:-$src/build/wine}
msiexec() {  # msiexec /i|/x FILE.msi
  "$src/tools/wine-run" msiexec "$1" "Z:${2//\//\\}" /qn >/dev/null 2>&1
}
program_files() { echo "$wine_prefix/drive_c/Program Files/WXR7305 Upgrade Tool $1"; }
# The uninstall entries' names, one a line.
uninstall_entries() {
  "$src/tools/wine-run" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null \
    | tr -d '\r' | sed -n 's/^ *DisplayName *REG_SZ *\(WXR7305 .*\)/\1/p'
}
left_behind() {  # what the installers left: folders, Start-menu entries, uninstall entries
  find "$wine_prefix/drive_c" -name 'WXR7305 Upgrade Tool*' 2>/dev/null
  uninstall_entries
}
