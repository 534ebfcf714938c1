#!/usr/bin/env bash
# Signs a SHA256SUMS with a throwaway key in a temporary GNUPGHOME, as
# `make release SIGN=KEYID` does, and checks that the signature verifies and
# that a changed SHA256SUMS fails to.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
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
