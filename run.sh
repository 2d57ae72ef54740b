#!/usr/bin/env bash
# Builds Korvi into build/ (installing what is missing first) and starts it.
set -euo pipefail
cd "$(dirname "$0")"
tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
exec build/korvi
