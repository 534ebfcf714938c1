#!/usr/bin/env bash
# Checks what a user installs, after `make build`:
#   - `cmake --install` into a staging directory, under umask 077, puts both
#     binaries, their man pages, the licence and the changelog in place, in
#     directories of mode 0755, and the man pages render without warnings;
#   - the Debian package of the current version passes lintian --pedantic with
#     no error, warning or pedantic tag; the uninstall target then takes away
#     what the install put in place and the directories it made; and (as
#     root, where it is not installed already) `dpkg -i` makes `man
#     themeunpack` and `man themepack` work and `dpkg -r` takes every file
#     away again;
#   - a build configured as if GoogleTest were missing still builds and
#     installs the tool, saying the tests were left out;
#   - the uninstall target follows `cmake --install --prefix`, and removes
#     only what the install put in place, whatever the prefix's name holds.
set -euo pipefail
build=${1:-build}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() { echo "$*" >&2; exit 1; }

# Under umask 077, as some administrators set it: what the install makes must
# still be readable by everyone.
(umask 077 && DESTDIR="$stage/local" cmake --install "$build" --prefix /usr/local > /dev/null)
closed=$(find "$stage/local" -type d ! -perm 0755)
[ -z "$closed" ] || fail "under umask 077 the install made directories others cannot enter:
$closed"
for installed in bin/themeunpack bin/themepack share/man/man1/themeunpack.1.gz \
                 share/man/man1/themepack.1.gz share/doc/themeunpack/copyright \
                 share/doc/themeunpack/changelog.gz; do
  [ -f "$stage/local/usr/local/$installed" ] || fail "cmake --install did not put $installed in place"
done
"$stage/local/usr/local/bin/themeunpack" > /dev/null && fail "the installed binary must fail without arguments"
"$stage/local/usr/local/bin/themepack" > /dev/null && fail "the installed packer must fail without arguments"
echo "install: binaries, man pages, licence and changelog in place"

for page in themeunpack themepack; do
  warnings=$(MANWIDTH=80 man --warnings -l "$stage/local/usr/local/share/man/man1/$page.1.gz" 2>&1 > /dev/null)
  [ -z "$warnings" ] || fail "the man page of $page renders with warnings:
$warnings"
done
echo "man pages: render without warnings"

# Staged outside the build folder, whose path may hold characters cpack takes
# for a pattern (a clone under "a b [c]").
(cd "$build" && cpack -G DEB -B "$stage/package" > /dev/null)
deb="$stage/package/themeunpack_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "cpack did not make $deb"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$deb does not carry version $version"
lintian --pedantic --fail-on error,warning,pedantic "$deb" || fail "lintian reports on $deb"
echo "package: $(basename "$deb") passes lintian --pedantic"

# cpack has just rewritten install_manifest.txt with the package's paths; the
# uninstall target must still take away exactly what the install put in place.
DESTDIR="$stage/local" cmake --build "$build" --target uninstall > /dev/null
left=$(find "$stage/local" -mindepth 1)
[ -z "$left" ] || fail "uninstall left behind what the install made:
$left"
echo "uninstall: every installed file and every directory the install made gone, after cpack too"

if [ "$(id -u)" -ne 0 ] || dpkg-query -W -f='${Status}' themeunpack 2>/dev/null | grep -q "ok installed"; then
  echo "package: install and removal not tried (needs root, and themeunpack not installed)"
else
  dpkg -i "$deb" > /dev/null
  files=$(dpkg -L themeunpack)
  man -w themeunpack > /dev/null || fail "man themeunpack finds no page after dpkg -i"
  man -w themepack > /dev/null || fail "man themepack finds no page after dpkg -i"
  themeunpack > /dev/null && fail "the packaged binary must fail without arguments"
  themepack > /dev/null && fail "the packaged packer must fail without arguments"
  dpkg -r themeunpack > /dev/null
  while IFS= read -r path; do
    [ -d "$path" ] || [ ! -e "$path" ] || fail "dpkg -r left $path behind"
  done <<< "$files"
  echo "package: dpkg -i gives both programs and their pages, dpkg -r removes every file"
fi

# The build folder's path holds a space, brackets, a quote and a letter beyond
# ASCII, as the prefix below does: each is data, never syntax. (A double quote
# there stops CMake's own compiler check before the project is read.)
odd_build="$stage/no gtest [b] 'q' é"
cmake -S "$source_dir" -B "$odd_build" -G Ninja -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  > "$stage/configure.log"
grep -q "GoogleTest not found: the tests were left out" "$stage/configure.log" ||
  fail "a build without GoogleTest does not say the tests were left out"
cmake --build "$odd_build" > /dev/null
DESTDIR="$stage/no-gtest-install" cmake --install "$odd_build" --prefix /usr > /dev/null
[ -x "$stage/no-gtest-install/usr/bin/themeunpack" ] || fail "a build without GoogleTest installs no tool"
echo "without GoogleTest: the tool builds and installs, the tests are left out"
# cpack's own generator takes the staging path for a pattern: in a build
# folder whose path holds brackets it must stop and say so, never make a
# package without the tool.
if (cd "$odd_build" && cpack -G DEB > "$stage/cpack.log" 2>&1); then
  fail "cpack in a build folder whose path holds brackets must refuse"
