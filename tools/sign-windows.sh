#!/usr/bin/env bash
# Signs a Windows executable in place with Authenticode, as
# `make release WINSIGN=PFX WINSIGN_PASS=FILE` does before the zip is made:
#   tools/sign-windows.sh <file.exe> <certificate and key, .pfx> <file holding its password>
# The password is read from the file, never given on a command line that
# others on the machine could see. SHA-256 digests; no timestamp, which would
# need a timestamping server's answer: the signature then holds as long as the
# certificate does.
set -euo pipefail
exe=$1
pfx=$2
password_file=$3
signed="$exe.signed"
rm -f "$signed"
if ! osslsigncode sign -pkcs12 "$pfx" -readpass "$password_file" -h sha256 \
  -n themeunpack -in "$exe" -out "$signed" > "$signed.log" 2>&1; then
  cat "$signed.log" >&2
  rm -f "$signed" "$signed.log"
  echo "cannot sign $exe with $pfx" >&2
  exit 1
fi
rm -f "$signed.log"
chmod --reference="$exe" "$signed"
mv -f "$signed" "$exe"
