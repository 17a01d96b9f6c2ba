#!/usr/bin/env bash
# The model check against the conversion on the same generated model: the
# median time of each over alternating runs (check, conversion, check, ...
# after one warm-up of each), the median of the run-by-run ratio, and the
# check's peak memory (largest resident set, from /usr/bin/time).
#
# With --baseline CHECK, another build of the check (an earlier version)
# joins the alternation (check, baseline, conversion, ...), and its median
# ratio to the conversion and its peak memory are printed beside.
#
# Usage: bench/check_bench.sh [--facets N] [--runs N] [--scratch DIR]
#                             [--baseline CHECK]
# Defaults: 1,666,666 facets, 5 runs of each, build-bench/scratch-check.
# Targets: the check takes at most 1.5 times the conversion and at most
# 256 MiB. The machine may be shared: the ratios of runs taken side by side
# are steadier than the times, which the load moves.
set -euo pipefail
export LC_ALL=C

cd "$(dirname "$0")/.."
root=$(pwd)

facets=1666666
runs=5
scratch=build-bench/scratch-check
baseline=
while (($# > 0)); do
  case $1 in
    --facets) facets=${2:?--facets needs a number}; shift 2 ;;
    --runs) runs=${2:?--runs needs a number}; shift 2 ;;
    --scratch) scratch=${2:?--scratch needs a folder}; shift 2 ;;
    --baseline) baseline=$(realpath "${2:?--baseline needs a command}"); shift 2 ;;
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

# Sets elapsed_us; checks that the run ended as expected. $1: the check to
# run (default: this build's).
time_check() {
  local t0 t1 status=0 command=${1:-$checker}
  settle
  now_us t0
  "$command" --json STL_Model.stl >check.json 2>errors.txt || status=$?
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
[[ -z $baseline ]] || time_check "$baseline"
time_conversion
check_us=()
conversion_us=()
ratios=()
baseline_ratios=()
for ((i = 1; i <= runs; i++)); do
  time_check
  check_us+=("$elapsed_us")
  if [[ -n $baseline ]]; then
    time_check "$baseline"
    baseline_us=$elapsed_us
  fi
  time_conversion
  [[ -z $baseline ]] ||
    baseline_ratios+=("$(awk -v a="$baseline_us" -v b="$elapsed_us" 'BEGIN { printf "%.4f", a / b }')")
  conversion_us+=("$elapsed_us")
  ratios+=("$(awk -v a="${check_us[-1]}" -v b="$elapsed_us" 'BEGIN { printf "%.4f", a / b }')")
  printf '   run %d: check %.3f s, conversion %.3f s%s\n' "$i" \
    "$(awk -v v="${check_us[-1]}" 'BEGIN { print v / 1e6 }')" \
    "$(awk -v v="$elapsed_us" 'BEGIN { print v / 1e6 }')" \
    "${baseline:+, baseline $(awk -v v="$baseline_us" 'BEGIN { print v / 1e6 }') s}"
done
/usr/bin/time -f '%M' -o rss.txt "$checker" --json STL_Model.stl >/dev/null 2>&1 || true
rss_kib=$(tail -n 1 rss.txt)
if [[ -n $baseline ]]; then
  /usr/bin/time -f '%M' -o rss.txt "$baseline" --json STL_Model.stl >/dev/null 2>&1 || true
  baseline_rss_kib=$(tail -n 1 rss.txt)
fi
rm -f STL_Model.stl input.dat input.plt check.json console.txt errors.txt rss.txt

check_median=$(median "${check_us[@]}")
conversion_median=$(median "${conversion_us[@]}")
ratio=$(median "${ratios[@]}")
awk -v f="$facets" -v c="$check_median" -v v="$conversion_median" -v r="$ratio" -v k="$rss_kib" 'BEGIN {
  printf "check at %d facets: median %.3f s, conversion median %.3f s, ratio %.2f (run by run; target <= 1.5: %s), peak RSS %.1f MiB (target <= 256: %s)\n",
    f, c / 1e6, v / 1e6, r, (r <= 1.5 ? "ok" : "OVER TARGET"), k / 1024, (k <= 256 * 1024 ? "ok" : "OVER TARGET")
}'
if [[ -n $baseline ]]; then
  awk -v r="$(median "${baseline_ratios[@]}")" -v k="$baseline_rss_kib" 'BEGIN {
    printf "baseline check: ratio to the conversion %.2f (run by run), peak RSS %.1f MiB\n", r, k / 1024
  }'
fi
