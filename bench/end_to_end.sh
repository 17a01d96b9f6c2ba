#!/usr/bin/env bash
# End-to-end benchmark of the converter on generated torus models.
#
# For each model size it compares the conversion with an I/O floor, in
# alternating pairs (conversion, floor, conversion, floor, ...) after one
# warm-up pair, and reports the medians and the median of the pair ratios:
# the machines are shared and their speed drifts, and a pair sees the same
# weather. Both sides are one process each that first removes its previous
# output:
#   conversion  rm -f input.dat input.plt; stldeck
#   floor       rm -f floor.bin; cat STL_Model.stl >/dev/null;
#               dd bs=1M of=floor.bin (as many bytes as the conversion writes)
# in the same folder, through the page cache. For each size it prints the
# median ratio and the range of the pair ratios, and the median user and
# system time of both sides, so that a reader sees where the time goes (the
# system time of both is mostly the copy into the page cache). One size is
# also measured with both sides confined to one CPU (taskset -c 0). Every conversion is checked:
# exit status 0, empty standard error, the four console lines, and the exact
# sizes of both output files. Peak memory comes from a separate run of each
# size; the script also times a run on an empty model and takes the peak
# memory of a 1,000-facet run.
#
# Usage: bench/end_to_end.sh [--sizes "N ..."] [--quick] [--pairs N]
#                            [--scratch DIR] [--keep]
# The same settings can come from the environment:
#   BENCH_SIZES    facet counts to measure (default "100000 1666666 3333333")
#   BENCH_PAIRS    timed pairs per size, at least 3 (default 7)
#   BENCH_ONE_CPU  the size also measured on one CPU (default 1666666; "" for none)
#   BENCH_SCRATCH  folder for models and outputs (default build-bench/scratch)
#   BENCH_KEEP=1   keep the last model and its outputs in the scratch folder
#   BENCH_CHECK=0  leave out the model check against the conversion (1,666,666 facets)
#   BENCH_CONVERTER  another stldeck to measure (an older build, say) instead of
#                  the one built here
# --quick leaves out the largest size (3,333,333 facets, about 650 MB of STL
# and 1.7 GB of output).
set -euo pipefail
export LC_ALL=C

cd "$(dirname "$0")/.."
root=$(pwd)

sizes=${BENCH_SIZES:-"100000 1666666 3333333"}
runs=${BENCH_PAIRS:-${BENCH_RUNS:-7}}
one_cpu_size=${BENCH_ONE_CPU-1666666}
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
    --pairs | --runs) runs=${2:?--pairs needs a number}; shift 2 ;;
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
  { echo "end_to_end.sh: the number of pairs must be at least 3, not '$runs'" >&2; exit 2; }
if [[ -n $one_cpu_size ]] && ! command -v taskset >/dev/null; then
  echo "note: taskset is missing; the one-CPU line is left out"
  one_cpu_size=
fi

fail() {
  echo "end_to_end.sh: FAILED: $*" >&2
  exit 1
}

# ---------------------------------------------------------------------------
# Build

echo "== Building the Release converter in build-bench/"
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DSTLDECK_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" >/dev/null
converter=${BENCH_CONVERTER:-$root/build-bench/stldeck}
make_model=$root/build-bench/make_model
[[ -x $converter && -x $make_model ]] || fail "the build did not produce stldeck and make_model"

mkdir -p "$scratch"
scratch=$(cd "$scratch" && pwd)
cd "$scratch"
rm -f STL_Model.stl input.dat input.plt floor.bin console.txt errors.txt rss.txt times.txt

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

