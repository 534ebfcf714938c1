#!/usr/bin/env bash
# Packs the Windows build into themeunpack-VERSION-windows-x86_64.zip: the
# stripped executable, the Windows README and the licence, both with CR LF
# line ends so that Notepad shows them as meant.
#   tools/pack-windows.sh <windows build directory> <version>
set -euo pipefail
build=$1
version=$2
source_dir=$(cd "$(dirname "$0")/.." && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

x86_64-w64-mingw32-strip -o "$stage/themeunpack.exe" "$build/themeunpack.exe"
sed 's/$/\r/' "$source_dir/doc/README-windows.txt" > "$stage/README.txt"
sed 's/$/\r/' "$source_dir/LICENSE" > "$stage/LICENSE.txt"
zip_path="$(cd "$build" && pwd)/themeunpack-$version-windows-x86_64.zip"
rm -f "$zip_path"
(cd "$stage" && zip -q -X "$zip_path" themeunpack.exe README.txt LICENSE.txt)
echo "made $zip_path"
