#!/usr/bin/env bash
# The deck command against the conversion that made the deck it reads, on a
# generated model: verifying the deck and its view (every record of both
# files) takes at most the time of the conversion, and a setting reads only
# the deck's head, its size and its end record.
#
# For each pair, after one warm-up pair: the conversion (its previous
# output removed, then `sync`), timed; then the verification of the deck
# and view it wrote (after a `sync`), timed. The machine may be shared and
# its speed drifts, so the script prints the median of the pairs' ratios
# (verification / conversion) and their range, not one run. Then it times
# settings that alternate between two frequency ranges, each after a
# `sync`, and counts the bytes a setting reads and writes (strace).
#
# Usage: bench/deck_bench.sh [--facets N] [--pairs N] [--settings N] [--scratch DIR]
# Defaults: 3,333,333 facets (the converter's capacity, a 1.1 GB deck; about
# 2.4 GB of disk with the model and the view), 7 pairs, 21 settings,
# build-bench/scratch-deck. Target: ratio <= 1; a setting in milliseconds.
set -euo pipefail
export LC_ALL=C

cd "$(dirname "$0")/.."
root=$(pwd)

facets=3333333
pairs=7
settings=21
scratch=build-bench/scratch-deck
while (($# > 0)); do
  case $1 in
    --facets) facets=${2:?--facets needs a number}; shift 2 ;;
    --pairs) pairs=${2:?--pairs needs a number}; shift 2 ;;
    --settings) settings=${2:?--settings needs a number}; shift 2 ;;
    --scratch) scratch=${2:?--scratch needs a folder}; shift 2 ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "deck_bench.sh: unknown option '$1' (try --help)" >&2; exit 2 ;;
  esac
done
[[ $facets =~ ^[0-9]+$ && $pairs =~ ^[0-9]+$ && $settings =~ ^[0-9]+$ ]] &&
  ((pairs >= 3 && settings >= 1)) ||
  { echo "deck_bench.sh: --facets, --pairs (at least 3) and --settings take whole numbers" >&2
    exit 2; }

fail() {
  echo "deck_bench.sh: FAILED: $*" >&2
  exit 1
}

echo "== Building the Release commands in build-bench/"
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DSTLDECK_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target stldeck stldeck-deck make_model >/dev/null
converter=$root/build-bench/stldeck
deck=$root/build-bench/stldeck-deck

mkdir -p "$scratch"
cd "$scratch"
trap 'rm -f STL_Model.stl input.dat input.plt console.txt errors.txt deck.json' EXIT
echo "== Generating a model of $facets facets"
"$root/build-bench/make_model" "$facets" STL_Model.stl

settle() { sync -f . 2>/dev/null || sync; }
now_us() { local -n out=$1; out=${EPOCHREALTIME//[.,]/}; }
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
seconds() { awk -v v="$1" 'BEGIN { printf "%.3f", v / 1e6 }'; }

# Each sets elapsed_us and checks how the run ended.
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
time_verification() {
  local t0 t1 status=0
  settle
  now_us t0
  "$deck" --json >deck.json 2>errors.txt || status=$?
  now_us t1
  elapsed_us=$((t1 - t0))
  ((status <= 1)) || fail "stldeck-deck exited with $status: $(cat errors.txt)"
  grep -q '"whole": true' deck.json && grep -q '"view_matches": true' deck.json &&
    grep -q "\"elements\": $facets," deck.json || fail "the deck was not verified whole: $(cat deck.json)"
}

time_conversion
time_verification
conversion_us=()
verification_us=()
ratios=()
for ((i = 1; i <= pairs; i++)); do
  time_conversion
  conversion_us+=("$elapsed_us")
  time_verification
  verification_us+=("$elapsed_us")
  ratios+=("$(awk -v a="$elapsed_us" -v b="${conversion_us[-1]}" 'BEGIN { printf "%.4f", a / b }')")
  printf '   pair %d: conversion %s s, verification %s s, ratio %s\n' "$i" \
    "$(seconds "${conversion_us[-1]}")" "$(seconds "$elapsed_us")" "${ratios[-1]}"
done
ratio=$(median "${ratios[@]}")
lowest=$(printf '%s\n' "${ratios[@]}" | sort -n | head -n 1)
highest=$(printf '%s\n' "${ratios[@]}" | sort -n | tail -n 1)
awk -v f="$facets" -v c="$(median "${conversion_us[@]}")" -v v="$(median "${verification_us[@]}")" \
  -v r="$ratio" -v lo="$lowest" -v hi="$highest" -v d="$(stat -c %s input.dat)" 'BEGIN {
  printf "verification of deck (%.2f GB) and view at %d facets: median %.3f s, conversion median %.3f s, ratio %.2f (pairs %.2f-%.2f; target <= 1: %s)\n",
    d / 1e9, f, v / 1e6, c / 1e6, r, lo, hi, (r <= 1 ? "ok" : "OVER TARGET")
}'

setting_us=()
for ((i = 1; i <= settings; i++)); do
  range=$((i % 2 ? 2000 : 4000))
  settle
  now_us t0
  "$deck" --frequencies "100:$range:20" >/dev/null 2>errors.txt || fail "setting: $(cat errors.txt)"
  now_us t1
  setting_us+=($((t1 - t0)))
done
read_bytes=unknown
written_bytes=unknown
if command -v strace >/dev/null; then
  strace -qq -e trace=openat,read,pread64,pwrite64 -e signal=none -o trace.txt \
    "$deck" --frequencies 100:2000:20 >/dev/null
  # Only what touches the deck, from its opening on, not the program's loading.
  deck_bytes() {
    awk -F'= ' -v calls="$1" '/^openat\(.*"input.dat"/ { open = 1; fd = $NF; next }
      open && $0 ~ "^(" calls ")\\(" fd "," { sum += $NF } END { print sum + 0 }' trace.txt
  }
  read_bytes=$(deck_bytes 'read|pread64')
  written_bytes=$(deck_bytes pwrite64)
  rm -f trace.txt
fi
awk -v m="$(median "${setting_us[@]}")" -v n="$settings" -v r="$read_bytes" -v w="$written_bytes" 'BEGIN {
  printf "setting on that deck: median %.1f ms of %d; it reads %s bytes of the deck and writes %s\n",
    m / 1e3, n, r, w
}'
