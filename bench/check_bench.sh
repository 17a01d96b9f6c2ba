#!/usr/bin/env bash
# The model check against the conversion on the same generated model: the
# median time of each over alternating runs (check, conversion, check, ...
# after one warm-up of each), the median of the run-by-run ratio, and the
# check's peak memory.
#
# Usage: bench/check_bench.sh [--facets N] [--runs N] [--scratch DIR]
# Defaults: 1,666,666 facets, 5 runs of each, build-bench/scratch-check.
# Targets: the check takes at most 2 times the conversion and at most
# 512 MiB.
set -euo pipefail
export LC_ALL=C

cd "$(dirname "$0")/.."
root=$(pwd)

facets=1666666
runs=5
scratch=build-bench/scratch-check
while (($# > 0)); do
  case $1 in
    --facets) facets=${2:?--facets needs a number}; shift 2 ;;
    --runs) runs=${2:?--runs needs a number}; shift 2 ;;
    --scratch) scratch=${2:?--scratch needs a folder}; shift 2 ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "check_bench.sh: unknown option '$1' (try --help)" >&2; exit 2 ;;
  esac
done
[[ $facets =~ ^[0-9]+$ && $runs =~ ^[0-9]+$ ]] && ((runs >= 1)) ||
  { echo "check_bench.sh: --facets and --runs take whole numbers" >&2; exit 2; }

fail() {
  echo "check_bench.sh: FAILED: $*" >&2
  exit 1
}

echo "== Building the Release commands in build-bench/"
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DSTLDECK_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target stldeck stldeck-check make_model >/dev/null
converter=$root/build-bench/stldeck
checker=$root/build-bench/stldeck-check
[[ -x /usr/bin/time ]] || fail "/usr/bin/time is missing (Debian package time)"

mkdir -p "$scratch"
cd "$scratch"
echo "== Generating a model of $facets facets"
"$root/build-bench/make_model" "$facets" STL_Model.stl

settle() { sync -f . 2>/dev/null || sync; }
now_us() { local -n out=$1; out=${EPOCHREALTIME//[.,]/}; }

# Sets elapsed_us; checks that the run ended as expected.
time_check() {
  local t0 t1 status=0
  settle
  now_us t0
  "$checker" --json STL_Model.stl >check.json 2>errors.txt || status=$?
  now_us t1
  elapsed_us=$((t1 - t0))
  ((status <= 1)) || fail "stldeck-check exited with $status: $(cat errors.txt)"
  grep -q "\"facets\": $facets," check.json || fail "stldeck-check did not read $facets facets"
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
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

time_check
time_conversion
check_us=()
conversion_us=()
ratios=()
for ((i = 1; i <= runs; i++)); do
  time_check
  check_us+=("$elapsed_us")
  time_conversion
  conversion_us+=("$elapsed_us")
  ratios+=("$(awk -v a="${check_us[-1]}" -v b="$elapsed_us" 'BEGIN { printf "%.4f", a / b }')")
  printf '   run %d: check %.3f s, conversion %.3f s\n' "$i" \
    "$(awk -v v="${check_us[-1]}" 'BEGIN { print v / 1e6 }')" \
    "$(awk -v v="$elapsed_us" 'BEGIN { print v / 1e6 }')"
done
/usr/bin/time -f '%M' -o rss.txt "$checker" --json STL_Model.stl >/dev/null 2>&1 || true
rss_kib=$(tail -n 1 rss.txt)
rm -f STL_Model.stl input.dat input.plt check.json console.txt errors.txt rss.txt

check_median=$(median "${check_us[@]}")
conversion_median=$(median "${conversion_us[@]}")
ratio=$(median "${ratios[@]}")
awk -v f="$facets" -v c="$check_median" -v v="$conversion_median" -v r="$ratio" -v k="$rss_kib" 'BEGIN {
  printf "check at %d facets: median %.3f s, conversion median %.3f s, ratio %.2f (run by run; target <= 2: %s), peak RSS %.1f MiB (target <= 512: %s)\n",
    f, c / 1e6, v / 1e6, r, (r <= 2 ? "ok" : "OVER TARGET"), k / 1024, (k <= 512 * 1024 ? "ok" : "OVER TARGET")
}'
