#!/usr/bin/env bash
# Prints the release's build record, as Debian's .buildinfo would: what the
# artifacts were built from, and every program and library that went into
# them, each by the path the build ran (read from CMake's own record of the
# build, not guessed from PATH), the Debian package that holds it and that
# package's version.
#   tools/build-record.sh <linux build> <windows build> <version>
set -euo pipefail
linux=$1
windows=$2
version=$3

# The Debian package holding `path` as "package version". Where /bin and
# /usr/bin are one folder, dpkg knows a file by one of them.
package_of() {
  local path=$1 found
  for candidate in "$path" "${path/#\/usr\/bin\//\/bin\/}" "${path/#\/bin\//\/usr\/bin\/}"; do
    if found=$(dpkg -S "$candidate" 2> /dev/null); then
      found=${found%%: *}
      found=${found%%, *}
      echo "$found $(dpkg-query -W -f='${Version}' "$found")"
      return
    fi
  done
  echo "no Debian package"
}

# A variable as CMake recorded it for the compiler of `language` in `build`.
compiler_setting() {  # <build> <language> <variable>
  sed -n "s/^set($3 \"\\(.*\\)\")\$/\\1/p" "$1"/CMakeFiles/*/CMake"$2"Compiler.cmake
}
cache_setting() {  # <build> <variable>
  sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"
}

# A program by the path the build named, the file that path leads to where
# it is a link (/usr/bin/g++ is only the name of a compiler), and the package
# holding that file.
tool_line() {  # <what> <path>
  local path=$2 program
  [[ $path == /* ]] || path=$(command -v "$path")
  program=$(readlink -f "$path")
  echo " $1: $path$([ "$program" = "$path" ] || echo " = $program") ($(package_of "$program"))"
}

# A library by the file the compiler links with, before links are followed
# (libstdc++.so is the development package's), ".." taken away.
library_line() {  # <what> <compiler> <file the compiler finds>
  echo " $1: $(package_of "$(realpath -s "$("$2" -print-file-name="$3")")")"
}

linux_cxx=$(compiler_setting "$linux" CXX CMAKE_CXX_COMPILER)
windows_cxx=$(compiler_setting "$windows" CXX CMAKE_CXX_COMPILER)
echo "Source: themeunpack"
echo "Version: $version"
echo "Commit: $(git rev-parse HEAD)"
echo "Source-Date-Epoch: $SOURCE_DATE_EPOCH"
echo "Build-Architecture: $(dpkg --print-architecture)"
echo "Environment: only PATH=$PATH HOME LC_ALL=C TZ=UTC SOURCE_DATE_EPOCH, umask 022"
echo "Linux build:"
tool_line "C++ compiler $("$linux_cxx" -dumpfullversion)" "$linux_cxx"
tool_line linker "$(cache_setting "$linux" CMAKE_LINKER)"
library_line "C++ library" "$linux_cxx" libstdc++.so
tool_line strip "$(cache_setting "$linux" CMAKE_STRIP)"
tool_line objcopy "$(cache_setting "$linux" CMAKE_OBJCOPY)"
tool_line "package dependencies" dpkg-shlibdeps
tool_line "package builder" dpkg-deb
echo "Windows build:"
tool_line "C++ compiler $("$windows_cxx" -dumpfullversion)" "$windows_cxx"
tool_line linker "$(compiler_setting "$windows" CXX CMAKE_LINKER)"
library_line "C++ library" "$windows_cxx" libstdc++.a
library_line "MinGW-w64 runtime" "$windows_cxx" libmingw32.a
echo " MinGW-w64 headers: $(package_of "$(echo '#include <windows.h>' |
  "$windows_cxx" -x c++ -M - | grep -o '/[^ ]*/windows\.h' | head -n 1)")"
tool_line "resource compiler" "$(compiler_setting "$windows" RC CMAKE_RC_COMPILER)"
tool_line strip "$(cache_setting "$windows" CMAKE_STRIP)"
echo "Both:"
tool_line cmake "$(cache_setting "$linux" CMAKE_COMMAND)"
tool_line ninja "$(cache_setting "$linux" CMAKE_MAKE_PROGRAM)"
for tool in git tar gzip zip; do
  tool_line "$tool" "$tool"
done
