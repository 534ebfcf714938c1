#!/usr/bin/env bash
# Packs the committed tree (HEAD, nothing uncommitted) as a source tarball:
#   tools/source-tarball.sh <path of the .tar.gz>
# Members are sorted, owned by root, 0644 or 0755, and dated SOURCE_DATE_EPOCH
# (the commit's time unless the caller sets it), so the same commit always
# gives the same bytes.
set -euo pipefail
# Options the archivers take from the environment would change the bytes, or
# what the tarball holds.
unset TAR_OPTIONS GZIP POSIXLY_CORRECT
output=$1
source_dir=$(cd "$(dirname "$0")/.." && pwd -P)
# An unpacked tarball has no commit to pack.
if [ "$(git -C "$source_dir" rev-parse --show-toplevel 2>/dev/null)" != "$source_dir" ]; then
  echo "dist: $source_dir is not a git clone; the source tarball is made from a commit of one" >&2
  exit 1
fi
version=$("$source_dir/tools/project-version.sh")
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$source_dir" log -1 --format=%ct)}
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

git -C "$source_dir" archive --format=tar --prefix="themeunpack-$version/" HEAD |
  tar -x -C "$stage"
LC_ALL=C tar -c -C "$stage" --sort=name --format=gnu --mtime="@$epoch" \
  --owner=0 --group=0 --numeric-owner --mode='u+rw,go=rX,go-w' \
  "themeunpack-$version" | gzip -9n > "$output"

# The tarball must hold the commit's files, each with the commit's bytes, and
# nothing else: compared by git's own object ids.
check=$(mktemp -d)
trap 'rm -rf "$stage" "$check"' EXIT
mkdir "$check/tree"
tar -xzf "$output" -C "$check/tree"
names=$(cd "$check/tree/themeunpack-$version" && find . -type f -printf '%P\n')
packed=$(cd "$check/tree/themeunpack-$version" &&
  paste <(git hash-object --no-filters --stdin-paths <<< "$names") - <<< "$names" |
  LC_ALL=C sort)
committed=$(git -C "$source_dir" ls-tree -r --format='%(objectname)%x09%(path)' HEAD |
  LC_ALL=C sort)
if [ "$packed" != "$committed" ]; then
  rm -f "$output"
  echo "dist: the tarball does not hold exactly the commit's files; it was removed:" >&2
  diff <(echo "$committed") <(echo "$packed") >&2 || true
  exit 1
fi
