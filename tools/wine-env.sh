# Sourced by the wine scripts: a private 64-bit prefix per checkout, quiet,
# without the .NET and HTML installers that a fresh prefix would offer.
wxr_repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${WXR7305_WINEPREFIX:-$wxr_repo_root/build/wine}"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Set up completely once this file holds the setup's version; a prefix of an
# older setup is made anew.
wxr_wine_ready="$WINEPREFIX/.wxr7305-ready"
wxr_wine_setup_version=2
wxr_wine=$(command -v wine64 || command -v wine || true)
wxr_wineserver=$(command -v wineserver || true)
if [ -z "$wxr_wineserver" ] && [ -x /usr/lib/wine/wineserver64 ]; then
  wxr_wineserver=/usr/lib/wine/wineserver64
fi
