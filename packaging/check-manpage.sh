#!/bin/sh
# check-manpage.sh PROGRAM PAGE: the long options PROGRAM --help names and
# those in the OPTIONS section of the manual page PAGE must be the same.
set -eu
prog=$1
page=$2
tmp=$(mktemp -d "${TMPDIR:-/tmp}/zrq-man.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

"$prog" --help >"$tmp/help" 2>&1 || { echo "$prog --help failed:"; cat "$tmp/help"; exit 1; }
grep -o -e '--[a-z][a-z0-9-]*' "$tmp/help" | sort -u >"$tmp/help.opts"
sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$page" | sed 's/\\-/-/g' |
  grep -o -e '--[a-z][a-z0-9-]*' | sort -u >"$tmp/man.opts"

if [ ! -s "$tmp/help.opts" ]; then
  echo "$prog --help names no option"; exit 1
fi
if ! cmp -s "$tmp/help.opts" "$tmp/man.opts"; then
  echo "--help of $prog and $page disagree (< only in --help, > only in the page):"
  diff "$tmp/help.opts" "$tmp/man.opts" | grep '^[<>]'
  exit 1
fi
# The page itself must format without warnings.
if command -v man >/dev/null 2>&1; then
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null || true)
  if [ -n "$warnings" ]; then
    echo "$page: $warnings"; exit 1
  fi
fi
echo "$(wc -l <"$tmp/help.opts") options agree between $prog --help and $page"
