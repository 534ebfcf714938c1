#!/usr/bin/env bash
# Builds the release of HEAD twice, from two clones in different folders,
# one under umask 022 and one under umask 077 with Debian's build flags
# exported (which the release must ignore), with SOURCE_DATE_EPOCH unset (so
# each takes the commit's time), and fails unless both folders hold the same
# files byte for byte. The package built under umask 077 must pass
# lintian --pedantic with no error, warning, pedantic or hardening tag.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$source_dir" rev-parse HEAD)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*" >&2; exit 1; }

build_release() {  # <umask> <clone folder> <release folder> [flags]
  (
    umask "$1"
    if [ "${4:-}" = debian-flags ]; then eval "$(dpkg-buildflags --export=sh)"; fi
    git clone -q --shared --no-checkout "$source_dir" "$2"
    git -C "$2" checkout -q --detach "$commit"
    env -u SOURCE_DATE_EPOCH "$2/tools/release.sh" "$3" > "$3.log" 2>&1 ||
      { cat "$3.log" >&2; exit 1; }
  )
}
build_release 022 "$work/first" "$work/release-022"
build_release 077 "$work/a/second/clone/deeper" "$work/release-077" debian-flags

listing() { (cd "$1" && find . -type f | sort); }
[ "$(listing "$work/release-022")" = "$(listing "$work/release-077")" ] ||
  fail "the two releases hold different files:
$(diff <(listing "$work/release-022") <(listing "$work/release-077"))"
differ=0
while IFS= read -r file; do
  if ! cmp -s "$work/release-022/$file" "$work/release-077/$file"; then
    echo "differs between the two builds: ${file#./}" >&2
    differ=1
  fi
done < <(listing "$work/release-022")
[ "$differ" -eq 0 ] || fail "the release is not reproducible"
for artifact in deb tar.gz zip buildinfo; do
  grep -q "\.$artifact\$" "$work/release-022/SHA256SUMS" ||
    fail "SHA256SUMS lists no .$artifact"
done
(cd "$work/release-022" && sha256sum --quiet -c SHA256SUMS) ||
  fail "SHA256SUMS does not match the files beside it"
echo "reproducible: two builds of $commit, umask 022 and 077, are the same byte for byte:"
cat "$work/release-022/SHA256SUMS"

deb=$(ls "$work/release-077"/*.deb)
tags=$(lintian --pedantic -I -E "$deb" 2>&1 | grep -v "running with root privileges" || true)
if echo "$tags" | grep -qE '^[EWP]: |hardening'; then
  fail "lintian --pedantic on the package built under umask 077:
$tags"
fi
echo "lintian --pedantic: no error, warning, pedantic or hardening tag${tags:+ (info: $(echo "$tags" | sed 's/^I: themeunpack: //' | tr '\n' ' '))}"
