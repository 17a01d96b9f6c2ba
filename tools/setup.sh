#!/usr/bin/env bash
# Installs what the build and the tests need, when it is missing (Debian).
#   tools/setup.sh [PACKAGE...]     the build's packages and the ones named
#   tools/setup.sh --clang-format   prints the one clang-format the layout is checked with
set -euo pipefail

# The layout is checked with exactly this clang-format, a version Debian bookworm packages
# (tools/test.sh installs it through this script and refuses any other version): versions lay
# out the same code differently, so an unpinned check passes on one machine and fails on the
# next.
clang_format=clang-format-16
if [ "${1:-}" = --clang-format ]; then
  echo "$clang_format"
  exit 0
fi

packages=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev "$@")
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]} > 0)); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
fi
