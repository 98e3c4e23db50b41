# The apt repository's side of tools/release (sourced): what a station that
# follows the repository for years relies on. Its Origin never changes (apt
# refuses a repository that changes it), a release that would clash with it
# stops before building, the station package shared by every release is
# versioned by its contents, and a release goes in under a lock, in one rename.
# Uses: repo, origin, src, tmp, and die() from the caller.

readonly kDefaultOrigin=WXR7305
readonly kStation=wxr7305-station

# Holds the repository's lock until the release ends: two releases into one
# repository would each publish a copy lacking the other's packages. (The
# descriptor passes to every program the release runs: gpg's agent, which
# would keep it, is started before, by the key check.)
lock_repository() {
  local lock
  lock=$(dirname "$repo")/.$(basename "$repo").lock
  mkdir -p "$(dirname "$repo")"
  exec {repo_lock_fd}>>"$lock" || die "cannot open the lock $lock"
  if ! flock -n "$repo_lock_fd"; then
    echo "release: waiting for another release into $repo to end"
    flock "$repo_lock_fd"
  fi
}

# The Origin this release writes: the repository's own (a different --origin
# is refused), else --origin, else the default. Never the maintainer's text.
resolve_origin() {
  local release=${repo:+$repo/dists/stable/Release} held=""
  [ -n "$release" ] && [ -f "$release" ] && held=$(sed -n 's/^Origin: //p' "$release")
  if [ -n "$held" ]; then
    [ -z "$origin" ] || [ "$origin" = "$held" ] \
      || die "the repository's Origin is '$held'; stations that follow it refuse another: leave out --origin or give that"
    origin=$held
  fi
  origin=${origin:-$kDefaultOrigin}
}

# Refuses, before any build, a package the repository already holds under the
# version this release would give it: a version never changes contents.
check_clashes() {  # check_clashes VERSION PACKAGE...
  local version=$1 package
  shift
  [ -n "$repo" ] && [ -d "$repo/pool" ] || return 0
  for package in "$@"; do
    compgen -G "$repo/pool/main/${package:0:1}/$package/${package}_${version}_*.deb" >/dev/null \
      && die "the repository already holds $package $version; release this firmware under a new version"
  done
  return 0
}

# What a station package holds, apart from its version, maintainer and dates.
station_contents() {  # station_contents DEB: prints a hash
  local dir
  dir=$(mktemp -d "$tmp/station.XXXXXX")
  dpkg-deb -R "$1" "$dir"
  rm -f "$dir/usr/share/doc/$kStation/changelog.gz" "$dir/DEBIAN/md5sums"
  sed -i -e '/^Version:/d' -e '/^Maintainer:/d' -e '/^Installed-Size:/d' "$dir/DEBIAN/control"
  (cd "$dir" && find . -type f | LC_ALL=C sort | xargs sha256sum) | sha256sum | cut -c1-64
  rm -rf "$dir"
}

# The station package of this release into STAGE, its file name printed: the
# repository's own when it holds the same contents, else a new one whose
# version (TOOL+sN) sorts after every station the repository holds.
station_package() {  # station_package STAGE TOOL_VERSION MAINTAINER
  local stage=$1 tool=$2 maintainer=$3 probe held contents number=0 n
  mkdir -p "$stage/station-probe"
  probe=$("$src/dist/linux/station/build-deb" "$stage/station-probe" "$tool" "$maintainer")
  contents=$(station_contents "$stage/station-probe/$probe")
  if [ -n "$repo" ] && [ -d "$repo/pool/main/w/$kStation" ]; then
    for held in "$repo/pool/main/w/$kStation"/*.deb; do
      [ -e "$held" ] || continue
      if [ "$(station_contents "$held")" = "$contents" ]; then
        cp "$held" "$stage/"
        basename "$held"
        return 0
      fi
      n=$(dpkg-deb -f "$held" Version | sed -n "s/^${tool//./\\.}+s\\([0-9]*\\)$/\\1/p")
      [ -z "$n" ] || [ "$n" -le "$number" ] || number=$n
    done
  fi
  "$src/dist/linux/station/build-deb" "$stage" "$tool+s$((number + 1))" "$maintainer"
}

# Puts NEW at PLACE in one rename: renameat2's RENAME_EXCHANGE swaps the two
# folders, so that PLACE is never absent nor half-made; the old one goes after.
publish() {  # publish NEW PLACE
  if [ -e "$2" ]; then
    perl -e 'require "syscall.ph"; my $AT_FDCWD = -100; my $RENAME_EXCHANGE = 2;
             syscall(&SYS_renameat2, $AT_FDCWD, $ARGV[0], $AT_FDCWD, $ARGV[1], $RENAME_EXCHANGE) == 0
               or die "cannot swap $ARGV[0] and $ARGV[1]: $!\n";' "$1" "$2" || die "cannot publish $2"
    rm -rf -- "$1"
  else
    mv -T -- "$1" "$2"
  fi
}
