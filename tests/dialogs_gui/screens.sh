#!/usr/bin/env bash
# Screenshots of the chooser and the accelerate dialogs, each on its own
# through the dialogs driver, checked for their sizes.
# usage: screens.sh DRIVER_EXE TRIPLET OUT_DIR
set -u
exe=$1 triplet=$2 out=$3
mkdir -p "$out" && out=$(cd "$out" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
prefix=$(dirname "$out")/wineprefix-dialogs
failures=0
shot() {
  local mode=$1 size=$2 png="$out/$1.png"
  rm -f "$png"
  timeout 150 bash "$here/in_private_prefix.sh" "$triplet" "$prefix" "$exe" "$mode" "Z:${png//\//\\}"
  local rc=$?
  [ "$rc" = 77 ] && exit 77
  [ "$rc" = 0 ] || { echo "FAIL: $mode exited with $rc"; failures=$((failures + 1)); return; }
  [ "$(identify -format '%wx%h' "$png" 2>/dev/null)" = "$size" ] ||
    { echo "FAIL: no $size screenshot for $mode"; failures=$((failures + 1)); }
}
shot policy-filled 720x420
shot policy-empty 720x420
shot policy-perapp 720x420
shot accel 500x464
shot accel-empty 500x464
shot bind 300x200
[ "$failures" = 0 ] || exit 1
echo "PASS: dialog screenshots in $out"
