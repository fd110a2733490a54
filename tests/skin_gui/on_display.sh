#!/usr/bin/env bash
# Runs a Windows test program that opens windows: makes sure the test display
# is up first (Wine hangs without one), then runs it like any Wine test.
# usage: on_display.sh WINE_RUN TRIPLET PROGRAM ARGS...
set -u
wine_run=$1; shift
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$here/scripts/env.sh"
command -v Xvfb >/dev/null || { echo "skipped: no Xvfb"; exit 77; }
if ! xdpyinfo >/dev/null 2>&1; then
  setsid Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
fi
xdpyinfo >/dev/null 2>&1 || { echo "skipped: the test display $DISPLAY did not come up"; exit 77; }
exec bash "$wine_run" "$@"
