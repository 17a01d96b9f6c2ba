#!/usr/bin/env bash
# Builds and runs every test three times: in a plain Release build with g++,
# in a build with AddressSanitizer and UndefinedBehaviorSanitizer, and in one
# with ThreadSanitizer; clang++ builds the whole tree too (tests and
# benchmarks), with warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
# One clang-format version, named by the set-up (clang-format-16).
clang_format=$(tools/setup.sh --clang-format)
tools/setup.sh python3-vtk9 python3-meshio valgrind "$clang_format" strace clang man-db dpkg-dev \
  admesh libcgal-dev

# The code's layout is checked first: a formatting slip fails fast. Only the pinned version
# counts, since another lays out the same code differently.
clang_format_version=$("$clang_format" --version)
[[ $clang_format_version == *" version ${clang_format#clang-format-}."* ]] || {
  echo "test.sh: $clang_format is not version ${clang_format#clang-format-}: $clang_format_version" >&2
  exit 1
}
"$clang_format" --dry-run --Werror src/*/*.cpp src/*/*.h src/*.cpp src/*.h tests/*.cpp tests/*.h \
  bench/*.cpp fuzz/*.cpp
# The README's and docs/' links lead somewhere, and the README opens with its two commands.
tools/check_docs.sh

# STLDECK_TESTS=ON each time: a build folder configured without the tests (as the README's
# install does) would otherwise keep that setting and run no test at all.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DSTLDECK_BENCH=ON -DSTLDECK_TESTS=ON
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2
# The README's first command, as a newcomer runs it.
demo_output=$(tools/demo.sh)
[[ $demo_output == *"Translation from STL data to BEM input is done!"* ]] || {
  echo "test.sh: tools/demo.sh did not convert the sample: $demo_output" >&2
  exit 1
}

CXX=clang++ cmake -S . -B build-clang -DCMAKE_BUILD_TYPE=Release -DSTLDECK_BENCH=ON -DSTLDECK_TESTS=ON
cmake --build build-clang -j2

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTLDECK_SANITIZE=ON -DSTLDECK_TESTS=ON
cmake --build build-asan -j2
ctest --test-dir build-asan --output-on-failure -j2

# The conversion runs on two threads: the tests once more under ThreadSanitizer.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTLDECK_SANITIZE_THREAD=ON -DSTLDECK_TESTS=ON
cmake --build build-tsan -j2
ctest --test-dir build-tsan --output-on-failure -j2
