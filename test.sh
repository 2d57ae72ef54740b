#!/usr/bin/env bash
# Builds Korvi and its tests into build/ (installing what is missing first) and runs the suite.
set -euo pipefail
cd "$(dirname "$0")"
tools/setup.sh --tests
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
cd build
ctest --output-on-failure -j2 --timeout 600
