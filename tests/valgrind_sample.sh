#!/usr/bin/env bash
# Converts a real exporter model under valgrind's memory checker: any invalid
# read or write, or use of uninitialised memory, fails the test.
set -euo pipefail
exe=$1
data=$2
command -v valgrind >/dev/null || { echo "valgrind is missing: run tools/setup.sh valgrind"; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$data/admesh_cube_minus_sphere.stl" "$dir/STL_Model.stl"
cd "$dir"
valgrind --quiet --error-exitcode=99 --track-origins=yes "$exe" >stdout
grep -q "Number of elements:  m =         168" stdout
cmp <(tail -c +100 input.plt) <(tail -c +100 "$data/admesh_cube_minus_sphere.plt")
echo "valgrind: clean"
