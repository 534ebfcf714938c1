#!/usr/bin/env bash
# Checks the Debian source package as a distribution would take it:
#   - debian/changelog is NEWS.md as a Debian changelog, and debian/control
#     names the maintainer the project's build does;
#   - dpkg-buildpackage -us -uc builds the source and binary packages from
#     the source tarball of HEAD, running the tests;
#   - lintian --pedantic says nothing at all of either;
#   - as root, the autopkgtest passes against the package just built
#     (`autopkgtest ... -- null`, on this machine), which is then removed
#     unless it was installed before.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*" >&2; exit 1; }
cd "$source_dir"

maintainer=$(sed -n 's/^set(MAINTAINER "\(.*\)")$/\1/p' CMakeLists.txt)
grep -qxF "Maintainer: $maintainer" debian/control ||
  fail "debian/control does not name the maintainer CMakeLists.txt does: $maintainer"
tools/debian-changelog.sh NEWS.md "$maintainer" "$work/changelog"
cmp -s "$work/changelog" debian/changelog ||
  fail "debian/changelog is not NEWS.md as a Debian changelog: run make debian/changelog
$(diff debian/changelog "$work/changelog" | head -n 20)"
echo "debian: the changelog is NEWS.md's, the maintainer the build's"

version=$(tools/project-version.sh)
tools/source-tarball.sh "$work/themeunpack-$version.tar.gz"
tar -xzf "$work/themeunpack-$version.tar.gz" -C "$work"
(cd "$work/themeunpack-$version" &&
  DEB_BUILD_OPTIONS="parallel=$(nproc)" dpkg-buildpackage -us -uc > "$work/build.log" 2>&1) ||
  fail "dpkg-buildpackage failed:
$(tail -n 40 "$work/build.log")"
changes="$work/themeunpack_${version}_$(dpkg --print-architecture).changes"
[ -f "$changes" ] || fail "dpkg-buildpackage made no $(basename "$changes")"
grep -q "tests passed" "$work/build.log" || fail "dpkg-buildpackage ran no tests"
echo "debian: dpkg-buildpackage -us -uc built the source and binary packages, and the tests passed"

tags=$(lintian --pedantic -I -E "$changes" 2>&1 | grep -v "running with root privileges" || true)
[ -z "$tags" ] || fail "lintian --pedantic on the source and binary packages:
$tags"
echo "debian: lintian --pedantic has nothing to say of the source and binary packages"

if [ "$(id -u)" -ne 0 ]; then
  echo "debian: the autopkgtest not run (it installs the package: needs root)"
  exit 0
fi
installed_before=$(dpkg-query -W -f='${Status}' themeunpack 2> /dev/null | grep -c "ok installed" || true)
status=0
autopkgtest "$work/themeunpack_${version}_$(dpkg --print-architecture).deb" \
  "$work/themeunpack-$version" -- null > "$work/autopkgtest.log" 2>&1 || status=$?
if [ "$installed_before" -eq 0 ]; then dpkg -r themeunpack > /dev/null 2>&1 || true; fi
[ "$status" -eq 0 ] || fail "the autopkgtest failed:
$(tail -n 40 "$work/autopkgtest.log")"
grep -q "^unpack-and-pack  *PASS" "$work/autopkgtest.log" ||
  fail "the autopkgtest did not pass unpack-and-pack:
$(tail -n 20 "$work/autopkgtest.log")"
echo "debian: the autopkgtest passes against the installed package"
