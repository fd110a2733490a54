#!/usr/bin/env bash
# The real client under Wine with the openvpn we ship beside it, as the
# package installs it (openvpn.exe and ca.crt, no driver package), against a
# Linux openvpn server on a loopback address. Wine has no TAP adapter: the
# client says it cannot install the driver and goes on; openvpn logs in, takes
# the server's push and then stops where it opens the adapter. The client must
# report the missing adapter, leave no openvpn running and change no route.
# A ca.crt of another CA ends the attempt at the TLS handshake (openvpn
# exits; the client reports the connection as ended, not as a missing
# adapter), again with nothing left running. The listed-routes mode keeps
# --redirect-gateway out: with it, openvpn aborts earlier under Wine.
# usage: real_openvpn.sh QUILLNET_EXE PROBE_EXE SERVICE_EXE TRIPLET WORK_DIR SCREENSHOT_DIR OPENVPN_BUILD
set -u
exe=$1 probe=$2 service=$3 triplet=$4 work=$5 shots=$6 openvpn_build=$7
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# Wine's server outlives us when a run is cut off: it must not keep a
# descriptor we were given (the build lock, for one).
for fd in $(seq 3 19); do eval "exec $fd>&-"; done 2>/dev/null
[ -f "$openvpn_build/openvpn.exe" ] || { echo "FAIL: no cross-built openvpn in '$openvpn_build' (run scripts/setup)"; exit 1; }
command -v openvpn >/dev/null || { echo "skipped: no openvpn on this machine for the server"; exit 77; }
[ -c /dev/net/tun ] || { echo "skipped: no /dev/net/tun for the server's adapter"; exit 77; }
. "$here/tests/gui/client_lib.sh"

server_pid=
tap=qnv$$
stop_server() {
  [ -n "$server_pid" ] && { kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null; }
  server_pid=
}
trap 'stop_server; cleanup' EXIT

# A free UDP port on the loopback address the server record names.
ovpn_port=$(python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.4", 0)); print(s.getsockname()[1])')
# Any user name and password pass; the server's address pool and push are
# what a subscriber's server sends.
openvpn --mode server --tls-server --dev "$tap" --dev-type tap --local 127.0.0.4 --port "$ovpn_port" --proto udp \
  --ca "$pki/ca.pem" --cert "$pki/server.pem" --key "$pki/server.key" --dh none \
  --verify-client-cert none --auth-user-pass-verify /bin/true via-file --script-security 2 \
  --username-as-common-name --tmp-dir "$work" \
  --ifconfig-pool 10.231.7.10 10.231.7.20 255.255.255.0 --push "route-gateway 10.231.7.1" \
  --verb 3 >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 1 100); do grep -q 'Initialization Sequence Completed' "$work/server.log" && break; sleep 0.1; done
grep -q 'Initialization Sequence Completed' "$work/server.log" || { echo "FAIL: the openvpn server did not start"; cat "$work/server.log"; exit 1; }

