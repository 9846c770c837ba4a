#!/usr/bin/env bash
# Fails when a tracked C or C++ file differs from the project's .clang-format
# style; lists the files. Outside a git checkout there is nothing to check.
set -uo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
command -v clang-format >/dev/null || { echo "clang-format is not installed"; exit 1; }
git -C "$repo" rev-parse --is-inside-work-tree >/dev/null 2>&1 || { echo "not a git checkout"; exit 0; }
bad=0
while IFS= read -r -d '' f; do
  [ -f "$repo/$f" ] || continue
  if ! clang-format --dry-run -Werror "$repo/$f" >/dev/null 2>&1; then
    echo "not formatted: $f"
    bad=1
  fi
done < <(git -C "$repo" ls-files -z -- '*.cpp' '*.h' '*.c')
[ "$bad" -eq 0 ] && echo "all files formatted"
exit "$bad"
