#!/bin/sh
# Runs a test on an X server of its own when the tests run under X: a test that activates
# its window then holds the keyboard focus without a test running beside it taking it away.
# Offscreen, or with no X server at hand, the test runs as it is.
if [ -z "$DISPLAY" ] || [ "$QT_QPA_PLATFORM" = offscreen ] || ! command -v Xvfb >/dev/null 2>&1; then
  exec "$@"
fi
dir=$(mktemp -d) || exit 1
mkfifo "$dir/display" || exit 1
# The server writes its display number on the pipe once it takes connections.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$dir/display" 2>"$dir/log" &
server=$!
trap 'kill "$server" 2>/dev/null; rm -rf "$dir"' EXIT
trap 'exit 143' INT TERM
read -r number <"$dir/display"
if [ -z "$number" ]; then
  cat "$dir/log" >&2
  echo "own_display: the X server did not start" >&2
  exit 1
fi
DISPLAY=":$number" "$@"
