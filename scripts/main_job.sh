#!/usr/bin/env bash
# Sets up the machine, builds the programs, makes the sample disk image (real files
# of 16 kinds written to a FAT disk and deleted) and recovers them with trawlex.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C build/release -j"$(nproc)" trawlex trawlex-finder
bash scripts/make_sample_image.sh out/sample
rm -rf out/recovered out/recovered-real-ends
echo
echo "== trawlex recover out/sample/sample.img -o out/recovered"
build/release/bin/trawlex recover out/sample/sample.img -o out/recovered
echo
echo "== the folder of saved files"
ls -l out/recovered
echo
echo "== trawlex recover out/sample/sample.img -o out/recovered-real-ends --real-ends"
build/release/bin/trawlex recover out/sample/sample.img -o out/recovered-real-ends --real-ends
echo
echo "== the folder of saved files, each cut where its format ends"
ls -l out/recovered-real-ends

# With a display, the desktop program opens on the same image.
if [ -n "${DISPLAY:-}" ]; then
  echo
  echo "== starting trawlex-finder on out/sample/sample.img"
  build/release/bin/trawlex-finder out/sample/sample.img &
fi
