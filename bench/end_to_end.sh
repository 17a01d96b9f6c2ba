#!/usr/bin/env bash
# End-to-end benchmark of the converter on generated torus models.
#
# For each model size it converts the model several times and compares the
# time with an I/O floor taken in the same run: reading the model with cat and
# writing as many bytes as input.dat and input.plt hold together with dd, into
# the same folder and through the page cache only, as the converter does.
# Every run is checked: exit status 0, empty standard error, the four console
# lines, and the exact sizes of both output files. It also times a run on an
# empty model and takes the peak memory of a 1,000-facet run.
#
# Usage: bench/end_to_end.sh [--sizes "N ..."] [--quick] [--runs N]
#                            [--scratch DIR] [--keep]
# The same settings can come from the environment:
#   BENCH_SIZES    facet counts to measure (default "100000 1666666 3333333")
#   BENCH_RUNS     timed runs per size, at least 3 (default 5)
#   BENCH_SCRATCH  folder for models and outputs (default build-bench/scratch)
#   BENCH_KEEP=1   keep the last model and its outputs in the scratch folder
# --quick leaves out the largest size (3,333,333 facets, about 650 MB of STL
# and 1.7 GB of output).
set -euo pipefail
export LC_ALL=C

cd "$(dirname "$0")/.."
root=$(pwd)

sizes=${BENCH_SIZES:-"100000 1666666 3333333"}
runs=${BENCH_RUNS:-5}
scratch=${BENCH_SCRATCH:-build-bench/scratch}
keep=${BENCH_KEEP:-0}
empty_runs=21
rss_model_facets=1000
empty_target_ms=10
rss_target_mib=16

usage() {
  sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'
}

while (($# > 0)); do
  case $1 in
    --sizes) sizes=${2:?--sizes needs a list}; shift 2 ;;
    --quick) sizes="100000 1666666"; shift ;;
    --runs) runs=${2:?--runs needs a number}; shift 2 ;;
    --scratch) scratch=${2:?--scratch needs a folder}; shift 2 ;;
    --keep) keep=1; shift ;;
    -h | --help) usage; exit 0 ;;
    *) echo "end_to_end.sh: unknown option '$1' (try --help)" >&2; exit 2 ;;
  esac
done

for size in $sizes; do
  [[ $size =~ ^[0-9]+$ ]] || { echo "end_to_end.sh: '$size' is not a facet count" >&2; exit 2; }
done
[[ $runs =~ ^[0-9]+$ ]] && ((runs >= 3)) ||
  { echo "end_to_end.sh: the number of runs must be at least 3, not '$runs'" >&2; exit 2; }

fail() {
  echo "end_to_end.sh: FAILED: $*" >&2
  exit 1
}

# ---------------------------------------------------------------------------
# Build

echo "== Building the Release converter in build-bench/"
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DSTLDECK_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" >/dev/null
converter=$root/build-bench/stldeck
make_model=$root/build-bench/make_model
[[ -x $converter && -x $make_model ]] || fail "the build did not produce stldeck and make_model"

mkdir -p "$scratch"
scratch=$(cd "$scratch" && pwd)
cd "$scratch"
rm -f STL_Model.stl input.dat input.plt floor.bin console.txt errors.txt rss.txt

# ---------------------------------------------------------------------------
# Helpers

# Output sizes for m facets; both are exact.
deck_bytes() { echo $((998 + 330 * $1)); }
view_bytes() { echo $((179 + 188 * $1)); }
model_bytes() { stat -c %s STL_Model.stl; }

# Enough room for the largest model, its outputs and the floor file at once.
largest=0
for size in $sizes "$rss_model_facets"; do
  if ((size > largest)); then largest=$size; fi
done
needed_kib=$(((largest * 200 + 2 * (998 + 330 * largest + 179 + 188 * largest)) / 1024 + 65536))
free_kib=$(df -Pk . | awk 'NR == 2 { print $4 }')
((free_kib >= needed_kib)) ||
  fail "$scratch has $((free_kib / 1024)) MiB free; the largest model needs about $((needed_kib / 1024)) MiB"

if [[ -x /usr/bin/time ]]; then
  have_gnu_time=1
else
  have_gnu_time=0
  echo "note: /usr/bin/time is missing; peak memory is sampled from /proc and may read low"
fi

# Writes back what earlier runs left dirty in the page cache, so that a timed
# run is not throttled by the write-back of the one before it.
settle() { sync -f . 2>/dev/null || sync; }