fi
grep -q "cpack -G DEB -B FOLDER" "$stage/cpack.log" || fail "cpack's refusal does not say what to do"
[ -z "$(find "$odd_build" -maxdepth 1 -name '*.deb')" ] || fail "cpack's refusal left a package"

# A source folder whose path holds a double quote builds, but CMake cannot
# write an install script for it: the configure must say so at once.
quoted_source="$stage/source \"q\""
mkdir "$quoted_source"
git -C "$source_dir" archive HEAD | tar -x -C "$quoted_source"
cmake -S "$quoted_source" -B "$stage/quoted-build" -G Ninja -DBUILD_TESTING=OFF \
  > "$stage/quoted.log" 2>&1 || fail "a source folder with a double quote does not configure"
grep -q "cmake --install will fail before" "$stage/quoted.log" ||
  fail "the configure of a source folder with a double quote does not warn that the install will fail"
echo "source folder with a double quote: the configure warns that the install cannot work"

# The uninstall target follows each install from its build folder wherever
# --prefix sent it (a fresh build folder here, so that no install of the
# user's own is recorded in it): a new prefix goes entirely, a relative one is
# taken from where the install ran, and directories that were there before
# stay with what they hold.
mkdir -p "$stage/shared/share/man/man1" "$stage/shared/share/doc"
echo other > "$stage/shared/share/man/man1/other.1"
cmake --install "$odd_build" --prefix "$stage/new" > /dev/null
(cd "$stage" && timeout 60 cmake --install "$(basename "$odd_build")" --prefix shared > /dev/null) ||
  fail "cmake --install with a relative --prefix did not finish"
[ -x "$stage/shared/bin/themeunpack" ] || fail "a relative --prefix was not taken from where the install ran"
cmake --build "$odd_build" --target uninstall > /dev/null
[ ! -e "$stage/new" ] || fail "uninstall left behind what an install into a new prefix made:
$(find "$stage/new")"
left=$(cd "$stage/shared" && find . | sort)
[ "$left" = "$(printf '%s\n' . ./share ./share/doc ./share/man ./share/man/man1 ./share/man/man1/other.1)" ] ||
  fail "uninstall did not leave exactly what was there before the install:
$left"
said=$(DESTDIR="$stage/nothing" cmake --build "$odd_build" --target uninstall)
grep -q -- "-- No install from .* into DESTDIR $stage/nothing is recorded: nothing removed" <<< "$said" ||
  fail "an uninstall with nothing recorded does not say so:
$said"
echo "uninstall: follows --prefix, absolute or relative, and keeps what was there before"

# A prefix holding a space and glob brackets, a user's file put into every
# directory the install made: the uninstall takes the installed files and the
# directories left empty, and never the user's files. DESTDIR "staged/" at the
# install and "staged" at the uninstall are one place; an install made with a
# DESTDIR is not taken by an uninstall without one.
odd="$stage/p [1]* 'q\" é"
cmake --install "$odd_build" --prefix "$odd" > /dev/null
for made in "$odd" "$odd/bin" "$odd/share/man/man1" "$odd/share/doc/themeunpack"; do
  echo mine > "$made/users-file"
done
cmake --build "$odd_build" --target uninstall > /dev/null
left=$(cd "$odd" && find . -type f | sort)
[ "$left" = "$(printf '%s\n' ./bin/users-file ./share/doc/themeunpack/users-file ./share/man/man1/users-file ./users-file)" ] ||
  fail "uninstall from a prefix with brackets did not leave exactly the user's files:
$left"
DESTDIR="$stage/staged [d] é/" cmake --install "$odd_build" --prefix /usr > /dev/null
cmake --build "$odd_build" --target uninstall > /dev/null
[ -x "$stage/staged [d] é/usr/bin/themeunpack" ] || fail "an uninstall without DESTDIR took a DESTDIR install"
DESTDIR="$stage/staged [d] é" cmake --build "$odd_build" --target uninstall > /dev/null
[ ! -e "$stage/staged [d] é/usr" ] || fail "DESTDIR staged/ and staged are not one place to the uninstall"
for refused in 'a;b|holds a ";"' 'a [b/c]|bracket without its pair'; do
  if cmake --install "$odd_build" --prefix "$stage/${refused%|*}" > "$stage/refused.log" 2>&1; then
    fail "an install into a prefix holding ${refused%|*} must be refused"
  fi
  grep -q "${refused#*|}" "$stage/refused.log" || fail "the refusal of ${refused%|*} does not say why"
  [ -z "$(find "$stage" -maxdepth 1 -name 'a*')" ] ||
    fail "the refused install of ${refused%|*} made $(find "$stage" -maxdepth 1 -name 'a*')"
done
echo "uninstall: the user's files stay in every directory the install made, with brackets and spaces in the prefix; DESTDIR compared as a place; no fallback; ; and an unpaired bracket refused"
