#!/usr/bin/env bash
# Names the Debian package that holds the sanitizer and libFuzzer runtime for
# the clang on this machine: libclang-rt-N-dev for clang N, or, on releases
# that package it with the compiler's headers, libclang-common-N-dev.
set -euo pipefail
major=$(clang --version | sed -n 's/.*clang version \([0-9][0-9]*\).*/\1/p' | head -n 1)
if [ -z "$major" ]; then
  echo "cannot tell the version of clang" >&2
  exit 1
fi
for package in "libclang-rt-$major-dev" "libclang-common-$major-dev"; do
  if apt-cache show "$package" > /dev/null 2>&1 ||
     dpkg-query -W "$package" > /dev/null 2>&1; then
    echo "$package"
    exit 0
  fi
done
echo "libclang-rt-$major-dev"
