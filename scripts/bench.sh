#!/usr/bin/env bash
# Builds and runs every benchmark (bench/*), each against its named peer in the same run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"
export QTWEBENGINE_DISABLE_SANDBOX=1
for b in build/bin/bench_*; do
  [ -x "$b" ] || continue
  echo "== $b"
  xvfb-run -a -s "-screen 0 1280x1024x24" "$b"
done
