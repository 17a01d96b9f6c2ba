#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (with ASan and UBSan) and
# runs each for a bounded time: tools/fuzz.sh [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
tools/setup.sh clang libclang-rt-14-dev

out=build-fuzz
mkdir -p "$out"
flags=(-std=c++20 -O1 -g -Isrc -ffp-contract=off -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=all)
product=(src/records/*.cpp src/reading/coordinate.cpp src/mesh/mesh_store.cpp
         src/reading/stl_scanner.cpp)

for target in coordinate scanner; do
  clang++ "${flags[@]}" "fuzz/${target}_fuzz.cpp" "${product[@]}" -o "$out/${target}_fuzz"
  corpus="$out/corpus-$target"
  mkdir -p "$corpus"
  if [ "$target" = scanner ]; then
    cp tests/data/*.stl "$corpus/"
  else
    cp fuzz/coordinate_seeds/* "$corpus/"
  fi
  echo "== fuzzing $target for ${seconds}s"
  # The scanner's reports go to standard error, thousands of them: closed.
  ASAN_OPTIONS=detect_leaks=0 "$out/${target}_fuzz" -max_total_time="$seconds" -close_fd_mask=2 \
    -max_len=$([ "$target" = scanner ] && echo 8192 || echo 79) -print_final_stats=1 \
    -artifact_prefix="$out/$target-" "$corpus" 2>&1 | grep -E "^(stat::|#[0-9]+ +DONE|==|SUMMARY|Done)" || true
  # libFuzzer leaves a crash-* file behind for every fault it found.
  if compgen -G "$out/$target-crash-*" >/dev/null || compgen -G "$out/$target-timeout-*" >/dev/null; then
    echo "fuzzing $target found a fault: $(ls "$out/$target-"*)"
    exit 1
  fi
done
