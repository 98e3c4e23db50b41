# check-release's keys (sourced): a throwaway gpg home with a signing key
# behind a passphrase and an expired one, an Authenticode certificate whose
# key has a passphrase, and a local RFC 3161 time-stamp server (openssl ts
# behind busybox httpd). stop_keys ends the gpg agent and the server.
#   make_keys DIR: sets GNUPGHOME, tsa_url, and the files under DIR

make_keys() {
  local dir=$1 port
  mkdir -p -m 700 "$dir/gnupg" "$dir/www/cgi-bin"
  export GNUPGHOME=$dir/gnupg
  # No cached passphrase: a key without its passphrase file fails every time.
  printf 'default-cache-ttl 0\nmax-cache-ttl 0\n' >"$GNUPGHOME/gpg-agent.conf"
  echo 'release test passphrase' >"$dir/passphrase"
  gpg --batch --quiet --pinentry-mode loopback --passphrase-file "$dir/passphrase" \
    --quick-generate-key 'Release Test <release@example.org>' ed25519 sign never 2>/dev/null || fail "gpg key"
  gpg --batch --quiet --pinentry-mode loopback --passphrase '' --faked-system-time 20200101T000000 \
    --quick-generate-key 'Expired <expired@example.org>' ed25519 sign 1d 2>/dev/null || fail "expired gpg key"
  openssl req -x509 -newkey rsa:2048 -days 2 -subj '/CN=WXR7305 test vendor' -passout file:"$dir/passphrase" \
    -keyout "$dir/key.pem" -out "$dir/cert.pem" 2>/dev/null || fail "certificate"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Release Test TSA' \
    -addext 'extendedKeyUsage=critical,timeStamping' -keyout "$dir/tsa.key" -out "$dir/tsa.pem" 2>/dev/null || fail "TSA"
  echo 01 >"$dir/tsa-serial"
  printf '%s\n' '[ tsa ]' 'default_tsa = local' '[ local ]' "serial = $dir/tsa-serial" 'crypto_device = builtin' \
    "signer_cert = $dir/tsa.pem" "signer_key = $dir/tsa.key" 'signer_digest = sha256' \
    'default_policy = 1.3.6.1.4.1.99999.1' 'digests = sha256, sha384, sha512' 'accuracy = secs:1' \
    'ess_cert_id_alg = sha256' >"$dir/tsa.cnf"
  printf '%s\n' '#!/bin/sh' 'query=$(mktemp)' 'head -c "$CONTENT_LENGTH" >"$query"' \
    "printf 'Content-Type: application/timestamp-reply\\r\\n\\r\\n'" \
    "openssl ts -reply -config '$dir/tsa.cnf' -queryfile \"\$query\" 2>>'$dir/tsa.log'" 'rm -f "$query"' \
    >"$dir/www/cgi-bin/ts"
  chmod 755 "$dir/www/cgi-bin/ts"
  for port in $((20000 + RANDOM % 20000)) $((20000 + RANDOM % 20000)) $((20000 + RANDOM % 20000)); do
    busybox httpd -f -p "127.0.0.1:$port" -h "$dir/www" &
    tsa_pid=$!
    sleep 0.3
    kill -0 "$tsa_pid" 2>/dev/null && break
  done
  tsa_url=http://127.0.0.1:$port/cgi-bin/ts
}

stop_keys() {
  [ -z "${tsa_pid:-}" ] || kill "$tsa_pid" 2>/dev/null
  [ -z "${GNUPGHOME:-}" ] || gpgconf --kill gpg-agent
}

# An Authenticode signature that verifies, with a time stamp from our server.
check_authenticode() {  # check_authenticode DIR FILE
  local report
  report=$(osslsigncode verify -CAfile "$1/cert.pem" -TSA-CAfile "$1/tsa.pem" -in "$2" 2>&1)
  grep -q '^Signature verification: ok' <<<"$report" && grep -q 'Timestamp Server Signature verification: ok' <<<"$report" \
    || fail "Authenticode of $(basename "$2"): $report"
}
