#!/usr/bin/env bash
# The client under Wine against a minimal Win32 program measured in the same
# run: start-up to a visible window (median of 5 starts each, alternating),
# CPU of the idle main window with its tray icon over 60 s after a login,
# and resident private memory after the login. The client logs in to the
# reference account service on loopback.
# usage: bench/client_wine.sh [BUILD_DIR]   (configure win64 with -DQUILLNET_BENCH=ON,
#        build Quillnet, gui_probe and minimal_window, and the linux preset's service)
#   QUILLNET_ACCOUNT_SERVICE  another build's quillnet-account-service
#   QUILLNET_IDLE_SECONDS     how long the idle CPU is measured (60)
#   QUILLNET_STARTUP_ONLY=1   stop after the start-up figure
#   QUILLNET_STARTUP_TRACE=1  each client start appends its phases to
#                             startup-trace.txt beside its copy (BUILD_DIR/bench-client/client)
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$here/build/win64}
. "$here/scripts/env.sh"
quillnet_gui_test_setup x86_64-w64-mingw32
service=${QUILLNET_ACCOUNT_SERVICE:-$here/build/linux/bin/quillnet-account-service}
idle=${QUILLNET_IDLE_SECONDS:-60}
work=$build/bench-client
rm -rf "$work"
mkdir -p "$work"
cp -a "$WINEPREFIX" "$work/prefix"
export WINEPREFIX=$work/prefix
setsid "$wine" wineboot </dev/null >/dev/null 2>&1
pids=()
trap 'for p in "${pids[@]}"; do kill $p 2>/dev/null; done; /usr/bin/wineserver -k 2>/dev/null' EXIT
probe() { "$wine" "$build/bin/gui_probe.exe" "$@" </dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# The client logs in over verified HTTPS only: the service answers with the
# test CA's certificate, which the client trusts through CaFile.
pki=$(bash "$here/scripts/test-pki")
sed -e 's/^HttpPort=.*/HttpPort=0/' -e 's/^HttpsPort=.*/HttpsPort=0/' \
    -e "s|^\\[Service\\]\$|[Service]\\nCertificateFile=$pki/server.pem\\nKeyFile=$pki/server.key|" \
    "$here/tools/account-service/demo.ini" >"$work/service.ini"
"$service" "$work/service.ini" >"$work/service.out" 2>"$work/service.log" &
pids+=($!)
# until_seen PATTERN FILE SECONDS: waits for a line of FILE to match.
until_seen() {
  local i
  for ((i = 0; i < $3 * 20; i++)); do grep -q "$1" "$2" 2>/dev/null && return 0; sleep 0.05; done
  echo "\"$1\" did not show in $2 within $3 s" >&2
  return 1
}
until_seen '^ready' "$work/service.out" 30
port=$(sed -n 's/^https \([0-9]*\)$/\1/p' "$work/service.out")
[ -n "$port" ] || { echo "the account service gave no HTTPS port" >&2; cat "$work/service.log" >&2; exit 1; }
mkdir -p "$work/client"
cp "$build/bin/Quillnet.exe" "$work/client/"
# As installed: the bind module beside the client, which a start registers.
[ ! -f "$build/bin/QuillnetBind.dll" ] || cp "$build/bin/QuillnetBind.dll" "$work/client/"
cp "$pki/ca.pem" "$work/client/quillnet-test-ca.pem"
printf '[Main]\r\nLoginHosts=https://127.0.0.1:%s/\r\nCaFile=quillnet-test-ca.pem\r\n' "$port" \
  >"$work/client/Quillnet.exe.ini"
client=$work/client/Quillnet.exe baseline=$build/bin/minimal_window.exe

# start_ms PROGRAM TITLE: sets $ms, from the start to a visible window, and
# leaves the program running as $started.
start_ms() {
  local program=$1 title=$2 out=$work/stopwatch
  rm -f "$out"
  "$wine" "$build/bin/gui_probe.exe" stopwatch "$title" 60 </dev/null >"$out" 2>&1 &
  local watch=$!
  until_seen ready "$out" 30
  local t0
  t0=$(date +%s%N)
  "$wine" "$program" </dev/null >/dev/null 2>&1 &
  started=$!
  wait "$watch" || { echo "$title: no visible window within 60 s" >&2; return 1; }
  ms=$(( ($(tr -d '\r' <"$out" | tail -n 1) - t0) / 1000000 ))
}

stop() { probe close "$1" 15 >/dev/null || kill "$2"; wait "$2" 2>/dev/null || true; }

client_ms=() baseline_ms=()
for i in 1 2 3 4 5; do
  start_ms "$baseline" 'Quillnet Baseline'; baseline_ms+=("$ms"); stop 'Quillnet Baseline' "$started"
  start_ms "$client" main; client_ms+=("$ms"); stop Quillnet "$started"
done
median() { printf '%s\n' "$@" | sort -n | sed -n 3p; }
cm=$(median "${client_ms[@]}") bm=$(median "${baseline_ms[@]}")
echo "start-up to a visible window: client ${client_ms[*]} ms, baseline ${baseline_ms[*]} ms"
echo "  medians: client $cm ms, baseline $bm ms, ratio $(python3 -c "print(f'{$cm/$bm:.2f}')") (goal: at most 2)"
[ -z "${QUILLNET_STARTUP_ONLY:-}" ] || exit 0

# Idle: both running side by side, the client logged in and at rest.
"$wine" "$baseline" </dev/null >/dev/null 2>&1 & bpid=$!; pids+=($bpid)
"$wine" "$client" </dev/null >/dev/null 2>&1 & cpid=$!; pids+=($cpid)
probe main 60 >/dev/null
probe status 127.0.0.1 30 1013 >/dev/null
probe login demo quillnet
# The one-time tip shows only on a prefix's first Connect and a busy machine
# takes its time over each step: answer whatever shows until the chooser is
# up, then cancel it, which leaves the window logged in and at rest.
chooser=
for _ in $(seq 1 40); do
  probe wait 'Choose a VPN Server' 1 >/dev/null 2>&1 && { chooser=1; break; }
  probe box 'After login, Quillnet will be minimized' 1 >/dev/null 2>&1 ||
    probe box 'Welcome to the Quillnet demo.' 1 >/dev/null 2>&1 || :
done
[ -n "$chooser" ] || { echo "the login did not open the server chooser" >&2; exit 1; }
probe press 'Choose a VPN Server' 2 10
probe status 'Login is cancelled' 30 >/dev/null
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_anon() { awk '/^RssAnon:/ {print $2}' "/proc/$1/status"; }
hz=$(getconf CLK_TCK)
c0=$(ticks $cpid) b0=$(ticks $bpid)
sleep "$idle"
c1=$(ticks $cpid) b1=$(ticks $bpid)
python3 - "$c0" "$c1" "$b0" "$b1" "$hz" "$idle" <<'PY'
import sys
c0, c1, b0, b1, hz, idle = map(int, sys.argv[1:])
c = (c1 - c0) / hz / idle * 100
b = (b1 - b0) / hz / idle * 100
print(f"idle CPU over {idle} s: client {c:.2f}% of one core, baseline {b:.2f}% (goal: client under 0.5%)")
PY
echo "resident private memory (RssAnon) after login and chooser step: client $(rss_anon $cpid) KiB, baseline $(rss_anon $bpid) KiB"
