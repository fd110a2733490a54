#!/usr/bin/env bash
# The package step of scripts/setup against stand-in apt-get, dpkg and
# dpkg-query: a failing index must not stop set-up, a 32-bit package that
# cannot be installed only warns, and a required one that cannot be installed
# fails naming it.
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
[ "$(id -u)" = 0 ] || { echo "needs root (set-up refuses to run otherwise)"; exit 77; }
work=$(mktemp -d /tmp/quillnet-setup-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0

make_stand_ins() { # make_stand_ins DIR UNINSTALLABLE...
  local bin=$1/bin; shift
  mkdir -p "$bin"
  printf '%s\n' "$@" > "$bin/../uninstallable"
  cat > "$bin/apt-get" <<'STUB'
#!/usr/bin/env bash
here=$(cd "$(dirname "$0")/.." && pwd)
echo "apt-get $*" >> "$here/calls"
for a in "$@"; do
  case $a in
    update)
      echo "Err:5 http://archive.invalid/debian-security bookworm-security/main i386 Packages"
      echo "  File has unexpected size (374820 != 376004). Mirror sync in progress?"
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
      exit 100 ;;
    install)
      pkgs=(); seen=0
      for p in "$@"; do [ $seen = 1 ] && [ "${p#-}" = "$p" ] && pkgs+=("$p"); [ "$p" = install ] && seen=1; done
      for p in "${pkgs[@]}"; do
        if grep -qxF "$p" "$here/uninstallable"; then echo "E: Unable to correct problems, you have held broken packages."; exit 100; fi
      done
      printf '%s\n' "${pkgs[@]}" >> "$here/installed"; exit 0 ;;
  esac
done
exit 0
STUB
  cat > "$bin/dpkg-query" <<'STUB'
#!/usr/bin/env bash
here=$(cd "$(dirname "$0")/.." && pwd)
p=${!#}
if grep -qxF "$p" "$here/installed" 2>/dev/null; then printf 'install ok installed'; exit 0; fi
exit 1
STUB
  cat > "$bin/dpkg" <<'STUB'
#!/usr/bin/env bash
here=$(cd "$(dirname "$0")/.." && pwd)
echo "dpkg $*" >> "$here/calls"
exit 0
STUB
  printf '#!/bin/sh\nexit 1\n' > "$bin/fuser"
  chmod +x "$bin"/*
}

# run_case NAME EXPECTED_RC ASSUME_32BIT EXPECTED_OUTPUT_RE UNINSTALLABLE...
run_case() {
  local name=$1 want=$2 k32=$3 re=$4; shift 4
  local d=$work/$name out rc
  mkdir -p "$d"; : > "$d/installed"; : > "$d/calls"
  make_stand_ins "$d" "$@"
  out=$(PATH="$d/bin:$PATH" QUILLNET_ASSUME_32BIT=$k32 QUILLNET_APT_RETRY_DELAY=0 \
        QUILLNET_STATE="$d/state" timeout 60 bash "$top/scripts/setup" --packages-only 2>&1)
  rc=$?
  if [ "$rc" != "$want" ] || ! grep -qE "$re" <<<"$out"; then
    echo "FAIL $name: exit $rc (wanted $want), output:"; sed 's/^/    /' <<<"$out"; failures=$((failures + 1))
    return
  fi
  local updates; updates=$(grep -c ' update' "$d/calls")
  if [ "$updates" -gt 4 ]; then echo "FAIL $name: $updates index refreshes, retries must stay few"; failures=$((failures + 1)); return; fi
  echo "ok   $name (exit $rc, $updates index refreshes)"
}

run_case failing-index-goes-on 0 0 'warning: some package indexes could not be downloaded'
grep -qx cmake "$work/failing-index-goes-on/installed" || { echo "FAIL: packages were not installed after the failing index"; failures=$((failures + 1)); }
grep -q 'wine32' "$work/failing-index-goes-on/installed" && { echo "FAIL: 32-bit Wine installed on a kernel without 32-bit support"; failures=$((failures + 1)); }
run_case wine32-uninstallable-warns 0 1 'the 32-bit Wine packages could not be installed \(wine32:i386\)' wine32:i386
[ -f "$work/wine32-uninstallable-warns/state/wine32-unavailable" ] || { echo "FAIL: the failed 32-bit install was not remembered"; failures=$((failures + 1)); }
run_case required-package-missing-fails 1 0 'could not be installed: .*nsis' nsis

[ $failures = 0 ] && echo "setup package step: all cases passed"
exit $(( failures > 0 ))
