#!/usr/bin/env bash
# Prints the project's version, from the one place it is kept: the project()
# line of CMakeLists.txt.
set -euo pipefail
sed -n 's/^project(themeunpack VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../CMakeLists.txt"
