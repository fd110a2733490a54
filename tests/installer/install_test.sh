#!/usr/bin/env bash
# Installs the built installer silently into a private copy of the Wine prefix,
# starts the installed client until its window shows, then uninstalls and
# expects nothing of the install left. A second package, made here from the
# same script with a stand-in bind module and a stand-in openvpn folder, checks
# the module's registration calls, the openvpn layout, an install over an
# install, and that a file the user added keeps the folder and only itself.
# The built package is installed as an upgrade over an older one while that
# one's client runs, and must carry the cross-built openvpn, the CA and, in
# the x64 package, the 32-bit bind module.
# usage: install_test.sh INSTALLER MAKENSIS SCRIPT CLIENT_EXE STANDIN_DLL HAS_BIND TRIPLET
#                        openvpn=OPENVPN_BUILD ca=CA_FILE bind32=[X86_BIND_DLL] -- DEFINES...
set -u
installer=$1 makensis=$2 script=$3 client=$4 standin=$5 has_bind=$6 triplet=$7
openvpn_build=${8#openvpn=} ca=${9#ca=} bind32=${10#bind32=}
shift 11
defines=("$@")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# Wine's server outlives us when a run is cut off: it must not keep a
# descriptor we were given (the build lock, for one).
for fd in $(seq 3 19); do eval "exec $fd>&-"; done 2>/dev/null
. "$here/scripts/env.sh"
probe="$(dirname "$installer")/gui_probe.exe"

quillnet_gui_test_setup "$triplet"

# The installer registers a socket provider and writes machine-wide keys: it
# gets a prefix of its own, never the shared one. Shortcuts stay inside Wine.
work=$(mktemp -d /tmp/quillnet-installer-test.XXXXXX)
shared_prefix=$WINEPREFIX
export WINEPREFIX=$work/prefix
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
cleanup() {
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null
  /usr/bin/wineserver -k >/dev/null 2>&1
  /usr/bin/wineserver -w >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
# Other tests use the shared prefix meanwhile: leave out their temporary files,
# and let files change under the copy (tar's status 1), not fail it.
mkdir -p "$WINEPREFIX"
tar -C "$shared_prefix" --exclude='./drive_c/users/*/Temp/*' -cf - . 2>/dev/null | tar -C "$WINEPREFIX" -xf -
[ "${PIPESTATUS[0]}" -le 1 ] && [ -f "$WINEPREFIX/system.reg" ] || { echo "FAIL: cannot copy the Wine prefix"; exit 1; }
/usr/bin/wineserver -p >/dev/null 2>&1
setsid "$wine" wineboot </dev/null >/dev/null 2>&1
# A crash ends the program instead of waiting in the debugger's window.
"$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
not() { ! "$@"; }
check() { local what=$1; shift; if "$@"; then echo "ok: $what"; else fail "$what"; fi; }
win() { local p=${1//\//\\}; echo "Z:$p"; }

drive=$WINEPREFIX/drive_c
shortcut_dir="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Quillnet"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillnet'
reg_value() { "$wine" reg query "$uninstall_key" /v "$1" 2>/dev/null | tr -d '\r' | awk -v k="$1" '$1 == k { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'; }
key_exists() { "$wine" reg query "$uninstall_key" >/dev/null 2>&1; }

# NSIS reads "/D=" and "_?=" unquoted to the end of its command line, which
# Wine would quote from argv: cmd passes the line as written.
run_line() { "$wine" cmd /c "$*"; }
# Runs the uninstaller the way NSIS runs itself from a copy, but waited for.
uninstall() {
  local dir=$1 windir=$2
  cp "$dir/Uninstall.exe" "$work/uninstall-copy.exe" || return 1
  run_line "$(win "$work/uninstall-copy.exe") /S _?=$windir"
}

# --- the package the build made ---------------------------------------------
version=$("$wine" "$probe" version "$(win "$installer")" | tr -d '\r')
check "installer version resource 2.3.0.2" grep -qx 'FileVersion=2.3.0.2' <<<"$version"

# Told it runs on Windows XP, the installer stops before installing anything.
app_key="HKCU\\Software\\Wine\\AppDefaults\\$(basename "$installer")"
"$wine" reg add "$app_key" /v Version /t REG_SZ /d winxp /f >/dev/null 2>&1
"$wine" "$installer" /S; rc=$?
"$wine" reg delete "$app_key" /f >/dev/null 2>&1
check "install on an older system than Windows 7 SP1 aborts (got $rc)" [ "$rc" = 2 ]
check "nothing installed on an older system" [ ! -e "$drive/Program Files/Quillnet" ]

# --- an older install, the user's settings, and its client running ---------
older=$work/QuillnetInstaller-older.exe
older_defines=()
for d in "${defines[@]}"; do
  case $d in -DVERSION=*) older_defines+=(-DVERSION=2.3.0.1) ;; *) older_defines+=("$d") ;; esac
done
"$makensis" -V1 "${older_defines[@]}" "-DOUTFILE=$older" "$script" || { fail "makensis of the older package"; exit 1; }
start=$(date +%s%N)
"$wine" "$older" /S; rc=$?
echo "measure: install of the older package (the client alone) took $(( ($(date +%s%N) - start) / 1000000 )) ms; the built package is $(stat -c %s "$installer") bytes"
check "older package installs (got $rc)" [ "$rc" = 0 ]
check "older install's DisplayVersion" [ "$(reg_value DisplayVersion)" = 2.3.0.1 ]
settings_key='HKCU\Software\Quillnet\Quillnet'
"$wine" reg add "$settings_key" /v UserName /d 'kept user' /f >/dev/null 2>&1
applist="$drive/ProgramData/Quillnet/applist.ini"
mkdir -p "$(dirname "$applist")"
printf '[Apps]\r\nCount=1\r\nApp0=C:\\Games\\game.exe\r\n' >"$applist"
cp "$applist" "$work/applist.before"
# The local override file lives beside the client, in the install folder.
override="$drive/Program Files/Quillnet/Quillnet.exe.ini"
printf '[Main]\r\nForceOpenVpnUpdateVersion=2.1.4.1\r\n' >"$override"
cp "$override" "$work/override.before"
setting() { "$wine" reg query "$settings_key" /v UserName 2>/dev/null | tr -d '\r' | awk '$1 == "UserName" { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'; }

"$wine" "C:\\Program Files\\Quillnet\\Quillnet.exe" >"$work/older-client.log" 2>&1 &
pid=$!
"$wine" "$probe" wait Quillnet 60 || fail "no window from the older client within 60 s"

# --- the package the build made, as the upgrade -----------------------------
start=$(date +%s%N)
"$wine" "$installer" /S &
setup_pid=$!
# While the old client holds its mutex the upgrade must not go on: for 15 s
# it neither ends nor writes its version into the uninstall entry. (A slow
# machine only makes this weaker, never wrong; the package waits a minute.)
went_on=
for _ in $(seq 1 30); do
  if ! kill -0 "$setup_pid" 2>/dev/null; then went_on="it ended"; break; fi
  if [ "$(reg_value DisplayVersion)" != 2.3.0.1 ]; then went_on="it wrote its version"; break; fi
  sleep 0.5
done
check "upgrade waits while the client runs${went_on:+ ($went_on)}" [ -z "$went_on" ]
check "the older client still runs while the upgrade waits" kill -0 "$pid"
"$wine" "$probe" close Quillnet 30 || fail "older client did not close on WM_CLOSE"
wait "$pid"; pid=
wait "$setup_pid"; rc=$?
echo "measure: upgrade over a running client took $(( ($(date +%s%N) - start) / 1000000 )) ms (about 15 s of it waiting for the client on purpose)"
check "upgrade exits 0 once the client has gone (got $rc)" [ "$rc" = 0 ]
check "upgrade keeps the user's settings" [ "$(setting)" = 'kept user' ]
check "upgrade keeps the application list" cmp -s "$applist" "$work/applist.before"
check "upgrade keeps the local override file" cmp -s "$override" "$work/override.before"
dir="$drive/Program Files/Quillnet"
check "openvpn.exe is the cross-built one" cmp -s "$dir/openvpn/openvpn.exe" "$openvpn_build/openvpn.exe"
check "ca.crt is the package's CA" cmp -s "$dir/openvpn/ca.crt" "$ca"
for f in COPYING.openvpn COPYING.lzo COPYING.lz4; do check "openvpn/$f" [ -f "$dir/openvpn/$f" ]; done
check "no driver folders without a driver package" test ! -e "$dir/openvpn/driver_x86" -a ! -e "$dir/openvpn/driver_x64"
line=$("$wine" "$dir/openvpn/openvpn.exe" --version 2>/dev/null | tr -d '\r' | head -n 1)
check "installed openvpn prints its version line (got '$line')" grep -q '^OpenVPN 2\.[0-9]*\.[0-9]* ' <<<"$line"
check "Quillnet.exe in Program Files" [ -f "$dir/Quillnet.exe" ]
check "installed client is the built one" cmp -s "$dir/Quillnet.exe" "$client"
check "uninstaller installed" [ -f "$dir/Uninstall.exe" ]
if [ "$has_bind" = 1 ]; then
  check "QuillnetBind.dll installed" [ -f "$dir/QuillnetBind.dll" ]
fi
# Wine has no 32-bit socket catalog: the package leaves its 32-bit module
# out there (the variant below places it as on Windows).
check "no x86 folder where the system has no 32-bit catalog" [ ! -e "$dir/x86" ]
check "Start-menu shortcut" [ -f "$shortcut_dir/Quillnet.lnk" ]
check "uninstall entry's DisplayVersion" [ "$(reg_value DisplayVersion)" = 2.3.0.2 ]
check "uninstall entry's UninstallString" [ "$(reg_value UninstallString)" = '"C:\Program Files\Quillnet\Uninstall.exe"' ]

"$wine" "C:\\Program Files\\Quillnet\\Quillnet.exe" >"$work/client.log" 2>&1 &
pid=$!
if "$wine" "$probe" wait Quillnet 60; then
  echo "ok: installed client shows its window"
  "$wine" "$probe" close Quillnet 15 || fail "installed client did not close on WM_CLOSE"
  wait "$pid"; rc=$?
  check "installed client exits 0 (got $rc)" [ "$rc" = 0 ]
else
  fail "no window titled Quillnet from the installed client within 60 s"
  kill "$pid" 2>/dev/null
fi
pid=

start=$(date +%s%N)
uninstall "$dir" 'C:\Program Files\Quillnet'; rc=$?
echo "measure: uninstall took $(( ($(date +%s%N) - start) / 1000000 )) ms"
check "silent uninstall exits 0 (got $rc)" [ "$rc" = 0 ]
check "only the user's override file is left" [ "$(cd "$dir" 2>/dev/null && find . -mindepth 1 | tr '\n' ' ')" = "./Quillnet.exe.ini " ]
check "Start-menu folder removed" [ ! -e "$shortcut_dir" ]
check "uninstall entry removed" not key_exists

# --- stand-in bind module and openvpn folder --------------------------------
openvpn=$work/openvpn
mkdir -p "$openvpn/driver_x86" "$openvpn/driver_x64"
layout=(openvpn.exe COPYING.openvpn ca.crt)
for arch in x86 x64; do
  for f in OemWin2k.inf tap0901_openvpn_accl.cat tap0901_openvpn_accl.sys tapinstall.exe; do
    layout+=("driver_$arch/$f")
  done
done
for f in "${layout[@]}"; do echo "stand-in $f" >"$openvpn/$f"; done
# The x64 package's 32-bit module is a copy of the stand-in: only its place
# matters, which the stand-in reports with each call.
variant_defines=("${defines[@]}")
x86=
if [ -n "$bind32" ]; then
  variant_defines+=("-DBIND32_DLL=$standin" -DBIND32_ALWAYS)
  x86=" x86"
fi
variant=$work/QuillnetInstaller-variant.exe
"$makensis" -V1 "${variant_defines[@]}" "-DBIND_DLL=$standin" "-DOPENVPN_EXE_DIR=$openvpn" "-DTAP_DIR=$openvpn" "-DCA_CRT=$openvpn/ca.crt" "-DOUTFILE=$variant" "$script" ||
  { fail "makensis of the variant"; exit 1; }

export QUILLNET_BIND_STANDIN_LOG
QUILLNET_BIND_STANDIN_LOG=$(win "$work/bind.log")
dir="$drive/Quillnet Variant"
windir='C:\Quillnet Variant'
start=$(date +%s%N)
run_line "$(win "$variant") /S /D=$windir"; rc=$?
echo "measure: install of the variant (every file, registration) took $(( ($(date +%s%N) - start) / 1000000 )) ms"
check "variant: silent install into a chosen folder exits 0 (got $rc)" [ "$rc" = 0 ]
for f in "${layout[@]}"; do
  check "variant: openvpn/$f" cmp -s "$dir/openvpn/$f" "$openvpn/$f"
done
check "variant: QuillnetBind.dll is the module given" cmp -s "$dir/QuillnetBind.dll" "$standin"
[ -n "$x86" ] && check "variant: x86/QuillnetBind.dll is the 32-bit module given" cmp -s "$dir/x86/QuillnetBind.dll" "$standin"
check "variant: install unregisters, then registers the module" \
  [ "$(tr '\n' ' ' <"$work/bind.log" 2>/dev/null)" = "unregister$x86 register$x86 " ]
check "variant: uninstall entry points at the chosen folder" [ "$(reg_value InstallLocation)" = "$windir" ]

"$wine" "$variant" /S; rc=$?
check "variant: install over the install exits 0 (got $rc)" [ "$rc" = 0 ]
check "variant: install over the install keeps the folder" [ -f "$dir/Quillnet.exe" ]
check "variant: old module set aside and gone" [ ! -e "$dir/QuillnetBind.old" ]
[ -n "$x86" ] && check "variant: old 32-bit module set aside and gone" [ ! -e "$dir/x86/QuillnetBind.old" ]
check "variant: second install registers again" \
  [ "$(tr '\n' ' ' <"$work/bind.log" 2>/dev/null)" = "unregister$x86 register$x86 unregister$x86 unregister$x86 register$x86 " ]

echo "the user's own note" >"$dir/notes.txt"
uninstall "$dir" "$windir"; rc=$?
check "variant: silent uninstall exits 0 (got $rc)" [ "$rc" = 0 ]
check "variant: uninstall unregisters the module before deleting it" \
  [ "$(tail -n 1 "$work/bind.log" 2>/dev/null)" = "unregister$x86" ]
check "variant: only the user's file is left" [ "$(cd "$dir" 2>/dev/null && find . -mindepth 1 | sort | tr '\n' ' ')" = "./notes.txt " ]
check "variant: Start-menu folder removed" [ ! -e "$shortcut_dir" ]
check "variant: uninstall entry removed" not key_exists

if [ "$failures" = 0 ]; then echo "PASS: install, start and uninstall"; exit 0; fi
echo "$failures check(s) failed"
exit 1
