#!/usr/bin/env bash
# Builds and runs every test three times: in a plain Release build with g++,
# in a build with AddressSanitizer and UndefinedBehaviorSanitizer, and in one
# with ThreadSanitizer; clang++ builds the whole tree too (tests and
# benchmarks), with warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh python3-vtk9 python3-meshio valgrind clang-format strace clang man-db dpkg-dev \
  libcgal-dev \
  admesh

# The code's layout is checked first: a formatting slip fails fast.
clang-format --dry-run --Werror src/*/*.cpp src/*/*.h src/*.cpp src/*.h tests/*.cpp tests/*.h \
  bench/*.cpp fuzz/*.cpp

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DSTLDECK_BENCH=ON
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2

CXX=clang++ cmake -S . -B build-clang -DCMAKE_BUILD_TYPE=Release -DSTLDECK_BENCH=ON
cmake --build build-clang -j2

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTLDECK_SANITIZE=ON
cmake --build build-asan -j2
ctest --test-dir build-asan --output-on-failure -j2

# The conversion runs on two threads: the tests once more under ThreadSanitizer.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTLDECK_SANITIZE_THREAD=ON
cmake --build build-tsan -j2
ctest --test-dir build-tsan --output-on-failure -j2
