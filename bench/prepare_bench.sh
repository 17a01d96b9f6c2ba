#!/usr/bin/env bash
# The model preparation's two figures, each on generated models:
# 1. Without refinement, at 1,666,666 facets, against the conversion of the
#    same model: alternating runs (prepare, conversion, prepare, ... after
#    one warm-up of each), the median of the run-by-run ratio, and the
#    preparation's peak memory. Targets: at most 3 times the conversion,
#    at most 512 MiB.
# 2. Refining the sample torus, written as binary STL the way CAD programs
#    export, to about 3,000,000 facets (265.5 Hz): the median time over the
#    runs and the peak memory. Targets: at most 10 s, at most 1 GiB.
# 3. Refusing to bisect a 12-facet box with edges of 1e300 (far beyond the
#    converter's limit), the refusal naming the highest frequency that fits:
#    the median time over the runs. Target: at most 0.5 s.
#
# Usage: bench/prepare_bench.sh [--facets N] [--runs N] [--scratch DIR]
# Defaults: 1,666,666 facets, 5 runs, build-bench/scratch-prepare.
# The machine may be shared: the spread of the runs says how noisy it was.
set -euo pipefail
export LC_ALL=C

cd "$(dirname "$0")/.."
root=$(pwd)

facets=1666666
runs=5
scratch=build-bench/scratch-prepare
while (($# > 0)); do
  case $1 in
    --facets) facets=${2:?--facets needs a number}; shift 2 ;;
    --runs) runs=${2:?--runs needs a number}; shift 2 ;;
    --scratch) scratch=${2:?--scratch needs a folder}; shift 2 ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "prepare_bench.sh: unknown option '$1' (try --help)" >&2; exit 2 ;;
  esac
done
[[ $facets =~ ^[0-9]+$ && $runs =~ ^[0-9]+$ ]] && ((runs >= 1)) ||
  { echo "prepare_bench.sh: --facets and --runs take whole numbers" >&2; exit 2; }

fail() {
  echo "prepare_bench.sh: FAILED: $*" >&2
  exit 1
}

echo "== Building the Release commands in build-bench/"
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DSTLDECK_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target stldeck stldeck-prepare make_model >/dev/null
converter=$root/build-bench/stldeck
preparer=$root/build-bench/stldeck-prepare
[[ -x /usr/bin/time ]] || fail "/usr/bin/time is missing (Debian package time)"

mkdir -p "$scratch"
cd "$scratch"
echo "== Generating a model of $facets facets"
"$root/build-bench/make_model" "$facets" STL_Model.stl
cp STL_Model.stl model.stl