# The user and system time of the last timed command, in milliseconds: the
# shell's own accounting of the children it waited for.
TIMEFORMAT='%3U %3S'
read_times() { read -r user_ms sys_ms <times.txt; user_ms=${user_ms//[.,]/}; sys_ms=${sys_ms//[.,]/}; }

# Runs the converter once in the scratch folder as one process that first
# removes the previous output files; sets elapsed_us, user_ms and sys_ms and
# checks the run for $1 facets. Further arguments go before the command
# (taskset -c 0).
time_converter() {
  local facets=$1 status=0 t0 t1
  shift
  settle
  now_us t0
  { time "$@" bash -c 'rm -f input.dat input.plt; exec "$0"' "$converter" >console.txt \
    2>errors.txt; } 2>times.txt || status=$?
  now_us t1
  elapsed_us=$((t1 - t0))
  read_times
  check_run "$facets" "$status"
}

# Runs the converter directly, without a shell around it, from removed output
# files; sets elapsed_us and checks the run for $1 facets. For the start-up
# cost, which a shell's own start would hide.
time_converter_alone() {
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

# The I/O floor for the model in the folder and $1 output bytes, as one
# process that first removes its previous output; sets elapsed_us, user_ms
# and sys_ms. Further arguments go before the command.
time_floor() {
  local bytes=$1 t0 t1
  shift
  settle
  now_us t0
  { time "$@" bash -c 'rm -f floor.bin; cat STL_Model.stl >/dev/null
    exec dd if=/dev/zero of=floor.bin bs=1M iflag=count_bytes count="$0" status=none' \
    "$bytes"; } 2>times.txt
  now_us t1
  elapsed_us=$((t1 - t0))
  read_times
}

# One warm-up pair, then $runs alternating pairs of conversion and floor for
# $1 facets and $2 output bytes; further arguments go before both commands.
# Sets conv_median, floor_median, pair_median and pair_min, pair_max (ratios
# x 1000), and the medians of the user and system times of both sides
# (conv_user, conv_sys, floor_user, floor_sys; milliseconds).
time_pairs() {
  local facets=$1 bytes=$2 i
  shift 2
  time_converter "$facets" "$@"
  time_floor "$bytes" "$@"
  local conv_us=() floor_us=() pair_ratios=() conv_users=() conv_syss=() floor_users=()
  local floor_syss=()
  for ((i = 1; i <= runs; i++)); do
    time_converter "$facets" "$@"
    conv_us+=("$elapsed_us")
    conv_users+=("$user_ms")
    conv_syss+=("$sys_ms")
    time_floor "$bytes" "$@"
    floor_us+=("$elapsed_us")
    floor_users+=("$user_ms")
    floor_syss+=("$sys_ms")
    pair_ratios+=("$(awk -v c="${conv_us[-1]}" -v f="${floor_us[-1]}" 'BEGIN { printf "%d", 1000 * c / f }')")
    printf '   pair %d: conversion %.3f s (user %.2f, sys %.2f), floor %.3f s (user %.2f, sys %.2f), ratio %.2f\n' \
      "$i" "$(awk -v v="${conv_us[-1]}" 'BEGIN { print v / 1e6 }')" \
      "$(awk -v v="${conv_users[-1]}" 'BEGIN { print v / 1e3 }')" \
      "$(awk -v v="${conv_syss[-1]}" 'BEGIN { print v / 1e3 }')" \
      "$(awk -v v="${floor_us[-1]}" 'BEGIN { print v / 1e6 }')" \
      "$(awk -v v="${floor_users[-1]}" 'BEGIN { print v / 1e3 }')" \
      "$(awk -v v="${floor_syss[-1]}" 'BEGIN { print v / 1e3 }')" \
      "$(awk -v v="${pair_ratios[-1]}" 'BEGIN { print v / 1000 }')"
  done
  read -r _ conv_median <<<"$(min_median "${conv_us[@]}")"
  read -r _ floor_median <<<"$(min_median "${floor_us[@]}")"
  read -r pair_min pair_median <<<"$(min_median "${pair_ratios[@]}")"
  pair_max=$(printf '%s\n' "${pair_ratios[@]}" | sort -n | tail -n 1)
  read -r _ conv_user <<<"$(min_median "${conv_users[@]}")"
  read -r _ conv_sys <<<"$(min_median "${conv_syss[@]}")"
  read -r _ floor_user <<<"$(min_median "${floor_users[@]}")"
  read -r _ floor_sys <<<"$(min_median "${floor_syss[@]}")"
}

# A summary row: label, facets, STL bytes, then the medians, the range of
# the pair ratios, the user and system times of both sides and the RSS (KiB).
summary_row() {
  awk -v l="$1" -v f="$2" -v s="$3" -v cmed="$conv_median" -v fmed="$floor_median" \
    -v pair="$pair_median" -v lo="$pair_min" -v hi="$pair_max" -v cu="$conv_user" \
    -v cs="$conv_sys" -v fu="$floor_user" -v fs="$floor_sys" -v rss="$4" 'BEGIN {
      printf "%-9s %8d %7.1f %7.3f %7.3f %6.2f %9s %5.2f %5.2f %5.2f %5.2f %8s\n", l, f, s / 1e6,
        cmed / 1e6, fmed / 1e6, pair / 1000, sprintf("%.2f-%.2f", lo / 1000, hi / 1000),
        cu / 1e3, cs / 1e3, fu / 1e3, fs / 1e3, (rss > 0 ? sprintf("%.1f", rss / 1024) : "-")
    }'
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
time_converter_alone 0  # warm-up
empty_us=()
for ((i = 0; i < empty_runs; i++)); do
  time_converter_alone 0
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

  # This run warms the page cache, checks the outputs and measures memory.
  measure_rss "$facets"
  rss_kib=$peak_kib
  time_pairs "$facets" "$out_bytes"
  rows+=("$(summary_row "two CPUs" "$facets" "$stl_bytes" "$rss_kib")")

  if [[ $facets == "$one_cpu_size" ]]; then
    echo "   on one CPU (taskset -c 0):"
    time_pairs "$facets" "$out_bytes" taskset -c 0
    rows+=("$(summary_row "one CPU" "$facets" "$stl_bytes" 0)")
  fi

  if [[ $keep != 1 || $facets != "${sizes##* }" ]]; then
    rm -f STL_Model.stl input.dat input.plt
  fi
  rm -f floor.bin
done

# ---------------------------------------------------------------------------
# Summary

echo
echo "Summary (medians of $runs alternating pairs after a warm-up pair; seconds; MB = 10^6 bytes;"
echo "range: lowest-highest pair ratio; user and system seconds of the conversion (c) and the"
echo "floor (f); peak RSS in MiB, from a separate run)"
printf '%-9s %8s %7s %7s %7s %6s %9s %5s %5s %5s %5s %8s\n' cpus facets "STL MB" conv floor \
  ratio range c-usr c-sys f-usr f-sys "peak RSS"
for row in "${rows[@]}"; do echo "$row"; done
printf 'empty model: min %.2f ms, median %.2f ms (target < %d ms: %s)\n' \
  "$(awk -v v="$empty_min" 'BEGIN { print v / 1000 }')" \
  "$(awk -v v="$empty_median" 'BEGIN { print v / 1000 }')" "$empty_target_ms" "$empty_verdict"
printf '%d-facet model: peak RSS %.1f MiB (target <= %d MiB: %s)\n' "$rss_model_facets" \
  "$(awk -v k="$small_rss_kib" 'BEGIN { print k / 1024 }')" "$rss_target_mib" "$small_verdict"
echo "ratio = median over the pairs of conversion time / floor time"

# ---------------------------------------------------------------------------
# The model check against the conversion, at the size of a large real model
# (BENCH_CHECK=0 leaves it out).

if [[ ${BENCH_CHECK:-1} != 0 ]]; then
  echo
  "$root/bench/check_bench.sh" --facets 1666666 --runs "$runs"
fi
