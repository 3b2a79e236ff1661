#!/usr/bin/env bash
# Sets up, builds and starts the viewer. On a first run (no settings file yet) the
# settings point the viewer at the sample templates that the build makes, so a real
# preview shows at once.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"

# The viewer keeps its settings beside itself when that folder is writable or already
# holds them, otherwise in the user's configuration folder.
bin="$root/build/bin"
ini="$bin/plmlooker.ini"
if [ ! -e "$ini" ] && [ ! -w "$bin" ]; then
  ini="${XDG_CONFIG_HOME:-$HOME/.config}/plmlooker/plmlooker.ini"
fi
if [ ! -e "$ini" ]; then
  mkdir -p "$(dirname "$ini")"
  printf '[General]\r\nLastFolder=%s\r\n' "$root/build/samples" > "$ini"
fi

# The browser engine refuses to run as root with its sandbox on.
if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
exec "$bin/plmlooker" "$@"
