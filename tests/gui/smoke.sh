#!/usr/bin/env bash
# Starts the real Quillnet.exe under Wine on the test display, checks that its
# main window appears with the right version resource, keeps a screenshot, and
# closes it the way a user would (WM_CLOSE), expecting a clean exit. The client
# runs from a folder of its own whose override file points its login hosts at
# a closed loopback port (nothing leaves the machine), in a private copy of the
# prefix (its start-up writes settings and registers the bind module).
# usage: smoke.sh QUILLNET_EXE TRIPLET ARTIFACT_DIR
set -u
exe=$1 triplet=$2 out=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$here/scripts/env.sh"
probe="$(dirname "$exe")/gui_probe.exe"
mkdir -p "$out"

quillnet_gui_test_setup "$triplet"

quillnet_wine_ready
mkdir -p "$out" && out=$(cd "$out" && pwd)
prefix=$out/wineprefix-smoke
rm -rf "$prefix"
cp -a "$WINEPREFIX" "$prefix" || { echo "cannot copy the Wine prefix"; exit 1; }
export WINEPREFIX=$prefix
setsid "$wine" wineboot </dev/null >/dev/null 2>&1
trap 'WINEPREFIX=$prefix /usr/bin/wineserver -k 2>/dev/null' EXIT
app=$out/smoke-client
mkdir -p "$app"
cp "$exe" "$app/Quillnet.exe"
printf '[Main]\r\nLoginHosts=http://127.0.0.1:9/\r\n' >"$app/Quillnet.exe.ini"

fail() { echo "FAIL: $*"; [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null; exit 1; }

version=$("$wine" "$probe" version "Z:${exe//\//\\}" | tr -d '\r')
echo "$version"
grep -qx 'FileVersion=2.3.0.2' <<<"$version" || fail "version resource"
grep -qE '^BuildDate=[0-9]{4}-[0-9]{2}-[0-9]{2}$' <<<"$version" || fail "BuildDate"

"$wine" "$app/Quillnet.exe" </dev/null >"$out/quillnet-$triplet.log" 2>&1 &
pid=$!
"$wine" "$probe" main 60 || fail "no main window titled Quillnet within 60 s"
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

# Told it runs on Windows XP, the client says which Windows it needs and ends
# without a window.
app_key='HKCU\Software\Wine\AppDefaults\Quillnet.exe'
"$wine" reg add "$app_key" /v Version /t REG_SZ /d winxp /f >/dev/null 2>&1 || fail "cannot set the version Wine reports"
"$wine" "$app/Quillnet.exe" </dev/null >"$out/quillnet-old-system-$triplet.log" 2>&1 &
pid=$!
"$wine" "$probe" box "Windows 7 Service Pack 1 or later" 60 || fail "no message naming the oldest supported Windows"
for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "Quillnet.exe still running on an older system after its message"
wait "$pid"; rc=$?
[ "$rc" = 1 ] || fail "Quillnet.exe exited with $rc on an older system, not 1"
[ "$("$wine" "$probe" count | tr -d '\r')" = 0 ] || fail "a main window exists on an older system"
"$wine" reg delete "$app_key" /f >/dev/null 2>&1
echo "PASS: window shown, screenshot kept, closed cleanly; an older system refused"
