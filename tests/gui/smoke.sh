#!/usr/bin/env bash
# Starts the real Quillnet.exe under Wine on the test display, checks that its
# window appears with the right version resource, keeps a screenshot, and
# closes it the way a user would (WM_CLOSE), expecting a clean exit.
# usage: smoke.sh QUILLNET_EXE TRIPLET ARTIFACT_DIR
set -u
exe=$1 triplet=$2 out=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$here/scripts/env.sh"
probe="$(dirname "$exe")/gui_probe.exe"
mkdir -p "$out"

quillnet_gui_test_setup "$triplet"

quillnet_wine_ready

fail() { echo "FAIL: $*"; [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null; exit 1; }

version=$("$wine" "$probe" version "Z:${exe//\//\\}" | tr -d '\r')
echo "$version"
grep -qx 'FileVersion=2.3.0.2' <<<"$version" || fail "version resource"
grep -qE '^BuildDate=[0-9]{4}-[0-9]{2}-[0-9]{2}$' <<<"$version" || fail "BuildDate"

"$wine" "$exe" >"$out/quillnet-$triplet.log" 2>&1 &
pid=$!
"$wine" "$probe" wait Quillnet 60 || fail "no window titled Quillnet within 60 s"
xwin=$(xdotool search --name '^Quillnet$' 2>/dev/null | head -n 1)
[ -n "$xwin" ] || fail "the Quillnet window is not on the X display"
sleep 1
shot="$out/quillnet-$triplet.png"
import -window root "$shot" 2>/dev/null || fail "screenshot"
echo "screenshot: $shot"
"$wine" "$probe" close Quillnet 15 || fail "window did not close on WM_CLOSE"
for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "Quillnet.exe still running after its window closed"
wait "$pid"; rc=$?
[ "$rc" = 0 ] || fail "Quillnet.exe exited with $rc"
echo "PASS: window shown, screenshot kept, closed cleanly"
