#!/usr/bin/env bash
# Builds every fuzz target, fuzz/*_fuzz.cpp, with clang's libFuzzer (with
# ASan and UBSan) and runs each for a bounded time:
#   tools/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
# The product sources are compiled once, by folder, and linked into every
# target. A source or target that does not build is reported and the others
# still run; the exit status is 1 if anything failed to build or a target
# found a fault.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
tools/setup.sh clang libclang-rt-14-dev libcgal-dev

out=build-fuzz
mkdir -p "$out/objects"
flags=(-std=c++20 -O1 -g -Isrc -ffp-contract=off -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=all)
failed=0

# An object is up to date when its .d file exists and every file it lists
# exists and is no newer than the object.
up_to_date() {
  local object=$1 dependency
  [ -e "$object" ] && [ -e "${object%.o}.d" ] || return 1
  for dependency in $(sed -e 's/^[^:]*://' -e 's/\\$//' "${object%.o}.d"); do
    [ -e "$dependency" ] && [ ! "$dependency" -nt "$object" ] || return 1
  done
}

# Every .cpp of the library folders; the run sequence and the programs'
# mains stay out, as each target brings its own entry point.
objects=()
for source in src/format/*.cpp src/io/*.cpp src/records/*.cpp src/mesh/*.cpp src/reading/*.cpp \
              src/writing/*.cpp src/geometry/*.cpp src/check/*.cpp; do
  [ -e "$source" ] || continue
  [ "$(basename "$source")" = main.cpp ] && continue
  # The remesh is no target's: CGAL's mesh processing would only slow the build.
  [ "$source" = src/geometry/remesh.cpp ] && continue
  object="$out/objects/$(echo "${source%.cpp}" | tr / _).o"
  # CGAL's interval arithmetic (the nesting of shells) needs the rounding
  # mode respected.
  extra=()
  [ "$source" = src/geometry/nesting.cpp ] && extra=(-frounding-math)
  # Built again only when the source or a header it includes (listed by the
  # compiler in the .d file beside the object) is newer than the object.
  if up_to_date "$object"; then
    objects+=("$object")
    continue
  fi
  # -fsanitize=fuzzer-no-link: instrumented for coverage, without a second main.
  if clang++ "${flags[@]/-fsanitize=fuzzer,/-fsanitize=fuzzer-no-link,}" "${extra[@]}" -c "$source" \
    -MMD -MF "${object%.o}.d" -o "$object"; then
    objects+=("$object")
  else
    echo "== $source does not build"
    failed=1
  fi
done
rm -f "$out/product.a"
ar rcs "$out/product.a" "${objects[@]}"

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for source in fuzz/*_fuzz.cpp; do
    name=$(basename "$source" .cpp)
    targets+=("${name%_fuzz}")
  done
fi

for target in "${targets[@]}"; do
  # CGAL's exact fallback of its predicates is GMP and MPFR.
  if ! clang++ "${flags[@]}" "fuzz/${target}_fuzz.cpp" "$out/product.a" -lgmp -lmpfr \
    -o "$out/${target}_fuzz"; then
    echo "== fuzz target $target does not build"
    failed=1
    continue
  fi
  # Seeds: fuzz/<target>_seeds/ when there is one; the scanner starts from the
  # test models. Inputs longer than a target reads are cut.
  corpus="$out/corpus-$target"
  mkdir -p "$corpus"
  if [ -d "fuzz/${target}_seeds" ]; then cp "fuzz/${target}_seeds/"* "$corpus/"; fi
  max_len=4096
  case "$target" in
    scanner) cp tests/data/*.stl "$corpus/"; max_len=8192 ;;
    coordinate) max_len=79 ;;  # the columns of a vertex line a token can take
    fields) max_len=400 ;;     # forty 10-byte records
    check_geometry) max_len=400 ;;  # soups of up to 133 facets named from the palette
  esac
  rm -f "$out/$target-"crash-* "$out/$target-"timeout-* "$out/$target-"oom-*
  echo "== fuzzing $target for ${seconds}s"
  # Reports of the product go to standard error, thousands of them: closed.
  # Freed memory waits in a quarantine of 64 MB rather than 256 before it is
  # reused, as is usual for fuzzing: a target that allocates per input then
  # runs on pages already mapped instead of faulting in fresh ones.
  # One process per target: nothing else adds to its corpus, so the corpus
  # is not read again from the disk every few seconds (-reload=0), which
  # with thousands of seeds cost more than the inputs themselves.
  ASAN_OPTIONS=detect_leaks=0:quarantine_size_mb=64 "$out/${target}_fuzz" -max_total_time="$seconds" -close_fd_mask=2 -reload=0 \
    -max_len="$max_len" -print_final_stats=1 -artifact_prefix="$out/$target-" "$corpus" 2>&1 |
    grep -E "^(stat::|#[0-9]+ +DONE|==|SUMMARY|Done)" || true
  # libFuzzer leaves a crash-, timeout- or oom- file behind for every fault it found.
  if compgen -G "$out/$target-crash-*" >/dev/null || compgen -G "$out/$target-timeout-*" >/dev/null ||
     compgen -G "$out/$target-oom-*" >/dev/null; then
    echo "fuzzing $target found a fault: $(ls "$out/$target-"*)"
    failed=1
  fi
done
exit "$failed"
