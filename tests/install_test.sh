#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the installed commands
# on the sample model; checks that the manual pages render without a
# warning, and that the Debian package holds the commands and their pages.
#
# Usage: tests/install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
export LC_ALL=C.UTF-8

build=$(cd "${1:?build folder}" && pwd)
source=$(cd "${2:?source folder}" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/stldeck-install-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

for file in bin/stldeck bin/stldeck-check bin/stldeck-prepare bin/stldeck-deck; do
  [[ -x $prefix/$file ]] || fail "$file is not installed as a program"
done
for page in stldeck stldeck-check stldeck-prepare stldeck-deck; do
  [[ -f $prefix/share/man/man1/$page.1 ]] || fail "share/man/man1/$page.1 is not installed"
done

# The converter on the sample model: four console lines and both files at
# their exact sizes (576 facets).
work=$scratch/work
mkdir "$work"
cp "$source/examples/STL_Model.stl" "$work/"
status=0
(cd "$work" && "$prefix/bin/stldeck" >console.txt 2>errors.txt) || status=$?
[[ $status == 0 ]] || fail "stldeck exited with $status: $(cat "$work/errors.txt")"
[[ $(wc -l <"$work/console.txt") == 4 ]] || fail "stldeck printed: $(cat "$work/console.txt")"
grep -q "m =         576" "$work/console.txt" || fail "stldeck did not count 576 elements"
[[ $(stat -c %s "$work/input.dat") == $((998 + 330 * 576)) ]] || fail "input.dat has the wrong size"
[[ $(stat -c %s "$work/input.plt") == $((179 + 188 * 576)) ]] || fail "input.plt has the wrong size"

# The check on the sample model: a closed torus, too coarse for 54.59 Hz,
# fine enough below 3.55 Hz.
status=0
(cd "$work" && "$prefix/bin/stldeck-check" --json >check.json 2>errors.txt) || status=$?
[[ $status == 1 ]] || fail "stldeck-check --json exited with $status, expected 1 (coarse)"
for expected in '"format": "ascii"' '"facets": 576' '"converter_report": 0' '"open_edges": 0' \
  '"misoriented_edges": 0' '"shells": 1' '"normals": "outward"' \
  '"max_frequency": 3.5528066704475005' '"ready": false'; do
  grep -qF "$expected" "$work/check.json" || fail "stldeck-check --json lacks $expected"
done
status=0
"$prefix/bin/stldeck-check" --frequency 3 "$work/STL_Model.stl" >"$work/summary.txt" || status=$?
[[ $status == 0 ]] || fail "stldeck-check --frequency 3 exited with $status, expected 0"
grep -q ": ready for the solver$" "$work/summary.txt" || fail "summary: $(cat "$work/summary.txt")"
status=0
"$prefix/bin/stldeck-check" "$work/no-such.stl" 2>"$work/errors.txt" || status=$?
[[ $status == 2 && $(wc -l <"$work/errors.txt") == 1 ]] ||
  fail "a missing file gave status $status and: $(cat "$work/errors.txt")"

# The preparation on the sample model turned inside out: written outward
# and refined by bisection, and the check then finds it ready.
status=0
awk '/^  facet /{n=0} /^      vertex /{v[n++]=$0; if (n==3) {print v[0]; print v[2]; print v[1]}; next} {print}' \
  "$source/examples/STL_Model.stl" >"$work/inward.stl"
(cd "$work" && "$prefix/bin/stldeck-prepare" --json --refine-only inward.stl prepared.stl >prepare.json 2>errors.txt) ||
  status=$?
[[ $status == 0 ]] || fail "stldeck-prepare exited with $status: $(cat "$work/errors.txt")"
for expected in '"flipped_facets": 576' '"shells_turned_outward": 1' '"facets": 101376' \
  '"ready": true'; do
  grep -qF "$expected" "$work/prepare.json" || fail "stldeck-prepare --json lacks $expected"
done
status=0
"$prefix/bin/stldeck-check" "$work/prepared.stl" >"$work/summary.txt" || status=$?
[[ $status == 0 ]] || fail "stldeck-check on the prepared model exited with $status"

# The deck of the prepared model set for 20 frequencies up to 2 kHz: in
# place, the size kept, and the installed deck command then finds it whole,
# its view the same model, and the torus refined for 54.59 Hz too coarse
# for 2 kHz.
cp "$work/prepared.stl" "$work/STL_Model.stl"
(cd "$work" && "$prefix/bin/stldeck" >console.txt 2>errors.txt) ||
  fail "stldeck on the prepared model: $(cat "$work/errors.txt")"
size_before=$(stat -c %s "$work/input.dat")
status=0
(cd "$work" && "$prefix/bin/stldeck-deck" --frequencies 100:2000:20 >set.txt 2>errors.txt) ||
  status=$?
[[ $status == 0 ]] || fail "stldeck-deck --frequencies exited with $status: $(cat "$work/errors.txt")"
[[ $(stat -c %s "$work/input.dat") == "$size_before" ]] || fail "stldeck-deck changed the deck's size"
sed -n 8p "$work/input.dat" | grep -q "^    100.00   2000.00  20     0      0 ! Freq1" ||
  fail "record 8 after the setting: $(sed -n 8p "$work/input.dat")"
status=0
(cd "$work" && "$prefix/bin/stldeck-deck" --json >deck.json 2>errors.txt) || status=$?
[[ $status == 1 ]] || fail "stldeck-deck --json exited with $status, expected 1 (coarse for 2 kHz)"
for expected in '"elements": 101376' '"freq2": 2000' '"frequencies": 20' '"whole": true' \
  '"view_matches": true' '"ready": false'; do
  grep -qF "$expected" "$work/deck.json" || fail "stldeck-deck --json lacks $expected"
done

# The manual pages render without a warning.
if command -v man >/dev/null; then
  for page in stldeck stldeck-check stldeck-prepare stldeck-deck; do
    warnings=$(MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "man --warnings on $page.1: $warnings"
    MANWIDTH=80 man -l "$prefix/share/man/man1/$page.1" 2>/dev/null | grep -q "EXIT STATUS" ||
      fail "$page.1 does not render"
  done
else
  fail "man is missing: tools/setup.sh man-db installs it"
fi

# The Debian package holds the commands and their pages.
if command -v dpkg-deb >/dev/null; then
  (cd "$scratch" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/package" \
    >"$scratch/cpack.log" 2>&1) || fail "cpack failed: $(tail -n 20 "$scratch/cpack.log")"
  package=$(ls "$scratch"/package/stldeck_1.0.0_*.deb 2>/dev/null | head -n 1)
  if [[ -z $package ]]; then
    fail "cpack made no stldeck_1.0.0 package"
  else
    contents=$(dpkg-deb -c "$package")
    for file in usr/bin/stldeck usr/bin/stldeck-check usr/bin/stldeck-prepare \
      usr/bin/stldeck-deck usr/share/man/man1/stldeck.1 usr/share/man/man1/stldeck-check.1 \
      usr/share/man/man1/stldeck-prepare.1 usr/share/man/man1/stldeck-deck.1; do
      grep -q " \./$file\$" <<<"$contents" || fail "the package lacks /$file"
    done
    [[ $(dpkg-deb -f "$package" Version) == 1.0.0 ]] || fail "the package version is not 1.0.0"
    [[ -n $(dpkg-deb -f "$package" Maintainer) ]] || fail "the package names no maintainer"
  fi
fi

if ((failures > 0)); then
  echo "$failures failures" >&2
  exit 1
fi
echo "install test: passed"
