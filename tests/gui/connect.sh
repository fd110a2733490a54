#!/usr/bin/env bash
# Drives the real Quillnet.exe under Wine through the connect flow against
# the reference account service. Wine's dial-up functions are stubs and it
# has no TAP adapter, so: a server with only dial-up types fails both and
# shows one box listing both reports, Connect enabled again; an OpenVPN
# server with no openvpn beside the client asks whether to update; with a
# stand-in openvpn beside it the client connects, hides to the tray and
# disconnects; Disconnect while connecting ends the attempt and nothing of
# it comes back; closing while connected asks first; an openvpn that
# ignores the exit event is ended all the same. Keeps screenshots.
# usage: connect.sh QUILLNET_EXE PROBE_EXE FAKE_OPENVPN_EXE SERVICE_EXE TRIPLET WORK_DIR SCREENSHOT_DIR
set -u
exe=$1 probe=$2 fake_openvpn=$3 service=$4 triplet=$5 work=$6 shots=$7
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$here/tests/gui/client_lib.sh"

# demo_with SERVER-LINES [REQUIRED-OPENVPN]: the demo service offering only these servers.
demo_with() {
  awk -v servers="$1" -v openvpn="${2:-2.6.0.0}" '
    /^RequiredOpenVpnVersion=/ { print "RequiredOpenVpnVersion=" openvpn; next }
    /^\[Servers\]$/ { print; print servers; skip = 1; next }
    /^\[/ { skip = 0 }
    !skip { print }' <<<"$demo"
}
server_lines() { # ID TITLE PROTOCOLS CATEGORY
  printf 'ServerId0=%s\nTitle0=%s\nComment0=loopback\nLoad0=0.35\nServerHost0=127.0.0.4\nProtocols0=%s\nPPTPUseMPPE0=1\nIPSecSharedKey0=demo\nOpenVpn0=--proto udp --port 1194\nCategories0=%s' "$@"
}

# login_and_choose NAME: logs the demo account in and presses Connect on
# the chooser's only server (its row sits below the 20-pixel header).
login_and_choose() {
  local name=$1
  probe main 60 >/dev/null || fail "$name: no main window"
  probe status 127.0.0.1 30 1013 >/dev/null || fail "$name: the host probe never won"
  probe login demo quillnet
  [ "$name" = dialup ] && { probe box 'After login, Quillnet will be minimized' 20 >/dev/null ||
    fail "the first Connect did not show its one-time tip"; }
  probe box 'Welcome to the Quillnet demo.' 30 >/dev/null || fail "$name: no welcome message"
  probe wait 'Choose a VPN Server' 30 || fail "$name: the login did not open the chooser"
  probe click 'Choose a VPN Server' 1021 60 28 || fail "$name: no server list to click"
  probe press 'Choose a VPN Server' 1 10 || fail "$name: could not press Connect in the chooser"
}

# with_openvpn NAME MODE: the stand-in openvpn and the files the client
# checks for, beside the client of NAME.
with_openvpn() {
  local dir=$work/client-$1/openvpn
  mkdir -p "$dir/driver_x64" "$dir/driver_x86"
  cp "$fake_openvpn" "$dir/openvpn.exe"
  : >"$dir/ca.crt"
  # Empty files: the driver installer fails at once, as it would on a
  # system without the driver's rights.
  for d in driver_x64 driver_x86; do
    for f in OemWin2k.inf tap0901_openvpn_accl.cat tap0901_openvpn_accl.sys tapinstall.exe; do : >"$dir/$d/$f"; done
  done
  printf '%s' "$2" >"$dir/fake-openvpn.mode"
}

# Wine has no TAP adapter: the client says how to get one, cannot install
# it, and goes on.
past_the_adapter() {
  probe box 'OpenVPN Tap driver' 30 >/dev/null || fail "$1: no word about the missing adapter"
  probe box 'OpenVPN driver can not be installed' 60 >/dev/null || fail "$1: no word that the driver cannot be installed"
}

# --- only dial-up types: both fail, one box lists both ----------------------
start_service dialup "$(demo_with "$(server_lines 4 'London 1' pptp,l2tp usa)")"
start_client dialup "$port"
login_and_choose dialup
probe shot Quillnet "$(winpath "$shots/connect-failed-box.png")" || fail "dialup: screenshot of the failure box"
reports=$(probe box 'PPTP: ' 60) || fail "dialup: no box with the PPTP report"
grep -q '^L2TP: ' <<<"$reports" || fail "dialup: the box does not list the L2TP report too: $reports"
probe box 'PPTP: ' 3 >/dev/null 2>&1 && fail "dialup: a second failure box"
probe enabled 1003 10 || fail "dialup: Connect is not enabled again"
probe enabled 1004 5 0 || fail "dialup: Disconnect is still enabled"
stop_client dialup

# --- OpenVPN without openvpn beside the client: the update question ---------
start_service bare "$(demo_with "$(server_lines 3 'Tokyo 1' openvpn asia)" 2.1.4.1)"
start_client bare "$port"
login_and_choose bare
probe shot Quillnet "$(winpath "$shots/connect-openvpn-missing.png")" || fail "bare: screenshot of the question"
probe answer "doesn't have OpenVPN componment" 7 30 >/dev/null || fail "bare: no question about the missing openvpn"
past_the_adapter bare
probe box 'OpenVPN: ' 60 >/dev/null || fail "bare: no box with the OpenVPN report"
probe enabled 1003 10 || fail "bare: Connect is not enabled again"
stop_client bare

# --- the stand-in openvpn: connected, the tray, Disconnect --------------------
start_service tunnel "$(demo_with "$(server_lines 3 'Tokyo 1' openvpn asia)" 2.1.4.1)"
tunnel_port=$port
start_client tunnel "$tunnel_port"
with_openvpn tunnel connect
login_and_choose tunnel
past_the_adapter tunnel
probe status 'Login succeeded' 60 >/dev/null || fail "tunnel: never connected"
probe enabled 1004 5 || fail "tunnel: Disconnect is not enabled while connected"
probe enabled 1003 5 0 || fail "tunnel: Connect is still enabled while connected"
# Connected, the window goes to the tray; a double-click brings it back.
sleep 1
probe main 1 >/dev/null 2>&1 && fail "tunnel: the window stayed up after connecting"
probe tray 515 || fail "tunnel: no main window for the tray message"
probe main 10 >/dev/null || fail "tunnel: a double-click on the tray icon did not show the window"
probe shot main "$(winpath "$shots/main-window-connected.png")" || fail "tunnel: screenshot of the connected window"
probe tray 517 || fail "tunnel: no main window for the tray's right click"
probe menu "$(winpath "$shots/tray-menu-connected.png")" 10 || fail "tunnel: no tray menu"
probe command 1004 || fail "tunnel: no main window for Disconnect"
probe status 'VPN has already been disconnected' 20 >/dev/null || fail "tunnel: Disconnect did not end the connection"
probe enabled 1003 10 || fail "tunnel: Connect is not enabled after Disconnect"
# Closing while connected asks; No keeps the connection and the window.
login_and_choose tunnel-again
past_the_adapter tunnel-again
probe status 'Login succeeded' 60 >/dev/null || fail "tunnel-again: never connected"
probe tray 515 && probe main 10 >/dev/null || fail "tunnel-again: the window did not come back"
probe close main 1 >/dev/null 2>&1
probe answer 'Are you sure to disconnect and exit' 7 20 >/dev/null || fail "tunnel-again: closing did not ask"
sleep 1
probe main 5 >/dev/null || fail "tunnel-again: No to the question closed the window"
probe status 'Login succeeded' 5 >/dev/null || fail "tunnel-again: No to the question ended the connection"
probe close main 1 >/dev/null 2>&1
probe answer 'Are you sure to disconnect and exit' 6 20 >/dev/null || fail "tunnel-again: closing did not ask again"
wait_gone tunnel-again

# --- Disconnect while the tunnel is still coming up --------------------------
start_client hold "$tunnel_port"
with_openvpn hold hold
login_and_choose hold
past_the_adapter hold
probe status 'Authenticat' 30 >/dev/null || fail "hold: the tunnel did not get as far as the peer"
probe command 1004 || fail "hold: no main window for Disconnect"
probe status 'VPN has already been disconnected' 20 >/dev/null || fail "hold: Disconnect did not end the attempt"
probe enabled 1003 10 || fail "hold: Connect is not enabled after Disconnect"
# The ended connection's last reports arrive now and change nothing.
sleep 3
probe box '' 1 >/dev/null 2>&1 && fail "hold: a box appeared after Disconnect"
probe status 'VPN has already been disconnected' 1 >/dev/null || fail "hold: the status changed after Disconnect"
stop_client hold

# --- an openvpn that never looks at the exit event ---------------------------
# Disconnect must still end it (after the grace openvpn gets to clean up).
start_client deaf "$tunnel_port"
with_openvpn deaf deaf
login_and_choose deaf
past_the_adapter deaf
probe status 'Login succeeded' 60 >/dev/null || fail "deaf: never connected"
probe command 1004 || fail "deaf: no main window for Disconnect"
probe status 'VPN has already been disconnected' 40 >/dev/null || fail "deaf: Disconnect did not end the connection"
probe enabled 1003 10 || fail "deaf: Connect is not enabled after Disconnect"
for _ in $(seq 1 50); do pgrep -f 'client-deaf.openvpn.openvpn\.exe' >/dev/null || break; sleep 0.2; done
pgrep -f 'client-deaf.openvpn.openvpn\.exe' >/dev/null && fail "deaf: the openvpn that ignored the exit event is still running"
stop_client deaf

[ "$failures" = 0 ] || { echo "$failures failures; logs in $work"; exit 1; }
echo "PASS: dial-up failures in one box, the missing-openvpn question, connect and Disconnect with a stand-in openvpn, the tray, close asks while connected, Disconnect while connecting, an openvpn deaf to the exit event ended; screenshots in $shots"
