#!/usr/bin/env bash
# Packs the Windows build into themeunpack-VERSION-windows-x86_64.zip: the
# stripped executable, the Windows README (naming the version) and the
# licence, both with CR LF line ends so that Notepad shows them as meant.
#   tools/pack-windows.sh <windows build directory> <version>
# Members are sorted by name, with fixed modes and, where SOURCE_DATE_EPOCH
# is set, that time, so that a release build gives the same zip every time.
set -euo pipefail
build=$1
version=$2
source_dir=$(cd "$(dirname "$0")/.." && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

x86_64-w64-mingw32-strip -o "$stage/themeunpack.exe" "$build/themeunpack.exe"
sed -e "s/@PROJECT_VERSION@/$version/" -e 's/$/\r/' \
  "$source_dir/doc/README-windows.txt" > "$stage/README.txt"
sed 's/$/\r/' "$source_dir/LICENSE" > "$stage/LICENSE.txt"
chmod 0755 "$stage/themeunpack.exe"
chmod 0644 "$stage/README.txt" "$stage/LICENSE.txt"
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  touch -d "@$SOURCE_DATE_EPOCH" "$stage"/*
fi
zip_path="$(cd "$build" && pwd)/themeunpack-$version-windows-x86_64.zip"
rm -f "$zip_path"
# zip keeps local times: UTC, so the builder's time zone does not show.
(cd "$stage" && TZ=UTC zip -q -X "$zip_path" LICENSE.txt README.txt themeunpack.exe)
echo "made $zip_path"
