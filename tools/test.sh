#!/usr/bin/env bash
# Builds and runs every test twice: in a plain Release build, and in a build
# with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh python3-vtk9 python3-meshio valgrind clang-format strace

# The code's layout is checked first: a formatting slip fails fast.
clang-format --dry-run --Werror src/*/*.cpp src/*/*.h src/main.cpp tests/*.cpp tests/*.h \
  bench/*.cpp fuzz/*.cpp

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTLDECK_SANITIZE=ON
cmake --build build-asan -j2
ctest --test-dir build-asan --output-on-failure -j2
