# check-release's apt (sourced): apt-get that knows no source but the
# repository given, with its key (signed-by), and installs into this machine.
#   use_repository DIR REPO: lists and cache under DIR; then apt_get ARGS...

use_repository() {
  apt_dir=$1
  rm -rf "$apt_dir"
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/sources.list.d"
  echo "deb [signed-by=$2/wxr7305-archive-keyring.gpg] file:$2 stable main" >"$apt_dir/sources.list"
}

apt_get() {
  apt-get -q -o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts="$apt_dir/sources.list.d" \
    -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache" -o APT::Sandbox::User=root \
    -o DPkg::Lock::Timeout=300 -o APT::Install-Recommends=false "$@"
}

# The installed wxr7305 packages and versions, one "name version" a line.
installed() {
  dpkg-query -W -f='${Package} ${Version} ${Status}\n' 'wxr7305*' 2>/dev/null | sed -n 's/ install ok installed$//p'
}
