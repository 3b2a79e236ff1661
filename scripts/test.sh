#!/usr/bin/env bash
# Sets up, builds and runs every test: once in a normal build (windows under Xvfb),
# once with AddressSanitizer and UndefinedBehaviorSanitizer (offscreen), where the
# fuzz targets also run for a fixed number of inputs. Any failure or report fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/setup.sh

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
export QTWEBENGINE_DISABLE_SANDBOX=1
(cd build && xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" ctest --output-on-failure -j"$jobs" --timeout 600)

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DPLM_SANITIZE=ON -DPLM_FUZZ=ON -DPLM_BENCH=OFF
cmake --build build-asan -j"$jobs"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="new_delete_type_mismatch=0:detect_leaks=1:abort_on_error=0"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
(cd build-asan && ctest --output-on-failure -j"$jobs" --timeout 900)
