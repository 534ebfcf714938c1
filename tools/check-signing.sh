#!/usr/bin/env bash
# Signs a SHA256SUMS with a throwaway key in a temporary GNUPGHOME, as
# `make release SIGN=KEYID` does, and checks that the signature verifies and
# that a changed SHA256SUMS fails to. Then packs the Windows build as
# `make release WINSIGN=PFX WINSIGN_PASS=FILE` does, with a throwaway
# self-signed certificate, and checks that both executables in the zip carry
# an Authenticode signature that verifies, and that a changed one fails to.
#   tools/check-signing.sh <windows build directory>
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
windows_build=$(cd "$1" && pwd)
work=$(mktemp -d)
export GNUPGHOME="$work/gnupg"
trap 'gpgconf --kill all > /dev/null 2>&1 || true; rm -rf "$work"' EXIT
mkdir -m 700 "$GNUPGHOME"
fail() { echo "$*" >&2; exit 1; }

gpg --batch --quiet --passphrase '' \
  --quick-gen-key "themeunpack signing check <check@themeunpack.invalid>" \
  ed25519 sign 1d 2> /dev/null
key=$(gpg --batch --list-keys --with-colons 2> /dev/null | awk -F: '/^fpr/ { print $10; exit }')
mkdir "$work/release"
echo "0000000000000000000000000000000000000000000000000000000000000000  themeunpack-0.0.0.tar.gz" \
  > "$work/release/SHA256SUMS"
"$source_dir/tools/sign-checksums.sh" "$work/release" "$key" > /dev/null
[ -s "$work/release/SHA256SUMS.asc" ] || fail "no SHA256SUMS.asc was made"
grep -q -- "-----BEGIN PGP SIGNATURE-----" "$work/release/SHA256SUMS.asc" ||
  fail "SHA256SUMS.asc is not an armoured signature"
gpg --batch --verify "$work/release/SHA256SUMS.asc" "$work/release/SHA256SUMS" 2> /dev/null ||
  fail "the signature does not verify"
sed -i 's/^0/1/' "$work/release/SHA256SUMS"
if gpg --batch --verify "$work/release/SHA256SUMS.asc" "$work/release/SHA256SUMS" 2> /dev/null; then
  fail "a changed SHA256SUMS still verifies"
fi
echo "signing: SHA256SUMS.asc verifies, and fails once SHA256SUMS is changed"

# Authenticode: a self-signed code-signing certificate, its password in a file.
mkdir "$work/authenticode"
cd "$work/authenticode"
echo "throwaway password" > password
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=themeunpack signing check" \
  -addext extendedKeyUsage=codeSigning -keyout key.pem -out certificate.pem 2> /dev/null
openssl pkcs12 -export -inkey key.pem -in certificate.pem -passout file:password \
  -out signing.pfx
mkdir zip unpacked
version=$("$source_dir/tools/project-version.sh")
WINSIGN="$PWD/signing.pfx" WINSIGN_PASS="$PWD/password" \
  "$source_dir/tools/pack-windows.sh" "$windows_build" "$version" zip > /dev/null
unzip -q zip/*.zip -d unpacked
for exe in unpacked/*/themeunpack.exe unpacked/*/themepack.exe; do
  osslsigncode verify -CAfile certificate.pem -in "$exe" > verify.log 2>&1 ||
    fail "the Authenticode signature of $(basename "$exe") does not verify:
$(cat verify.log)"
done
exe=$(echo unpacked/*/themeunpack.exe)
# One byte of the code section changed (well past the headers the signature
# leaves out of its digest).
printf 'X' | dd of="$exe" bs=1 seek=4096 conv=notrunc status=none
if osslsigncode verify -CAfile certificate.pem -in "$exe" > verify.log 2>&1; then
  fail "a changed themeunpack.exe still verifies"
fi
echo "signing: both executables in the zip carry an Authenticode signature that verifies, and fails once changed"
