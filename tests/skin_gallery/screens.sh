#!/usr/bin/env bash
# Shows the skin gallery and the blocked operation dialog (running the TAP
# driver installation) under Wine at 96 and at 120 dpi and keeps one PNG of
# each window per dpi. The gallery puts the dpi it runs at into its title.
# usage: screens.sh SKIN_GALLERY_EXE TRIPLET OUT_DIR
set -u
exe=$1 triplet=$2 out=$3
mkdir -p "$out" && out=$(cd "$out" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$here/scripts/env.sh"
quillnet_gui_test_setup "$triplet"
mkdir -p "$out"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
winpath() { local p=$1; echo "Z:${p//\//\\}"; }

# run PREFIX DPI: both windows, each checked for its size.
run() {
  local prefix=$1 dpi=$2
  local log="$out/skin-gallery-${dpi}dpi.log"
  local gallery="$out/skin-gallery-${dpi}dpi.png" blocked="$out/blocked-operation-${dpi}dpi.png"
  local main="$out/main-window-skin-${dpi}dpi.png"
  rm -f "$gallery" "$blocked" "$main"
  WINEPREFIX=$prefix timeout 120 "$wine" "$exe" gallery "$(winpath "$gallery")" </dev/null >"$log" 2>&1 ||
    fail "gallery at $dpi dpi exited with $?"
  WINEPREFIX=$prefix timeout 120 "$wine" "$exe" main "$(winpath "$main")" </dev/null >>"$log" 2>&1 ||
    fail "main window at $dpi dpi exited with $?"
  WINEPREFIX=$prefix timeout 120 "$wine" "$exe" blocked "$(winpath "$blocked")" </dev/null >>"$log" 2>&1 ||
    fail "blocked operation dialog at $dpi dpi exited with $?"
  [ "$(identify -format '%wx%h' "$gallery" 2>/dev/null)" = 960x600 ] || fail "no 960x600 gallery screenshot at $dpi dpi"
  [ "$(identify -format '%wx%h' "$blocked" 2>/dev/null)" = 425x90 ] || fail "no 425x90 blocked dialog screenshot at $dpi dpi"
  [ "$(identify -format '%wx%h' "$main" 2>/dev/null)" = 327x464 ] || fail "no 327x464 main window screenshot at $dpi dpi"
  echo "screenshots at $dpi dpi: $gallery $main $blocked"
}

# Each dpi runs in a private copy of the prefix: Wine reads the dpi from the
# user's registry when a program starts, and the display settings of the
# shared prefix are whatever other programs last left there.
quillnet_wine_ready
prefix_for() {
  local dpi=$1 dir
  dir=$(dirname "$out")/wineprefix-${dpi}dpi
  if [ ! -f "$dir/.quillnet-${dpi}dpi" ]; then
    rm -rf "$dir"
    cp -a "$WINEPREFIX" "$dir" || return 1
    WINEPREFIX=$dir setsid "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
      </dev/null >/dev/null 2>&1
    WINEPREFIX=$dir /usr/bin/wineserver -w
    touch "$dir/.quillnet-${dpi}dpi"
  fi
  echo "$dir"
}
for dpi in 96 120; do
  prefix=$(prefix_for "$dpi") || { fail "cannot copy the Wine prefix"; continue; }
  # Its services start detached, so they never hold the caller's output open.
  WINEPREFIX=$prefix setsid "$wine" wineboot </dev/null >/dev/null 2>&1
  run "$prefix" "$dpi"
  WINEPREFIX=$prefix /usr/bin/wineserver -k 2>/dev/null
done

[ "$failures" = 0 ] || exit 1
echo "PASS: gallery and blocked operation dialog shown and kept at 96 and 120 dpi"
