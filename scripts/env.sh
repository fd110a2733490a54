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

# True when this kernel can run 32-bit programs (and so Wine's 32-bit side).
quillnet_can_run_32bit() {
  [ -x "$QUILLNET_WINE32" ] && "$QUILLNET_WINE32" --version >/dev/null 2>&1
}

# Wine's own services (services.exe and friends) outlive the program that
# started them; started from a test they would hold ctest's output pipes open
# and ctest would wait for them forever. Start them here, detached, once.
quillnet_wine_ready() {
  /usr/bin/wineserver -p >/dev/null 2>&1 || true
  if ! pgrep -f 'C:.windows.system32.services\.exe' >/dev/null 2>&1; then
    setsid "$QUILLNET_WINE64" wineboot </dev/null >/dev/null 2>&1 || true
  fi
}
