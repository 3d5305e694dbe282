#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds the tool, repairs a copy of the bundled broken recording and shows its header before and after.
set -e
cd "$(dirname "$0")/.."
cmake --workflow --preset release >/dev/null
mkdir -p build/example
cp examples/broken.wav build/example/broken.wav
cd build/example
echo "Before: the data chunk's size (bytes 40-43) reads 0"
od -A d -t x1z -N 48 broken.wav
../release/wavmend_32bit broken.wav
echo "After: it reads 4000, the bytes that follow it"
od -A d -t x1z -N 48 broken.wav
../release/wavmend_32bit broken.wav
