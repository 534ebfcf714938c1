#!/usr/bin/env bash
# Writes NEWS.md as a Debian changelog, so the package's changelog never
# drifts from the project's own; compressed as Debian installs it where the
# output's name ends in .gz:
#   tools/debian-changelog.sh NEWS.md "Name <address>" changelog.gz|debian/changelog
# A "## VERSION (YYYY-MM-DD)" heading starts an entry (a time in UTC may follow
# the date, "YYYY-MM-DD HH:MM", for a second release on the same day: Debian
# wants each entry newer than the one before); "- " starts an item, and lines
# indented by two spaces continue it.
set -euo pipefail
news=$1
maintainer=$2
output=$3

entry_end() {
  printf '\n -- %s  %s\n' "$maintainer" "$(LC_ALL=C TZ=UTC date -u -R -d "$1")"
}

write_changelog() {
  local date=""
  local line
  while IFS= read -r line; do
    if [[ $line =~ ^##\ ([0-9][0-9.]*)\ \(([0-9-]+( [0-9:]+)?)\)$ ]]; then
      if [ -n "$date" ]; then entry_end "$date" && echo; fi
      printf 'themeunpack (%s) unstable; urgency=medium\n\n' "${BASH_REMATCH[1]}"
      date=${BASH_REMATCH[2]}
    elif [ -z "$date" ]; then
      continue
    elif [[ $line == "- "* ]]; then
      printf '  * %s\n' "${line#- }"
    elif [[ $line == "  "* ]]; then
      printf '    %s\n' "${line#  }"
    fi
  done < "$news"
  if [ -n "$date" ]; then entry_end "$date"; fi
}

if [[ $output == *.gz ]]; then
  write_changelog | gzip -9n > "$output"
else
  write_changelog > "$output"
fi