demo_openvpn() {
  awk -v servers="ServerId0=3
Title0=Tokyo 1
Comment0=loopback
Load0=0.35
ServerHost0=127.0.0.4
Protocols0=openvpn
OpenVpn0=udp,$ovpn_port
Categories0=asia" '
    /^RequiredOpenVpnVersion=/ { print "RequiredOpenVpnVersion=2.1.4.1"; next }
    /^\[Servers\]$/ { print; print servers; skip = 1; next }
    /^\[/ { skip = 0 }
    !skip { print }' <<<"$demo"
}

# with_package NAME CA: the client's openvpn folder as the package lays it out.
with_package() {
  local dir=$work/client-$1/openvpn
  mkdir -p "$dir"
  cp "$openvpn_build/openvpn.exe" "$dir/openvpn.exe"
  cp "$2" "$dir/ca.crt"
}

login_and_choose() {
  local name=$1
  probe main 60 >/dev/null || fail "$name: no main window"
  probe status 127.0.0.1 30 1013 >/dev/null || fail "$name: the host probe never won"
  probe login demo quillnet
  probe box 'After login, Quillnet will be minimized' 20 >/dev/null
  probe box 'Welcome to the Quillnet demo.' 30 >/dev/null || fail "$name: no welcome message"
  probe wait 'Choose a VPN Server' 30 || fail "$name: the login did not open the chooser"
  probe click 'Choose a VPN Server' 1021 60 28 || fail "$name: no server list to click"
  probe press 'Choose a VPN Server' 1 10 || fail "$name: could not press Connect in the chooser"
}

# The chooser starts on the service's listed routes (route mode 2): with
# --redirect-gateway, openvpn asks for the default gateway's interface
# through a function Wine does not have and aborts before its adapter step.
choose_listed_routes() {
  "$wine" reg add 'HKCU\Software\Quillnet\Quillnet\Main' /v LastVpnRouteDefiner /t REG_DWORD /d 1001 /f >/dev/null 2>&1
  "$wine" reg add 'HKCU\Software\Quillnet\Quillnet\Main' /v LastVpnRouteInternalIndex /t REG_DWORD /d 0 /f >/dev/null 2>&1
}
# A crash ends the program instead of waiting in the debugger's window.
"$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1

# Processes of this test's openvpn.exe (Wine shows their Windows path).
openvpn_running() { pgrep -f "client-$1.openvpn.openvpn\\.exe" >/dev/null; }

# The VPN's addresses must reach no routing table (other tests may change
# the machine's routes meanwhile, so only ours are looked for).
vpn_routes() { ip route show table all 2>/dev/null | grep -F 10.231.7.; }

# --- the package's openvpn: up to the adapter ------------------------------
start_service real "$(demo_openvpn)"
with_package real "$pki/ca.pem"
choose_listed_routes
start_client real "$port"
login_and_choose real
probe box 'OpenVPN Tap driver' 30 >/dev/null || fail "real: no word about the missing adapter"
probe box 'OpenVPN driver can not be installed' 60 >/dev/null || fail "real: no word that the driver cannot be installed"
report=$(probe box 'OpenVPN: ' 90) || fail "real: no box with the OpenVPN report"
probe shot Quillnet "$(winpath "$shots/connect-real-openvpn-no-adapter.png")" >/dev/null 2>&1
grep -q 'OpenVPN TAP Driver is not installed' <<<"$report" || fail "real: the report is not the missing adapter: $report"
grep -q 'Peer Connection Initiated' "$work/server.log" || fail "real: the server never saw the client's openvpn log in"
grep -q 'PUSH_REPLY' "$work/server.log" || fail "real: the server sent no push"
probe enabled 1003 20 || fail "real: Connect is not enabled again"
for _ in $(seq 1 100); do openvpn_running real || break; sleep 0.2; done
openvpn_running real && fail "real: openvpn.exe still running after the report"
stop_client real

# --- a ca.crt of another CA: the handshake fails -----------------------------
server_lines=$(wc -l <"$work/server.log")
with_package wrongca "$pki/codesign.pem"
choose_listed_routes
start_client wrongca "$port"
login_and_choose wrongca
probe box 'OpenVPN Tap driver' 30 >/dev/null || fail "wrongca: no word about the missing adapter"
probe box 'OpenVPN driver can not be installed' 60 >/dev/null || fail "wrongca: no word that the driver cannot be installed"
report=$(probe box 'OpenVPN: ' 90) || fail "wrongca: no box with the OpenVPN report"
echo "wrongca: the client reported: $(grep 'OpenVPN: ' <<<"$report" | head -n 3)"
grep -q 'OpenVPN TAP Driver is not installed' <<<"$report" && fail "wrongca: the failed handshake was reported as a missing adapter: $report"
tail -n +"$((server_lines + 1))" "$work/server.log" >"$work/server.log.wrongca"
grep -q 'Peer Connection Initiated' "$work/server.log.wrongca" && fail "wrongca: the server let the client in"
probe enabled 1003 90 || fail "wrongca: Connect is not enabled again after the failed handshake"
for _ in $(seq 1 100); do openvpn_running wrongca || break; sleep 0.2; done
openvpn_running wrongca && fail "wrongca: openvpn.exe still running after the failed handshake"
stop_client wrongca

vpn_routes && fail "a route of the VPN's addresses was added"

[ "$failures" = 0 ] || { echo "$failures failures; logs in $work"; exit 1; }
echo "PASS: the shipped openvpn logs in to a real server, stops at the missing adapter, which the client reports; a wrong CA ends at the handshake; nothing left running, no route changed"
