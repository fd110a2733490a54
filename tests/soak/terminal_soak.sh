#!/usr/bin/env bash
# Soak of the terminal client against the real openvpn bed (root):
#   N connect/disconnect cycles (default 200), route modes rotating; every
#   10th cycle the client is killed with SIGKILL while connected and the next
#   start replays the journal; once, the openvpn server is killed mid-tunnel.
# After every cycle the client namespace's route table must equal its
# starting dump. Prints connect times (connect command to "connected:",
# median and p95), disconnect times (SIGTERM to exit, routes restored) and
# the drop time. Not part of the test command: it runs for minutes.
#
# usage: tests/soak/terminal_soak.sh [N] [BUILD_BIN_DIR]
set -u
cycles=${1:-200}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
bin=${2:-$here/build/linux/bin}/quillnet
[ "$(id -u)" = 0 ] || { echo "soak: needs root (network namespaces)" >&2; exit 77; }
[ -x "$bin" ] || { echo "soak: no $bin (build the quillnet target first)" >&2; exit 1; }
. "$here/scripts/terminal_bed.sh"
trap bed_down EXIT
bed_up "$bin" || exit 1
before=$(bed_routes)
modes=(all listed:0 app)
failures=0
connect_ms=()
disconnect_ms=()
kill_cycles=0
expect_replay=0
leftovers=0
drop_ms=
drop_cycle=$(( cycles / 2 + 1 ))

now_ms() { date +%s%3N; }

check_table() {
  local cycle=$1 what=$2 end=$((SECONDS + 30))
  # Routes through a tunnel device go as the kernel removes the device;
  # give that its moment, bounded.
  while [ "$(bed_routes)" != "$before" ] && [ $SECONDS -lt $end ]; do sleep 0.05; done
  if [ "$(bed_routes)" != "$before" ]; then
    echo "cycle $cycle ($what): the route table differs from the start:" >&2
    diff <(echo "$before") <(bed_routes) >&2
    failures=$((failures + 1))
  fi
}

for ((cycle = 1; cycle <= cycles; ++cycle)); do
  mode=${modes[$(( (cycle - 1) % 3 ))]}
  # Emptied here, not by the child's redirection: a wait that began before
  # the child truncated the file would read the last cycle's lines.
  out=$bed_dir/cycle.out
  : >"$out"
  t0=$(now_ms)
  # shellcheck disable=SC2046
  ip netns exec $bed_ns_client "$bin" $(bed_client_args $mode) >"$out" 2>&1 &
  pid=$!
  if ! bed_wait_for "$out" "connected: " 60; then
    echo "cycle $cycle ($mode): no connection" >&2
    cat "$out" >&2
    failures=$((failures + 1))
    kill -KILL $pid 2>/dev/null; wait $pid 2>/dev/null
    continue
  fi
  connect_ms+=($(( $(now_ms) - t0 )))
  grep -q "^ended the openvpn of an earlier run" "$out" && leftovers=$((leftovers + 1))
  if [ $expect_replay = 1 ]; then
    grep -q "^route journal: " "$out" ||
      { echo "cycle $cycle: no journal replay after the kill" >&2; cat "$out" >&2; failures=$((failures + 1)); }
    expect_replay=0
  fi
  if [ $cycle = $drop_cycle ]; then
    td=$(now_ms)
    bed_kill_server
    wait $pid; rc=$?
    drop_ms=$(( $(now_ms) - td ))
    grep -q "connection lost" "$out" && [ $rc = 3 ] ||
      { echo "cycle $cycle: drop not reported (exit $rc)" >&2; cat "$out" >&2; failures=$((failures + 1)); }
    check_table $cycle "server killed"
    bed_start_server || exit 1
  elif (( cycle % 10 == 0 )); then
    kill -KILL $pid
    wait $pid 2>/dev/null
    kill_cycles=$((kill_cycles + 1))
    # Its openvpn ends with its terminal and takes its device along; the
    # next start replays the journal (and says so).
    check_table $cycle "SIGKILL"
    # All traffic goes by openvpn's own routes: then the journal is empty.
    [ "$mode" = all ] || expect_replay=1
  else
    td=$(now_ms)
    kill -TERM $pid
    wait $pid; rc=$?
    disconnect_ms+=($(( $(now_ms) - td )))
    [ $rc = 0 ] || { echo "cycle $cycle ($mode): exit $rc" >&2; cat "$out" >&2; failures=$((failures + 1)); }
    check_table $cycle "$mode"
  fi
  if (( cycle % 20 == 0 )); then echo "[soak] $cycle/$cycles cycles, $failures failures"; fi
done
# A kill in the very last cycle still needs its replay.
ip netns exec $bed_ns_client "$bin" restore-routes --config "$bed_dir/config" --data "$bed_dir/data" --program-folder "$bed_dir/program" \
  >/dev/null 2>&1 || true
check_table end "final replay"

stats() {
  local name=$1; shift
  [ $# -gt 0 ] || { echo "$name: no samples"; return; }
  sort -n <<<"$(printf '%s\n' "$@")" | awk -v name="$name" '
    { v[NR] = $1 }
    END {
      median = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
      p = int(NR * 0.95 + 0.999999); if (p > NR) p = NR; if (p < 1) p = 1
      printf "%s: n=%d median=%d ms p95=%d ms max=%d ms\n", name, NR, median, v[p], v[NR]
    }'
}
echo "[soak] $cycles cycles (modes all/listed/app rotating), $kill_cycles SIGKILL cycles, 1 server kill"
stats "connect (command to connected)" "${connect_ms[@]}"
stats "disconnect (SIGTERM to exit)" "${disconnect_ms[@]}"
echo "openvpn left running by a killed client and ended by the next start: $leftovers"
echo "server killed: drop reported and client ended after ${drop_ms:-?} ms"
echo "[soak] $failures failures"
[ $failures = 0 ]
