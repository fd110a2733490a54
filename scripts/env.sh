# Shared environment for the project's scripts; sourced, not run.
export QUILLNET_DEPS=${QUILLNET_DEPS:-/var/cache/quillnet/deps-openssl3.0-curl7.88-v1}
export WINEPREFIX=${WINEPREFIX:-/var/cache/quillnet/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export QUILLNET_XVFB_DISPLAY=${QUILLNET_XVFB_DISPLAY:-:77}
if [ -z "${DISPLAY:-}" ]; then export DISPLAY=$QUILLNET_XVFB_DISPLAY; fi
# Debian's `wine` wrapper prefers the 32-bit loader whenever it is installed,
# even where the kernel cannot run it; call the loaders directly.
QUILLNET_WINE64=/usr/lib/wine/wine64
QUILLNET_WINE32=/usr/lib/wine/wine
export QUILLNET_WINE64 QUILLNET_WINE32

# True when the kernel executes 32-bit x86 programs (IA-32 emulation), tried
# with a 96-byte static program that exits with 7; needs no 32-bit package.
quillnet_kernel_runs_32bit() {
  [ -n "${QUILLNET_ASSUME_32BIT:-}" ] && { [ "$QUILLNET_ASSUME_32BIT" = 1 ]; return; }
  local f rc
  f=$(mktemp /tmp/quillnet-elf32.XXXXXX) || return 1
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xbb\x07\x00\x00\x00\xb8\x01\x00\x00\x00\xcd\x80' >"$f"
  chmod +x "$f"
  "$f" 2>/dev/null; rc=$?
  rm -f "$f"
  [ "$rc" = 7 ]
}

# True when this kernel can run 32-bit programs (and so Wine's 32-bit side).
quillnet_can_run_32bit() {
  [ -x "$QUILLNET_WINE32" ] && "$QUILLNET_WINE32" --version >/dev/null 2>&1
}

# Wine's own services (services.exe and friends) outlive the program that
# started them; started from a test they would hold ctest's output pipes open
# and ctest would wait for them forever. Start them here, detached, once.
# Other descriptors the caller holds (a lock, a pipe) are closed for them
# too: a persistent wineserver would keep them open for good.
quillnet_wine_ready() {
  quillnet_detached /usr/bin/wineserver -p || true
  if ! pgrep -f 'C:.windows.system32.services\.exe' >/dev/null 2>&1; then
    quillnet_detached setsid "$QUILLNET_WINE64" wineboot || true
  fi
}

quillnet_detached() (
  for fd in /proc/$BASHPID/fd/*; do
    fd=${fd##*/}
    [ "$fd" -gt 2 ] 2>/dev/null && eval "exec $fd>&-"
  done
  exec "$@" </dev/null >/dev/null 2>&1
)

# Why 32-bit Windows programs cannot run here (for skip messages).
quillnet_why_no_32bit() {
  if quillnet_kernel_runs_32bit; then
    echo "Wine's 32-bit side (wine32:i386) is not installed here"
  else
    echo "this kernel cannot run 32-bit programs"
  fi
}

# For GUI tests: puts the Wine loader for the triplet into $wine and makes
# sure the test display is up; exits 77 (skipped) where either is missing.
quillnet_gui_test_setup() {
  if [ "$1" = i686-w64-mingw32 ]; then
    quillnet_can_run_32bit || { echo "skipped: $(quillnet_why_no_32bit)"; exit 77; }
    wine=$QUILLNET_WINE32
  else
    wine=$QUILLNET_WINE64
  fi
  command -v Xvfb >/dev/null || { echo "skipped: no Xvfb"; exit 77; }
  if ! xdpyinfo >/dev/null 2>&1; then
    setsid Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  fi
}
