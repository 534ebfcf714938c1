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
# The whole release runs in an environment of its own: nothing of the
# builder's reaches a compiler or a packer (ZIPOPT, GZIP, TAR_OPTIONS,
# CFLAGS, a `c++` early on PATH, a git setting that changes line ends...).
# What it keeps: where the gpg keys are and the terminal to ask a key's
# passphrase on, and what the caller asked for.
if [ -z "${THEMEUNPACK_RELEASE_ENVIRONMENT:-}" ]; then
  kept=(THEMEUNPACK_RELEASE_ENVIRONMENT=1 PATH=/usr/sbin:/usr/bin:/sbin:/bin
    "HOME=$HOME" LC_ALL=C TZ=UTC GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=/dev/null)
  for name in SOURCE_DATE_EPOCH SIGN GNUPGHOME GPG_TTY WINSIGN WINSIGN_PASS; do
    if [ -n "${!name:-}" ]; then kept+=("$name=${!name}"); fi
  done
  exec env -i "${kept[@]}" "$0" "$@"
fi
source_dir=$(cd "$(dirname "$0")/.." && pwd -P)
release=$1
# The certificate and its password file are named from where make ran.
for name in WINSIGN WINSIGN_PASS; do
  if [ -n "${!name:-}" ]; then
    [ -f "${!name}" ] || { echo "release: $name names no file: ${!name}" >&2; exit 1; }
    declare "$name=$(realpath -- "${!name}")"
  fi
done
cd "$source_dir"
if [ "$(git rev-parse --show-toplevel 2>/dev/null)" != "$source_dir" ]; then
  echo "release: $source_dir is not a git clone; a release is made of a commit of one" >&2
  exit 1
fi
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release: the tree has uncommitted changes; a release is made of a commit" >&2
  exit 1
fi

umask 022
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

# The compilers by their full paths: /usr/bin/c++ may be any compiler the
# machine's alternatives name.
cmake --preset release -B "$builds/linux" -DCMAKE_CXX_COMPILER=/usr/bin/g++ > /dev/null
cmake --build "$builds/linux"
(cd "$builds/linux" && cpack -G DEB > /dev/null)
cp "$builds/linux/themeunpack_${version}_$(dpkg --print-architecture).deb" "$release/"

tools/source-tarball.sh "$release/themeunpack-$version.tar.gz"

cmake --preset windows -B "$builds/windows" > /dev/null
cmake --build "$builds/windows"
tools/pack-windows.sh "$builds/windows" "$version" > /dev/null
cp "$builds/windows/themeunpack-$version-windows-x86_64.zip" "$release/"

tools/build-record.sh "$builds/linux" "$builds/windows" "$version" \
  > "$release/themeunpack-$version.buildinfo"

(cd "$release" && sha256sum -- *.deb *.tar.gz *.zip *.buildinfo > SHA256SUMS)
# With SIGN set to a key id, SHA256SUMS gets a detached, armoured signature.
if [ -n "${SIGN:-}" ]; then
  tools/sign-checksums.sh "$release" "$SIGN"
fi
echo "release $version (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH) in $release:"
cat "$release/SHA256SUMS"