settle() { sync -f . 2>/dev/null || sync; }
now_us() { local -n out=$1; out=${EPOCHREALTIME//[.,]/}; }
seconds() { awk -v v="$1" 'BEGIN { printf "%.3f", v / 1e6 }'; }
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Sets elapsed_us; checks that the run wrote what it should.
time_prepare() {
  local t0 t1 status=0 expected=$1
  shift
  rm -f prepared.stl
  settle
  now_us t0
  "$preparer" --json "$@" prepared.stl >prepare.json 2>errors.txt || status=$?
  now_us t1
  elapsed_us=$((t1 - t0))
  ((status <= 1)) || fail "stldeck-prepare exited with $status: $(cat errors.txt)"
  grep -q "\"facets\": $expected," prepare.json ||
    fail "stldeck-prepare wrote $(grep '"facets"' prepare.json), expected $expected"
}
time_conversion() {
  local t0 t1 status=0
  rm -f input.dat input.plt
  settle
  now_us t0
  "$converter" >console.txt 2>errors.txt || status=$?
  now_us t1
  elapsed_us=$((t1 - t0))
  ((status == 0)) || fail "stldeck exited with $status: $(cat errors.txt)"
}

echo "== Without refinement, against the conversion ($runs pairs after a warm-up)"
time_prepare "$facets" --no-refine model.stl
time_conversion
prepare_us=()
conversion_us=()
ratios=()
for ((i = 1; i <= runs; i++)); do
  time_prepare "$facets" --no-refine model.stl
  prepare_us+=("$elapsed_us")
  time_conversion
  conversion_us+=("$elapsed_us")
  ratios+=("$(awk -v a="${prepare_us[-1]}" -v b="$elapsed_us" 'BEGIN { printf "%.4f", a / b }')")
  echo "   pair $i: prepare $(seconds "${prepare_us[-1]}") s, conversion $(seconds "$elapsed_us") s, ratio ${ratios[-1]}"
done
/usr/bin/time -f '%M' -o rss.txt "$preparer" --no-refine model.stl prepared.stl >/dev/null 2>&1 || true
mend_rss_kib=$(tail -n 1 rss.txt)
rm -f STL_Model.stl input.dat input.plt prepared.stl console.txt

echo "== Refining the binary sample torus to 3,204,096 facets ($runs runs after a warm-up)"
# The sample model as a CAD program exports it: binary STL, floats.
/usr/bin/python3 - "$root/examples/STL_Model.stl" torus.stl <<'PY'
import struct, sys
vertices = [list(map(float, line.split()[1:4])) for line in open(sys.argv[1])
            if line.strip().startswith("vertex")]
out = bytearray(b"binary torus".ljust(80, b" ")) + struct.pack("<I", len(vertices) // 3)
for i in range(0, len(vertices), 3):
    out += struct.pack("<3f", 0, 0, 0)
    for v in vertices[i:i + 3]:
        out += struct.pack("<3f", *v)
    out += b"\0\0"
open(sys.argv[2], "wb").write(out)
PY
refined=3204096
time_prepare "$refined" --frequency 265.5 torus.stl
refine_us=()
for ((i = 1; i <= runs; i++)); do
  time_prepare "$refined" --frequency 265.5 torus.stl
  refine_us+=("$elapsed_us")
  echo "   run $i: $(seconds "$elapsed_us") s"
done
/usr/bin/time -f '%M' -o rss.txt "$preparer" --frequency 265.5 torus.stl prepared.stl >/dev/null 2>&1 || true
refine_rss_kib=$(tail -n 1 rss.txt)

echo "== Refusing a box with edges of 1e300 ($runs runs after a warm-up)"
/usr/bin/python3 - huge.stl <<'PY'
import sys
corners = [(x, y, z) for z in (0, 1e300) for y in (0, 1e300) for x in (0, 1e300)]
quads = [(0, 2, 3, 1), (4, 5, 7, 6), (0, 1, 5, 4), (2, 6, 7, 3), (0, 4, 6, 2), (1, 3, 7, 5)]
text = "solid box\n"
for a, b, c, d in quads:
    for facet in ((a, b, c), (a, c, d)):
        text += "  facet normal 0 0 0\n    outer loop\n"
        for k in facet:
            text += "      vertex %r %r %r\n" % corners[k]
        text += "    endloop\n  endfacet\n"
open(sys.argv[1], "w").write(text + "endsolid box\n")
PY
time_refusal() {
  local t0 t1 status=0
  settle
  now_us t0
  "$preparer" --refine-only huge.stl prepared.stl >/dev/null 2>errors.txt || status=$?
  now_us t1
  elapsed_us=$((t1 - t0))
  ((status == 2)) && grep -q "highest frequency that fits is" errors.txt ||
    fail "stldeck-prepare did not refuse the huge box with a frequency: $(cat errors.txt)"
}
time_refusal
refusal_us=()
for ((i = 1; i <= runs; i++)); do
  time_refusal
  refusal_us+=("$elapsed_us")
  echo "   run $i: $(seconds "$elapsed_us") s"
done
rm -f model.stl torus.stl huge.stl prepared.stl prepare.json errors.txt rss.txt

ratio=$(median "${ratios[@]}")
awk -v f="$facets" -v p="$(median "${prepare_us[@]}")" -v c="$(median "${conversion_us[@]}")" \
  -v r="$ratio" -v k="$mend_rss_kib" 'BEGIN {
  printf "prepare --no-refine at %d facets: median %.3f s, conversion median %.3f s, ratio %.2f (median of pairs; target <= 3: %s), peak RSS %.1f MiB (target <= 512: %s)\n",
    f, p / 1e6, c / 1e6, r, (r <= 3 ? "ok" : "OVER TARGET"), k / 1024, (k <= 512 * 1024 ? "ok" : "OVER TARGET")
}'
awk -v n="$refined" -v t="$(median "${refine_us[@]}")" -v k="$refine_rss_kib" 'BEGIN {
  printf "prepare refining to %d facets: median %.3f s (target <= 10: %s), peak RSS %.1f MiB (target <= 1024: %s)\n",
    n, t / 1e6, (t <= 10e6 ? "ok" : "OVER TARGET"), k / 1024, (k <= 1024 * 1024 ? "ok" : "OVER TARGET")
}'
awk -v t="$(median "${refusal_us[@]}")" 'BEGIN {
  printf "prepare refusing the 1e300 box: median %.3f s (target <= 0.5: %s)\n", t / 1e6,
    (t <= 0.5e6 ? "ok" : "OVER TARGET")
}'
