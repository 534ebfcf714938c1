#!/usr/bin/env bash
# Builds the release of the commit checked out into one folder: the Debian
# package, the source tarball, the Windows zip and SHA256SUMS listing them.
#   tools/release.sh <folder>
# Anyone building the same commit gets the same bytes, in any folder and
# under any umask: SOURCE_DATE_EPOCH (the commit's time unless the caller
# sets it) dates every member, the man page and the executable's link time,
# and modes and owners are fixed. The builds are made afresh in a temporary
# folder, so that nothing from an earlier build leaks in.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd -P)
release=$1
cd "$source_dir"
if [ "$(git rev-parse --show-toplevel 2>/dev/null)" != "$source_dir" ]; then
  echo "release: $source_dir is not a git clone; a release is made of a commit of one" >&2
  exit 1
fi
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release: the tree has uncommitted changes; a release is made of a commit" >&2
  exit 1
fi

# The builder's own flags and compilers would change the bytes (or break the
# Windows build, whose linker takes no -z): a release builds with the
# project's settings alone.
unset CFLAGS CXXFLAGS CPPFLAGS LDFLAGS RCFLAGS CC CXX \
  CMAKE_TOOLCHAIN_FILE CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER
umask 022
export LC_ALL=C TZ=UTC
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
version=$(tools/project-version.sh)
builds=$(mktemp -d)
trap 'rm -rf "$builds"' EXIT
# The folder is the release's alone: what an earlier release put there is
# replaced, and anything else is a reason to stop, never to delete.
if [ -e "$release" ]; then
  for existing in "$release"/* "$release"/.[!.]*; do
    [ -e "$existing" ] || continue
    case "$(basename "$existing")" in
      themeunpack_*.deb | themeunpack-*.tar.gz | themeunpack-*-windows-x86_64.zip | \
        themeunpack-*.buildinfo | SHA256SUMS | SHA256SUMS.asc) ;;
      *)
        echo "release: $release holds $(basename "$existing"), which no release made; give an empty or new RELEASE_DIR" >&2
        exit 1
        ;;
    esac
  done
  rm -f "$release"/themeunpack_*.deb "$release"/themeunpack-*.tar.gz \
    "$release"/themeunpack-*-windows-x86_64.zip \
    "$release"/themeunpack-*.buildinfo "$release"/SHA256SUMS \
    "$release"/SHA256SUMS.asc
fi
mkdir -p "$release"
release=$(cd "$release" && pwd)

cmake --preset release -B "$builds/linux" > /dev/null
cmake --build "$builds/linux"
(cd "$builds/linux" && cpack -G DEB > /dev/null)
cp "$builds/linux/themeunpack_${version}_$(dpkg --print-architecture).deb" "$release/"

tools/source-tarball.sh "$release/themeunpack-$version.tar.gz"

cmake --preset windows -B "$builds/windows" > /dev/null
cmake --build "$builds/windows"
tools/pack-windows.sh "$builds/windows" "$version" > /dev/null
cp "$builds/windows/themeunpack-$version-windows-x86_64.zip" "$release/"

# What the artifacts were built from and with, as Debian's .buildinfo records.
{
  echo "Source: themeunpack"
  echo "Version: $version"
  echo "Commit: $(git rev-parse HEAD)"
  echo "Source-Date-Epoch: $SOURCE_DATE_EPOCH"
  echo "Build-Architecture: $(dpkg --print-architecture)"
  echo "Environment: LC_ALL=C TZ=UTC umask 022, no CFLAGS CXXFLAGS CPPFLAGS LDFLAGS CC CXX"
  echo "Tools:"
  for tool in g++ x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-ld cmake ninja \
    dpkg-deb tar gzip; do
    echo " $tool: $("$tool" --version 2>&1 | head -n 1)"
  done
  echo " zip: $(zip -v 2>&1 | sed -n 2p | sed 's/^ *//')"
} > "$release/themeunpack-$version.buildinfo"

(cd "$release" && sha256sum -- *.deb *.tar.gz *.zip *.buildinfo > SHA256SUMS)
# With SIGN set to a key id, SHA256SUMS gets a detached, armoured signature.
if [ -n "${SIGN:-}" ]; then
  tools/sign-checksums.sh "$release" "$SIGN"
fi
echo "release $version (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH) in $release:"
cat "$release/SHA256SUMS"
