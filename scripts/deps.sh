#!/usr/bin/env bash
# Installs the Debian packages that are missing: those of
# scripts/packages-run.txt, and with "test" those of scripts/packages-test.txt
# too and the decimal-comma locale the tests use to prove locale independence.
#   bash scripts/deps.sh [run|test]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
what=${1:-run}
lists=("$here/packages-run.txt")
[ "$what" = test ] && lists+=("$here/packages-test.txt")
mapfile -t wanted < <(cat "${lists[@]}" | grep -v '^\s*#' | grep -v '^\s*$')
missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [ "$what" = test ] && ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
