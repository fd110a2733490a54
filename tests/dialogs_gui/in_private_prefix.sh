#!/usr/bin/env bash
# Runs a Windows program that opens windows in a private copy of the Wine
# prefix (the dialogs write user settings), on the test display.
# usage: in_private_prefix.sh TRIPLET PREFIX_DIR PROGRAM ARGS...
set -u
triplet=$1 dir=$(realpath -m "$2"); shift 2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$here/scripts/env.sh"
quillnet_gui_test_setup "$triplet"
xdpyinfo >/dev/null 2>&1 || { echo "skipped: the test display $DISPLAY did not come up"; exit 77; }
quillnet_wine_ready
if [ ! -f "$dir/.quillnet-dialogs" ]; then
  rm -rf "$dir"
  mkdir -p "$(dirname "$dir")"
  cp -a "$WINEPREFIX" "$dir" || { echo "cannot copy the Wine prefix"; exit 1; }
  touch "$dir/.quillnet-dialogs"
fi
export WINEPREFIX=$dir
setsid "$wine" wineboot </dev/null >/dev/null 2>&1
out=$(mktemp /tmp/quillnet-dialogs.XXXXXX)
"$wine" "$@" </dev/null >"$out" 2>&1
rc=$?
cat "$out"
rm -f "$out"
/usr/bin/wineserver -k 2>/dev/null
exit $rc
