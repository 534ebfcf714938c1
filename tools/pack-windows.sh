#!/usr/bin/env bash
# Packs the Windows build into themeunpack-VERSION-windows-x86_64.zip, all in
# one folder of that name: the stripped executables, the Windows README
# (naming the version), the changes for Windows users and the licence, the
# last three with CR LF line ends so that Notepad shows them as meant.
#   tools/pack-windows.sh <windows build directory> <version> [<folder for the zip>]
# With WINSIGN naming a .pfx and WINSIGN_PASS a file holding its password,
# each executable is signed with Authenticode once stripped, before it is
# zipped.
# Members are sorted by name, with fixed modes and, where SOURCE_DATE_EPOCH
# is set, that time, so that a release build gives the same zip every time.
set -euo pipefail
# Options zip takes from the environment would change the bytes.
unset ZIPOPT ZIP
build=$1
version=$2
zip_folder=${3:-$build}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

folder="themeunpack-$version-windows-x86_64"
mkdir "$stage/$folder"
for program in themepack themeunpack; do
  x86_64-w64-mingw32-strip -o "$stage/$folder/$program.exe" "$build/$program.exe"
  if [ -n "${WINSIGN:-}" ]; then
    "$source_dir/tools/sign-windows.sh" "$stage/$folder/$program.exe" "$WINSIGN" \
      "${WINSIGN_PASS:?WINSIGN_PASS must name the file holding the password of $WINSIGN}"
  fi
done
sed -e "s/@PROJECT_VERSION@/$version/" -e 's/$/\r/' \
  "$source_dir/doc/README-windows.txt" > "$stage/$folder/README.txt"
sed 's/$/\r/' "$source_dir/LICENSE" > "$stage/$folder/LICENSE.txt"
# NEWS.txt is the changes written for Windows users, and must speak of this
# version first.
newest=$(grep -m 1 -E '^[0-9]+[.][0-9]+[.][0-9]+$' "$source_dir/doc/NEWS-windows.txt")
if [ "$newest" != "$version" ]; then
  echo "pack-windows: doc/NEWS-windows.txt begins with $newest, not with $version" >&2
  exit 1
fi
sed 's/$/\r/' "$source_dir/doc/NEWS-windows.txt" > "$stage/$folder/NEWS.txt"
chmod 0755 "$stage/$folder"/*.exe
chmod 0644 "$stage/$folder"/*.txt
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  touch -d "@$SOURCE_DATE_EPOCH" "$stage/$folder"/*
fi
zip_path="$(cd "$zip_folder" && pwd)/$folder.zip"
rm -f "$zip_path"
# zip keeps local times: UTC, so the builder's time zone does not show. No
# entry for the folder itself (-D): its members make it, and carry the dates.
(cd "$stage" && TZ=UTC zip -q -X -D "$zip_path" "$folder/LICENSE.txt" \
  "$folder/NEWS.txt" "$folder/README.txt" "$folder/themepack.exe" \
  "$folder/themeunpack.exe")
echo "made $zip_path"
