#!/usr/bin/env bash
# Signs a release's SHA256SUMS with gpg: a detached, armoured signature,
# SHA256SUMS.asc, beside it. Whoever has the public key checks a download
# with `gpg --verify SHA256SUMS.asc SHA256SUMS`, then `sha256sum -c SHA256SUMS`.
#   tools/sign-checksums.sh <release folder> <key id>
set -euo pipefail
folder=$1
key=$2
gpg --batch --yes --local-user "$key" --armor --detach-sign \
  --output "$folder/SHA256SUMS.asc" "$folder/SHA256SUMS"
echo "signed $folder/SHA256SUMS with $key: $folder/SHA256SUMS.asc"
