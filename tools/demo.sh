#!/usr/bin/env bash
# Builds the converter and converts the bundled sample model.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh libcgal-dev
cmake -S . -B build-demo -DCMAKE_BUILD_TYPE=Release -DSTLDECK_TESTS=OFF >/dev/null
cmake --build build-demo -j2 --target stldeck >/dev/null
mkdir -p build-demo/sample
cp examples/STL_Model.stl build-demo/sample/
(cd build-demo/sample && ../stldeck)
echo
echo "Written: $(pwd)/build-demo/sample/input.dat and $(pwd)/build-demo/sample/input.plt"
