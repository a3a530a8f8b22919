#!/usr/bin/env bash
# Gives Windows binaries and packages an Authenticode signature, in place, with
# osslsigncode, when the release is handed a certificate and its key through
# the environment (never kept in the repository):
#   WEBCORVANE_SIGN_CERT       the certificate, PEM (with its chain) or DER
#   WEBCORVANE_SIGN_KEY        its private key
#   WEBCORVANE_SIGN_PASS_FILE  optional: a file holding the key's password
#   WEBCORVANE_SIGN_TIMESTAMP  optional: the URL of an RFC 3161 time-stamp server
# Without a certificate the files stay unsigned, and it says so.
#
# usage: sign.sh FILE...
set -euo pipefail

cert=${WEBCORVANE_SIGN_CERT:-}
key=${WEBCORVANE_SIGN_KEY:-}
if [ -z "$cert" ] && [ -z "$key" ]; then
  for f in "$@"; do
    echo "sign: UNSIGNED $f (WEBCORVANE_SIGN_CERT and WEBCORVANE_SIGN_KEY are not set)" >&2
  done
  exit 0
fi
if [ -z "$cert" ] || [ -z "$key" ]; then
  echo "sign: WEBCORVANE_SIGN_CERT and WEBCORVANE_SIGN_KEY are given together or not at all" >&2
  exit 1
fi

options=(-certs "$cert" -key "$key")
[ -n "${WEBCORVANE_SIGN_PASS_FILE:-}" ] && options+=(-readpass "$WEBCORVANE_SIGN_PASS_FILE")
[ -n "${WEBCORVANE_SIGN_TIMESTAMP:-}" ] && options+=(-ts "$WEBCORVANE_SIGN_TIMESTAMP")

f=
trap '[ -z "$f" ] || rm -f "$f.sha1" "$f.signed"' EXIT
for f in "$@"; do
  # SHA-1 first, for Windows XP before SP3, which knows no other; SHA-256
  # nested beside it for everything later.
  osslsigncode sign "${options[@]}" -h sha1 -n WebCorvaneBHO -in "$f" -out "$f.sha1" >/dev/null
  osslsigncode sign "${options[@]}" -h sha256 -n WebCorvaneBHO -nest -in "$f.sha1" -out "$f.signed" >/dev/null
  mv "$f.signed" "$f"
  rm -f "$f.sha1"
  echo "sign: signed $f" >&2
done
