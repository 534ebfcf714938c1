#!/usr/bin/env bash
# Builds the release of HEAD twice, from two clones in different folders,
# one under umask 022 and one under umask 077 with Debian's build flags, the
# archivers' option variables and a clang++ first on PATH as `c++` (all of
# which the release must ignore), with SOURCE_DATE_EPOCH unset (so each takes
# the commit's time), and fails unless both folders hold the same files byte
# for byte, and the build record names the compilers that built them. The package built under umask 077 must pass
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
    if [ "${4:-}" = hostile ]; then
      eval "$(dpkg-buildflags --export=sh)"
      export ZIPOPT=-9 ZIP=-0 GZIP=--rsyncable TAR_OPTIONS='--exclude=*.md' XZ_OPT=-0
      mkdir -p "$work/other-compilers"
      for name in c++ g++ cc gcc; do
        ln -sf "$(command -v clang++ || command -v false)" "$work/other-compilers/$name"
      done
      export PATH="$work/other-compilers:$PATH"
    fi
    git clone -q --shared --no-checkout "$source_dir" "$2"
    git -C "$2" checkout -q --detach "$commit"
    env -u SOURCE_DATE_EPOCH "$2/tools/release.sh" "$3" > "$3.log" 2>&1 ||
      { cat "$3.log" >&2; exit 1; }
  )
}
build_release 022 "$work/first" "$work/release-022"
build_release 077 "$work/a/second/clone/deeper" "$work/release-077" hostile

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
record=$(ls "$work/release-077"/*.buildinfo)
if ! grep -q "^ C++ compiler [0-9.]*: /usr/bin/g++ = .* (g++-[0-9]" "$record" ||
  ! grep -q "^ C++ compiler [^:]*: /usr/bin/x86_64-w64-mingw32-g++-posix (g++-mingw-w64" "$record"; then
  fail "the build record does not name the compilers that built the release:
$(cat "$record")"
fi
if grep -qiE "warning|deprecated|no Debian package" "$record"; then
  fail "the build record holds a warning or a tool it cannot place:
$(cat "$record")"
fi
echo "reproducible: two builds of $commit, umask 022 and 077 (ZIPOPT, GZIP, TAR_OPTIONS and Debian's flags set, clang++ as c++ on PATH), are the same byte for byte:"
cat "$work/release-022/SHA256SUMS"

deb=$(ls "$work/release-077"/*.deb)
tags=$(lintian --pedantic -I -E "$deb" 2>&1 | grep -v "running with root privileges" || true)
if echo "$tags" | grep -qE '^[EWP]: |hardening'; then
  fail "lintian --pedantic on the package built under umask 077:
$tags"
fi
echo "lintian --pedantic: no error, warning, pedantic or hardening tag${tags:+ (info: $(echo "$tags" | sed 's/^I: themeunpack: //' | tr '\n' ' '))}"
