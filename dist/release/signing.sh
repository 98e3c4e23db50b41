# Signing for tools/release (sourced): each key is tried on a small file
# before anything is built, so that an expired key, a missing passphrase or an
# unreachable time-stamp server stops the release at once and says why.
# Uses: gpg_key, gpg_pass_file, sign_cert, sign_key, sign_pass_file,
# timestamp_url, a scratch folder tmp, and die() from the caller.

# gpg with the caller's key and passphrase, never asking anyone.
release_gpg() {
  local pass=()
  [ -z "$gpg_pass_file" ] || pass=(--passphrase-file "$gpg_pass_file")
  gpg --batch --yes --pinentry-mode loopback "${pass[@]}" --local-user "$gpg_key" "$@"
}

# The last line gpg or openssl said, for a one-line reason.
last_words() { grep -v '^\s*$' "$1" | tail -n 1 | sed 's/^gpg: //'; }

check_gpg_key() {
  local validity
  # gpg exits 2 for a key it does not have: under pipefail that would end the
  # release with no word, so the empty answer speaks instead.
  validity=$(gpg --batch --with-colons --list-secret-keys -- "$gpg_key" 2>/dev/null | awk -F: '$1 == "sec" { print $2; exit }' \
             || true)
  [ -n "$validity" ] || die "no secret gpg key '$gpg_key'"
  case "$validity" in
    e) die "the gpg key '$gpg_key' has expired: extend it (gpg --quick-set-expire) or name another" ;;
    r) die "the gpg key '$gpg_key' is revoked" ;;
  esac
  echo probe >"$probe_dir/probe.txt"
  release_gpg --detach-sign --output "$probe_dir/probe.sig" "$probe_dir/probe.txt" 2>"$probe_dir/gpg.log" \
    || die "the gpg key '$gpg_key' cannot sign ($(last_words "$probe_dir/gpg.log"));" \
           "a key with a passphrase needs --gpg-passphrase-file"
}

# osslsigncode's options for the certificate, key, passphrase and time stamp.
authenticode_options() {
  authenticode=(-certs "$sign_cert" -key "$sign_key" -h sha256 -n "WXR7305 Upgrade Tool")
  [ -z "$sign_pass_file" ] || authenticode+=(-readpass "$sign_pass_file")
  [ -z "$timestamp_url" ] || authenticode+=(-ts "$timestamp_url")
}

check_authenticode() {
  local pass=pass:
  [ -z "$sign_pass_file" ] || pass=file:$sign_pass_file
  openssl x509 -in "$sign_cert" -noout 2>/dev/null || die "$sign_cert is no PEM certificate"
  openssl x509 -in "$sign_cert" -noout -checkend 0 >/dev/null \
    || die "the certificate $sign_cert has expired ($(openssl x509 -in "$sign_cert" -noout -enddate))"
  openssl pkey -in "$sign_key" -passin "$pass" -noout 2>/dev/null \
    || die "cannot read the key $sign_key: wrong or missing passphrase (--sign-passphrase-file)?"
  [ "$(openssl x509 -in "$sign_cert" -noout -pubkey)" = \
    "$(openssl pkey -in "$sign_key" -passin "$pass" -pubout)" ] \
    || die "the key $sign_key does not belong to the certificate $sign_cert"
  # A whole signature, time stamp included, on a program as small as can be.
  echo 'int main(void) { return 0; }' >"$probe_dir/probe.c"
  x86_64-w64-mingw32-gcc-posix -o "$probe_dir/probe.exe" "$probe_dir/probe.c" \
    || die "cannot build a program to try the signing key on"
  authenticode_options
  osslsigncode sign "${authenticode[@]}" -in "$probe_dir/probe.exe" -out "$probe_dir/signed.exe" </dev/null \
    >"$probe_dir/sign.log" 2>&1 \
    || die "osslsigncode cannot sign with $sign_cert${timestamp_url:+ and the time-stamp server $timestamp_url}:" \
           "$(last_words "$probe_dir/sign.log")"
}

# Checks every key the release will use; before any build.
check_signing_keys() {
  probe_dir=$tmp/probe
  mkdir -p "$probe_dir"
  [ -z "$gpg_key" ] || check_gpg_key
  [ -z "$sign_cert" ] || check_authenticode
}

authenticode_sign() {  # authenticode_sign FILE: signs FILE (a .exe or .msi) in place
  osslsigncode sign "${authenticode[@]}" -in "$1" -out "$1.signed" </dev/null >"$1.sign.log" 2>&1 \
    || die "signing $(basename "$1") failed: $(last_words "$1.sign.log")"
  rm -f "$1.sign.log"
  mv "$1.signed" "$1"
}

gpg_sign() {  # gpg_sign FILE: FILE.asc, a detached armored signature
  release_gpg --armor --detach-sign --output "$1.asc" "$1" 2>"$1.gpg.log" \
    || die "gpg could not sign $(basename "$1"): $(last_words "$1.gpg.log")"
  rm -f "$1.gpg.log"
}
