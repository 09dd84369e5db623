#!/usr/bin/env bash
# Sets up the machine, builds the programs and runs the main job on the sample disk image.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C build/release -j"$(nproc)" trawlex
mkdir -p out
truncate -s 64M out/sample.img
build/release/bin/trawlex types
build/release/bin/trawlex info out/sample.img
