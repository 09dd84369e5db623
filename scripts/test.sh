#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: once in a release
# build, once under AddressSanitizer + UndefinedBehaviorSanitizer, the threaded tests
# under ThreadSanitizer, short fuzzing runs of the detector, the formats, the update control
# file reader, the version block reader and SZDD expansion, and the layout check.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

echo "== release build and tests"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C build/release -j"$jobs"
(cd build/release && ctest --output-on-failure -j"$jobs" --timeout 600)

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTRAWLEX_BENCH=OFF \
  -DTRAWLEX_SANITIZE=address,undefined >/dev/null
ninja -C build/asan -j"$jobs"
(cd build/asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$jobs" --timeout 900)

echo "== ThreadSanitizer (threaded scan tests)"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRAWLEX_BENCH=OFF \
  -DTRAWLEX_GUI=OFF -DTRAWLEX_SANITIZE=thread >/dev/null
ninja -C build/tsan -j"$jobs" recovery_tests
(cd build/tsan && ctest --output-on-failure -j"$jobs" -R 'Threaded|FindsWhatTheDetectorFinds' --timeout 600)

echo "== fuzzing the detector"
CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRAWLEX_GUI=OFF \
  -DTRAWLEX_BENCH=OFF -DTRAWLEX_FUZZ=ON >/dev/null
ninja -C build/fuzz -j"$jobs" detect_fuzzer formats_fuzzer control_file_fuzzer \
  version_block_fuzzer szdd_fuzzer
mkdir -p build/fuzz/corpus build/fuzz/formats-corpus build/fuzz/control-corpus \
  build/fuzz/version-corpus build/fuzz/szdd-corpus
build/fuzz/bin/detect_fuzzer -max_total_time=20 -max_len=4096 -print_final_stats=1 \
  build/fuzz/corpus fuzz/seeds 2>&1 | tail -n 3
echo "== fuzzing the formats' start checks and end finders"
build/fuzz/bin/formats_fuzzer -max_total_time=30 -max_len=8192 -print_final_stats=1 \
  build/fuzz/formats-corpus 2>&1 | tail -n 3
echo "== fuzzing the update control file reader"
build/fuzz/bin/control_file_fuzzer -max_total_time=12 -max_len=4096 -print_final_stats=1 \
  build/fuzz/control-corpus fuzz/seeds-control 2>&1 | tail -n 3
echo "== fuzzing the version block reader"
build/fuzz/bin/version_block_fuzzer -max_total_time=12 -max_len=4096 -print_final_stats=1 \
  build/fuzz/version-corpus fuzz/seeds-version 2>&1 | tail -n 3
echo "== fuzzing SZDD expansion"
build/fuzz/bin/szdd_fuzzer -max_total_time=12 -max_len=4096 -print_final_stats=1 \
  build/fuzz/szdd-corpus fuzz/seeds-szdd 2>&1 | tail -n 3

echo "== layout"
files=$(git ls-files '*.cpp' '*.h')
[ -z "$files" ] || clang-format --dry-run --Werror $files
echo "all test stages passed"
