#!/usr/bin/env bash
# The protection choices and the reconnect in the real Quillnet.exe under
# Wine: the three boxes under the status line start checked, a change is
# kept across a restart; with a stand-in openvpn that loses its server
# after a few seconds, the window says it is reconnecting and the tunnel
# comes back without a box, and Disconnect ends it. Keeps screenshots.
# usage: protection.sh QUILLNET_EXE PROBE_EXE FAKE_OPENVPN_EXE SERVICE_EXE TRIPLET WORK_DIR SCREENSHOT_DIR
set -u
exe=$1 probe=$2 fake_openvpn=$3 service=$4 triplet=$5 work=$6 shots=$7
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$here/tests/gui/client_lib.sh"

leak=1050 lan=1051 reconnect=1052

one_openvpn_server() {
  awk -v servers="$(printf 'ServerId0=3\nTitle0=Tokyo 1\nComment0=loopback\nLoad0=0.35\nServerHost0=127.0.0.4\nProtocols0=openvpn\nOpenVpn0=--proto udp --port 1194\nCategories0=asia')" '
    /^RequiredOpenVpnVersion=/ { print "RequiredOpenVpnVersion=2.1.4.1"; next }
    /^\[Servers\]$/ { print; print servers; skip = 1; next }
    /^\[/ { skip = 0 }
    !skip { print }' <<<"$demo"
}

# --- the boxes: on at first, a change kept across a restart ------------------
start_service choices "$(one_openvpn_server)"
choices_port=$port
start_client choices "$choices_port"
probe main 60 >/dev/null || fail "choices: no main window"
for box in $leak $lan $reconnect; do
  probe checked $box 1 10 || fail "choices: box $box is not checked at first"
done
probe shot main "$(winpath "$shots/main-window-protection.png")" || fail "choices: screenshot"
probe toggle $lan || fail "choices: no main window to toggle in"
probe checked $lan 0 10 || fail "choices: the local-network box did not clear"
sleep 1
stop_client choices
start_client choices "$choices_port"
probe main 60 >/dev/null || fail "choices-again: no main window"
probe checked $lan 0 10 || fail "choices-again: the cleared local-network box was not kept"
probe checked $leak 1 5 || fail "choices-again: leak protection changed by itself"
probe checked $reconnect 1 5 || fail "choices-again: reconnect changed by itself"
probe toggle $lan && probe checked $lan 1 10 || fail "choices-again: the local-network box did not check again"
stop_client choices

# --- a drop: reconnecting on the status line, back without a box -------------
start_client drop "$choices_port"
dir=$work/client-drop/openvpn
mkdir -p "$dir/driver_x64" "$dir/driver_x86"
cp "$fake_openvpn" "$dir/openvpn.exe"
: >"$dir/ca.crt"
for d in driver_x64 driver_x86; do
  for f in OemWin2k.inf tap0901_openvpn_accl.cat tap0901_openvpn_accl.sys tapinstall.exe; do : >"$dir/$d/$f"; done
done
runs() { [ -f "$dir/fake-openvpn.runs" ] && wc -l <"$dir/fake-openvpn.runs" || echo 0; }
wait_runs() { # COUNT SECONDS
  for _ in $(seq 1 $(($2 * 10))); do [ "$(runs)" -ge "$1" ] && return 0; sleep 0.1; done
  return 1
}
connect_demo() { # NAME
  probe login demo quillnet
  probe box 'Welcome to the Quillnet demo.' 30 >/dev/null || fail "$1: no welcome message"
  probe wait 'Choose a VPN Server' 30 || fail "$1: the login did not open the chooser"
  probe click 'Choose a VPN Server' 1021 60 28 || fail "$1: no server list to click"
  probe press 'Choose a VPN Server' 1 10 || fail "$1: could not press Connect in the chooser"
  probe box 'OpenVPN Tap driver' 30 >/dev/null || fail "$1: no word about the missing adapter"
  probe box 'OpenVPN driver can not be installed' 60 >/dev/null || fail "$1: no word that the driver cannot be installed"
  probe status 'Login succeeded' 60 >/dev/null || fail "$1: never connected"
}
probe main 60 >/dev/null || fail "drop: no main window"
probe status 127.0.0.1 30 1013 >/dev/null || fail "drop: the host probe never won"
probe login demo quillnet
probe box 'After login, Quillnet will be minimized' 20 >/dev/null
probe box 'Welcome to the Quillnet demo.' 30 >/dev/null || fail "drop: no welcome message"
probe wait 'Choose a VPN Server' 30 || fail "drop: the login did not open the chooser"
printf drop >"$dir/fake-openvpn.mode"
probe click 'Choose a VPN Server' 1021 60 28 || fail "drop: no server list to click"
probe press 'Choose a VPN Server' 1 10 || fail "drop: could not press Connect in the chooser"
probe box 'OpenVPN Tap driver' 30 >/dev/null || fail "drop: no word about the missing adapter"
probe box 'OpenVPN driver can not be installed' 60 >/dev/null || fail "drop: no word that the driver cannot be installed"
probe status 'Login succeeded' 60 >/dev/null || fail "drop: never connected"
# The next tunnel never completes: the line says reconnecting until Disconnect.
printf hold >"$dir/fake-openvpn.mode"
probe tray 515 && probe main 10 >/dev/null || fail "drop: the window did not come back from the tray"
wait_runs 2 60 || fail "drop: no reconnect attempt after the drop"
probe status 'reconnecting' 30 >/dev/null || fail "drop: the drop did not show reconnecting"
probe shot main "$(winpath "$shots/main-window-reconnecting.png")" || fail "drop: screenshot"
probe enabled 1004 5 || fail "drop: Disconnect is not enabled while reconnecting"
probe enabled 1003 5 0 || fail "drop: Connect is enabled while reconnecting"
probe box '' 1 >/dev/null 2>&1 && fail "drop: a box appeared during the reconnect"
probe command 1004 >/dev/null
probe status 'VPN has already been disconnected' 20 >/dev/null || fail "drop: Disconnect did not end the reconnect"
probe enabled 1003 10 || fail "drop: Connect is not enabled after Disconnect"
# Dropped again, the next tunnel holds: back without a box, the window left as it was.
printf drop >"$dir/fake-openvpn.mode"
before=$(runs)
connect_demo drop-again
printf connect >"$dir/fake-openvpn.mode"
wait_runs $((before + 2)) 60 || fail "drop-again: no reconnect attempt after the drop"
probe status 'Login succeeded' 60 >/dev/null || fail "drop-again: the tunnel did not come back"
# Longer than a dropping tunnel lives: this one stays.
settled=$(runs)
sleep 5
probe status 'Login succeeded' 1 >/dev/null || fail "drop-again: the tunnel did not stay"
[ "$(runs)" = "$settled" ] || fail "drop-again: openvpn started again after the reconnect"
probe box '' 1 >/dev/null 2>&1 && fail "drop-again: a box appeared during the reconnect"
probe command 1004 >/dev/null
probe status 'VPN has already been disconnected' 20 >/dev/null || fail "drop-again: Disconnect did not end it"
stop_client drop

[ "$failures" = 0 ] || { echo "$failures failures; logs in $work"; exit 1; }
echo "PASS: protection boxes on at first and kept, a drop shows reconnecting and comes back without a box, Disconnect ends it; screenshots in $shots"