# Microseconds since the epoch, without starting a process.
now_us() { local -n out=$1; out=${EPOCHREALTIME//[.,]/}; }

# Checks the run that just ended: status, standard error, console lines and
# the exact sizes of both output files, for $1 facets.
check_run() {
  local facets=$1 status=$2 deck view lines elements
  ((status == 0)) || fail "the converter exited with status $status on $facets facets: $(head -c 2000 errors.txt)"
  [[ ! -s errors.txt ]] || fail "standard error was not empty on $facets facets: $(head -c 2000 errors.txt)"
  lines=$(wc -l <console.txt)
  ((lines == 4)) || fail "expected 4 console lines on $facets facets, got $lines"
  elements=$(sed -n '2s/.*= *\([0-9]*\)[^0-9]*$/\1/p' console.txt)
  [[ $elements == "$facets" ]] || fail "the console reports m = '$elements', expected $facets"
  deck=$(stat -c %s input.dat)
  view=$(stat -c %s input.plt)
  ((deck == $(deck_bytes "$facets"))) ||
    fail "input.dat has $deck bytes on $facets facets, expected $(deck_bytes "$facets")"
  ((view == $(view_bytes "$facets"))) ||
    fail "input.plt has $view bytes on $facets facets, expected $(view_bytes "$facets")"
}

# Runs the converter once in the scratch folder from fresh output files; sets
# elapsed_us and checks the run for $1 facets.
time_converter() {
  local facets=$1 status=0 t0 t1
  rm -f input.dat input.plt
  settle
  now_us t0
  "$converter" >console.txt 2>errors.txt || status=$?
  now_us t1
  elapsed_us=$((t1 - t0))
  check_run "$facets" "$status"
}

# Runs the converter once and sets peak_kib to its peak resident set (KiB).
measure_rss() {
  local facets=$1 status=0 pid hwm
  rm -f input.dat input.plt
  if ((have_gnu_time)); then
    /usr/bin/time -f '%M' -o rss.txt "$converter" >console.txt 2>errors.txt || status=$?
    peak_kib=$(tail -n 1 rss.txt)
  else
    peak_kib=0
    "$converter" >console.txt 2>errors.txt &
    pid=$!
    while [[ -r /proc/$pid/status ]]; do
      hwm=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
      [[ -n $hwm ]] && ((hwm > peak_kib)) && peak_kib=$hwm
      [[ -z $hwm ]] && break  # exited, not yet reaped
      sleep 0.005
    done
    wait "$pid" || status=$?
  fi
  check_run "$facets" "$status"
}

# The I/O floor for the model in the folder and $1 output bytes; sets elapsed_us.
time_floor() {
  local bytes=$1 t0 t1
  rm -f floor.bin
  settle
  now_us t0
  cat STL_Model.stl >/dev/null
  dd if=/dev/zero of=floor.bin bs=1M iflag=count_bytes count="$bytes" status=none
  now_us t1
  elapsed_us=$((t1 - t0))
}

# Minimum and median of the given microsecond figures, as "MIN MEDIAN".
min_median() {
  printf '%s\n' "$@" | sort -n | awk '
    { v[NR] = $1 }
    END {
      median = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
      print v[1], median
    }'
}

# ---------------------------------------------------------------------------
# Start-up cost: a model without facets

echo "== Empty model ($empty_runs runs)"
printf 'solid x\nendsolid x\n' >STL_Model.stl
time_converter 0  # warm-up
empty_us=()
for ((i = 0; i < empty_runs; i++)); do
  time_converter 0
  empty_us+=("$elapsed_us")
done
read -r empty_min empty_median <<<"$(min_median "${empty_us[@]}")"
empty_verdict=$(awk -v m="$empty_median" -v t="$empty_target_ms" 'BEGIN { print (m / 1000 < t) ? "ok" : "OVER TARGET" }')
printf '   min %.2f ms, median %.2f ms (target under %d ms: %s)\n' \
  "$(awk -v v="$empty_min" 'BEGIN { print v / 1000 }')" \
  "$(awk -v v="$empty_median" 'BEGIN { print v / 1000 }')" "$empty_target_ms" "$empty_verdict"

# ---------------------------------------------------------------------------
# Memory of a small model

echo "== Peak memory of a $rss_model_facets-facet model"
"$make_model" "$rss_model_facets" STL_Model.stl
measure_rss "$rss_model_facets"
small_rss_kib=$peak_kib
small_verdict=$(awk -v k="$small_rss_kib" -v t="$rss_target_mib" 'BEGIN { print (k <= t * 1024) ? "ok" : "OVER TARGET" }')
printf '   %d KiB = %.1f MiB (target at most %d MiB: %s)\n' "$small_rss_kib" \
  "$(awk -v k="$small_rss_kib" 'BEGIN { print k / 1024 }')" "$rss_target_mib" "$small_verdict"

# ---------------------------------------------------------------------------
# Model sizes

rows=()
for facets in $sizes; do
  echo "== $facets facets"
  rm -f STL_Model.stl input.dat input.plt floor.bin
  now_us t0
  "$make_model" "$facets" STL_Model.stl
  now_us t1
  stl_bytes=$(model_bytes)
  out_bytes=$(($(deck_bytes "$facets") + $(view_bytes "$facets")))
  printf '   model: %d bytes, generated in %.2f s; output: %d bytes\n' "$stl_bytes" \
    "$(awk -v v=$((t1 - t0)) 'BEGIN { print v / 1e6 }')" "$out_bytes"

  # The first runs warm the page cache; this one also checks the outputs and
  # measures memory.
  measure_rss "$facets"
  rss_kib=$peak_kib
  time_floor "$out_bytes"

  # Alternate floor and conversion so that any drift of the machine hits both.
  conv_us=()
  floor_us=()
  for ((i = 1; i <= runs; i++)); do
    time_floor "$out_bytes"
    floor_us+=("$elapsed_us")
    time_converter "$facets"
    conv_us+=("$elapsed_us")
    printf '   run %d: conversion %.3f s, floor %.3f s\n' "$i" \
      "$(awk -v v="${conv_us[-1]}" 'BEGIN { print v / 1e6 }')" \
      "$(awk -v v="${floor_us[-1]}" 'BEGIN { print v / 1e6 }')"
  done
  read -r conv_min conv_median <<<"$(min_median "${conv_us[@]}")"
  read -r floor_min floor_median <<<"$(min_median "${floor_us[@]}")"
  # The ratio of each conversion to the floor taken just before it: the
  # machine's write-back comes and goes, and a pair sees the same weather.
  pair_ratios=()
  for ((i = 0; i < runs; i++)); do
    pair_ratios+=("$(awk -v c="${conv_us[i]}" -v f="${floor_us[i]}" 'BEGIN { printf "%d", 1000 * c / f }')")
  done
  read -r _ pair_median <<<"$(min_median "${pair_ratios[@]}")"
  rows+=("$(awk -v f="$facets" -v s="$stl_bytes" -v cmin="$conv_min" -v cmed="$conv_median" \
    -v fmin="$floor_min" -v fmed="$floor_median" -v rss="$rss_kib" -v pair="$pair_median" 'BEGIN {
      printf "%10d %9.1f %9.3f %9.3f %9.3f %9.3f %7.2f %7.2f %8.1f %9.1f",
        f, s / 1e6, cmin / 1e6, cmed / 1e6, fmin / 1e6, fmed / 1e6,
        (fmed > 0 ? cmed / fmed : 0), pair / 1000, (cmed > 0 ? s / cmed : 0), rss / 1024
    }')")

  if [[ $keep != 1 || $facets != "${sizes##* }" ]]; then
    rm -f STL_Model.stl input.dat input.plt
  fi
  rm -f floor.bin
done

# ---------------------------------------------------------------------------
# Summary

echo
echo "Summary ($runs timed runs per size; seconds; MB = 10^6 bytes; RSS in MiB)"
printf '%10s %9s %9s %9s %9s %9s %7s %7s %8s %9s\n' \
  facets "STL MB" "conv min" "conv med" "floor min" "floor med" ratio "pairs" "MB/s" "peak RSS"
for row in "${rows[@]}"; do echo "$row"; done
printf 'empty model: min %.2f ms, median %.2f ms (target < %d ms: %s)\n' \
  "$(awk -v v="$empty_min" 'BEGIN { print v / 1000 }')" \
  "$(awk -v v="$empty_median" 'BEGIN { print v / 1000 }')" "$empty_target_ms" "$empty_verdict"
printf '%d-facet model: peak RSS %.1f MiB (target <= %d MiB: %s)\n' "$rss_model_facets" \
  "$(awk -v k="$small_rss_kib" 'BEGIN { print k / 1024 }')" "$rss_target_mib" "$small_verdict"
echo "ratio = conversion median / floor median; pairs = median of conversion / floor run by run;"
echo "MB/s = STL bytes / conversion median"
