#!/usr/bin/env bash
# Checks what a user installs: `cmake --install` into a staging directory puts
# the binary and the man page in place, the man page renders without warnings,
# and the Debian package holds both. Run after `make build`.
set -euo pipefail
build=${1:-build}
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

DESTDIR="$stage" cmake --install "$build" --prefix /usr/local > /dev/null
for installed in usr/local/bin/themeunpack usr/local/share/man/man1/themeunpack.1; do
  [ -f "$stage/$installed" ] || { echo "cmake --install did not put $installed in place" >&2; exit 1; }
done
"$stage/usr/local/bin/themeunpack" > /dev/null && { echo "the installed binary must fail without arguments" >&2; exit 1; }
echo "install: binary and man page in place"

warnings=$(MANWIDTH=80 man --warnings -l "$stage/usr/local/share/man/man1/themeunpack.1" 2>&1 > /dev/null)
if [ -n "$warnings" ]; then
  echo "the man page renders with warnings:" >&2
  echo "$warnings" >&2
  exit 1
fi
echo "man page: renders without warnings"

(cd "$build" && cpack -G DEB > /dev/null)
deb=$(ls "$build"/themeunpack_*.deb)
listing=$(dpkg-deb -c "$deb")
for packaged in ./usr/bin/themeunpack ./usr/share/man/man1/themeunpack.1; do
  grep -q " $packaged\$" <<< "$listing" || { echo "$deb lacks $packaged" >&2; exit 1; }
done
echo "package: $(basename "$deb") holds the binary and the man page"
