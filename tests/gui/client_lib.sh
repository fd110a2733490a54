# Shared by the Wine tests of the real client: a private copy of the Wine
# prefix, the reference account service, clients in folders of their own
# pointed at it, and the probe. The caller sets exe, probe, service,
# triplet, work and shots, and `here` (the project folder).
. "$here/scripts/env.sh"
[ -x "$service" ] || { echo "skipped: no account service at $service (build the linux preset's quillnet-account-service)"; exit 77; }
quillnet_gui_test_setup "$triplet"
mkdir -p "$work" "$shots"
work=$(cd "$work" && pwd) shots=$(cd "$shots" && pwd)
winpath() { local p=$1; echo "Z:${p//\//\\}"; }

failures=0
services=()
client=
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
cleanup() {
  [ -n "$client" ] && kill "$client" 2>/dev/null
  for s in "${services[@]}"; do kill "$s" 2>/dev/null; wait "$s" 2>/dev/null; done
  WINEPREFIX=$prefix /usr/bin/wineserver -k 2>/dev/null
}
trap cleanup EXIT

# A private copy of the prefix: the client's settings (saved account, the
# once-only tip) and its program data start empty, and nothing of another
# test's run leaks in.
prefix=$work/wineprefix
rm -rf "$prefix"
cp -a "$WINEPREFIX" "$prefix" || { echo "cannot copy the Wine prefix"; exit 1; }
export WINEPREFIX=$prefix
# A persistent server of our own, started apart from any pipe.
wine_up() {
  /usr/bin/wineserver -p </dev/null >/dev/null 2>&1
  setsid "$wine" wineboot </dev/null >/dev/null 2>&1
}
wine_up
# Through a file, not a pipe: a Wine helper the probe starts (the server,
# the desktop process) would hold a pipe open and `tr` would never end.
probe() {
  local rc
  "$wine" "$probe" "$@" </dev/null >"$work/probe.out" 2>&1
  rc=$?
  tr -d '\r' <"$work/probe.out"
  return $rc
}

# The client logs in over verified HTTPS only: every service answers HTTPS
# with the test CA's certificate, and every client trusts that CA through
# CaFile in its override file.
pki=$(bash "$here/scripts/test-pki") || { echo "the test certificates could not be made"; exit 1; }

# start_service NAME CONFIG-TEXT: sets $port to its HTTPS port.
start_service() {
  local name=$1 config=$2
  sed -e 's/^HttpsPort=.*/HttpsPort=0/' \
      -e "s|^\\[Service\\]\$|[Service]\\nCertificateFile=$pki/server.pem\\nKeyFile=$pki/server.key|" \
      <<<"$config" >"$work/$name.ini"
  "$service" "$work/$name.ini" >"$work/$name.out" 2>"$work/$name.log" &
  services+=($!)
  port=
  for _ in $(seq 1 100); do
    grep -q '^ready' "$work/$name.out" 2>/dev/null && break
    sleep 0.1
  done
  port=$(sed -n 's/^https \([0-9]*\)$/\1/p' "$work/$name.out")
  [ -n "$port" ] || { echo "account service $name did not start"; cat "$work/$name.log"; exit 1; }
}

# start_client NAME PORT [OVERRIDE-LINES]: the client in a folder of its own,
# pointed at the service through the override file beside it.
start_client() {
  local name=$1 port=$2 extra=${3:-}
  local dir=$work/client-$name
  mkdir -p "$dir"
  # The last run's winning host races too: forget it, so this run meets its own service.
  rm -f "$prefix/drive_c/ProgramData/Quillnet/QuillnetAnns.ini"
  cp "$exe" "$dir/Quillnet.exe"
  cp "$pki/ca.pem" "$dir/quillnet-test-ca.pem"
  printf '[Main]\r\nLoginHosts=https://127.0.0.1:%s/\r\nCaFile=quillnet-test-ca.pem\r\n%s' "$port" "$extra" \
    >"$dir/Quillnet.exe.ini"
  "$wine" "$dir/Quillnet.exe" </dev/null >"$work/client-$name.log" 2>&1 &
  client=$!
}

stop_client() {
  probe close main 15 >/dev/null || fail "$1: the window did not close on WM_CLOSE"
  wait_gone "$1"
}

wait_gone() {
  for _ in $(seq 1 150); do kill -0 "$client" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$client" 2>/dev/null; then
    fail "$1: Quillnet.exe still running"
    # The loader's end is not the Windows process's: end every program of
    # the private prefix, or the next client finds this one's mutex.
    /usr/bin/wineserver -k 2>/dev/null
    wine_up
  fi
  # The client's exit code, for a caller that wants it.
  local rc
  wait "$client" 2>/dev/null
  rc=$?
  client=
  return $rc
}

demo=$(sed -e 's/^HttpPort=.*/HttpPort=0/' -e 's/^HttpsPort=.*/HttpsPort=-1/' "$here/tools/account-service/demo.ini")
