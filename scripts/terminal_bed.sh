# A bed for the terminal client, sourced by scripts/terminal-demo and
# tests/soak/terminal_soak.sh: a client namespace holding the reference
# account service on loopback, a server namespace with a real openvpn server,
# joined by a veth pair (client 10.99.0.2, server 10.99.0.1). Everything is
# made under $bed_dir and removed again by bed_down (the caller traps it).

bed_ns_client=qtc$$
bed_ns_server=qts$$
bed_dir=$(mktemp -d /tmp/quillnet-bed.XXXXXX)
bed_server_pid=
bed_service_pid=

bed_log() { printf '[bed] %s\n' "$*"; }

# Waits until FILE holds TEXT, at most SECONDS; fails otherwise.
bed_wait_for() {
  local file=$1 text=$2 seconds=${3:-30} end=$((SECONDS + ${3:-30}))
  while ! grep -qF -- "$text" "$file" 2>/dev/null; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.05
  done
}

bed_up() {
  local quillnet_bin=$1
  ip netns add $bed_ns_client
  ip netns add $bed_ns_server
  ip -n $bed_ns_client link set lo up
  ip -n $bed_ns_server link set lo up
  ip -n $bed_ns_client link add qt0 type veth peer name qt1 netns $bed_ns_server
  ip -n $bed_ns_client addr add 10.99.0.2/24 dev qt0
  ip -n $bed_ns_client link set qt0 up
  ip -n $bed_ns_client route add default via 10.99.0.254 dev qt0
  ip -n $bed_ns_server addr add 10.99.0.1/24 dev qt1
  ip -n $bed_ns_server link set qt1 up

  local ec="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
  (cd "$bed_dir" &&
    openssl req -x509 $ec -days 2 -subj /CN=qt-ca -keyout ca.key -out ca.crt &&
    openssl req $ec -subj /CN=qt-server -keyout server.key -out server.csr &&
    printf 'extendedKeyUsage=serverAuth\nkeyUsage=digitalSignature,keyAgreement\n' >ext &&
    openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -extfile ext \
      -out server.crt) >/dev/null 2>&1
  printf '#!/bin/sh\n[ "$(sed -n 1p "$1")" = alice ] && [ "$(sed -n 2p "$1")" = secret ]\n' >"$bed_dir/auth.sh"
  chmod 700 "$bed_dir/auth.sh"
  mkdir -p "$bed_dir/program/openvpn"
  cp "$bed_dir/ca.crt" "$bed_dir/program/openvpn/ca.crt"
  printf 'secret\n' >"$bed_dir/password"
  chmod 600 "$bed_dir/password"
  bed_start_server

  # The race finds the service over HTTP; the login goes to its HTTPS side on
  # the default port, with a certificate from the test CA.
  bed_pki=$(bash "$(dirname "${BASH_SOURCE[0]}")/test-pki")
  cat >"$bed_dir/service.ini" <<INI
[Service]
Bind=127.0.0.1
HttpPort=0
HttpsPort=443
CertificateFile=$bed_pki/server.pem
KeyFile=$bed_pki/server.key
[VPN]
RequiredClientVersion=2.3.0.2
[Account alice]
Password=secret
Expires=2099-01-01
[Servers]
ServerId0=7
Title0=Bed
ServerHost0=10.99.0.1
Protocols0=openvpn
OpenVpn0=udp,1194
[Routes]
Title0=Listed
RouteId0=r1
ModifyDefaultGateway0=0
[RouteList Routes r1]
Route0=192.0.2.0/24
Route1=198.51.100.0 mask 255.255.255.0
INI
  ip netns exec $bed_ns_client "$(dirname "$quillnet_bin")/quillnet-account-service" "$bed_dir/service.ini" \
    >"$bed_dir/service.out" 2>/dev/null &
  bed_service_pid=$!
  bed_wait_for "$bed_dir/service.out" ready 20 || { bed_log "the account service did not start"; return 1; }
  bed_service_url="http://127.0.0.1:$(sed -n 's/^http \([0-9]*\).*/\1/p' "$bed_dir/service.out")/"
  bed_log "account service at $bed_service_url, openvpn server at 10.99.0.1:1194 (udp)"
}

bed_start_server() {
  cat >"$bed_dir/server.conf" <<CONF
mode server
tls-server
dev tap
proto udp
local 10.99.0.1
port 1194
ca $bed_dir/ca.crt
cert $bed_dir/server.crt
key $bed_dir/server.key
dh none
verify-client-cert none
username-as-common-name
script-security 2
auth-user-pass-verify $bed_dir/auth.sh via-file
keepalive 1 4
verb 3
topology subnet
server 10.8.0.0 255.255.255.0
CONF
  : >"$bed_dir/server.log"
  ip netns exec $bed_ns_server openvpn --config "$bed_dir/server.conf" --log "$bed_dir/server.log" &
  bed_server_pid=$!
  bed_wait_for "$bed_dir/server.log" "Initialization Sequence Completed" 20 ||
    { bed_log "the openvpn server did not start"; return 1; }
}

# Safe under set -e: a killed server's wait status is no failure.
bed_kill_server() {
  [ -n "$bed_server_pid" ] || return 0
  kill -KILL $bed_server_pid 2>/dev/null || true
  wait $bed_server_pid 2>/dev/null || true
  bed_server_pid=
}

# Every IPv4 route of every table in the client namespace, sorted.
bed_routes() { ip -n $bed_ns_client -4 route show table all | sort; }

# The client's arguments for a route mode (all, listed:0, app).
bed_client_args() {
  echo connect --service "$bed_service_url" --ca-file "$bed_pki/ca.pem" --account alice --password-file "$bed_dir/password" \
    --route "$1" --config "$bed_dir/config" --data "$bed_dir/data" --program-folder "$bed_dir/program"
}

bed_down() {
  bed_kill_server
  [ -z "$bed_service_pid" ] || { kill $bed_service_pid 2>/dev/null; wait $bed_service_pid 2>/dev/null; } || true
  ip netns del $bed_ns_client 2>/dev/null || true
  ip netns del $bed_ns_server 2>/dev/null || true
  rm -rf "$bed_dir"
}
