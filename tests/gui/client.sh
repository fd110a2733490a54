#!/usr/bin/env bash
# Drives the real Quillnet.exe under Wine against the reference account
# service on loopback: the window appears with the service's announcements,
# a wrong password shows the service's refusal, the demo account's login
# opens the server chooser and reaches the connect flow, a second start brings the first window forward
# and ends, the login progress can be cancelled, and an outdated client
# offers its update. Keeps screenshots of each window.
# usage: client.sh QUILLNET_EXE PROBE_EXE SERVICE_EXE TRIPLET WORK_DIR SCREENSHOT_DIR
set -u
exe=$1 probe=$2 service=$3 triplet=$4 work=$5 shots=$6
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$here/tests/gui/client_lib.sh"
start_service demo "$demo"
demo_port=$port

# --- the window, the refusal, the login to the chooser, the second start ---
# The first client starts with a hostile OpenSSL configuration named in its
# environment: it names a library that leaves a marker when it is loaded.
planted=$work/planted-openssl
rm -rf "$planted" && mkdir -p "$planted"
cp "$(dirname "$probe")/planted_engine.dll" "$planted/" || fail "no planted_engine.dll beside the probe"
printf 'openssl_conf = planted_init\n[planted_init]\nengines = planted_engines\n[planted_engines]\nplanted = planted_engine\n[planted_engine]\ndynamic_path = %s\n' \
  "$(winpath "$planted/planted_engine.dll" | sed 's/\\/\\\\/g')" >"$planted/openssl.cnf"
OPENSSL_CONF=$(winpath "$planted/openssl.cnf") start_client main "$demo_port"
probe main 60 >/dev/null || fail "no main window within 60 s"
probe status Ready 20 >/dev/null || fail "the status line never said Ready"
probe status 127.0.0.1 20 1013 >/dev/null || fail "the public address from the host probe never showed"
probe status 'Welcome to Quillnet' 20 1036 >/dev/null || fail "the service's first announcement never showed"
probe shot main "$(winpath "$shots/main-window-empty.png")" || fail "screenshot of the empty main window"

probe login demo wrong-password
probe box 'After login, Quillnet will be minimized' 20 >/dev/null || fail "the first Connect did not show its one-time tip"
refusal=$(probe box 'Login error occured' 30) || fail "a wrong password showed no login error"
grep -q 'password' <<<"$refusal" || fail "the login error does not carry the service's message: $refusal"
probe status 'Login error occured' 10 >/dev/null || fail "the status line does not say Login error occured"
probe shot main "$(winpath "$shots/main-window-login-failed.png")" || fail "screenshot after the failed login"

probe login demo quillnet
probe box 'Welcome to the Quillnet demo.' 30 >/dev/null || fail "the service's welcome message did not show"
probe wait 'Choose a VPN Server' 30 || fail "the login did not open the server chooser"
probe shot 'Choose a VPN Server' "$(winpath "$shots/chooser-after-login.png")" || fail "screenshot of the chooser"
probe press 'Choose a VPN Server' 2 10 || fail "could not cancel the chooser"
probe status 'Login is cancelled' 10 >/dev/null || fail "after the cancelled chooser the status is not Login is cancelled"
# Again, now choosing: the first server of the first tab (1021 is the
# server list; its first row sits below the 20-pixel header), Connect.
probe login demo quillnet
probe box 'Welcome to the Quillnet demo.' 30 >/dev/null || fail "the second login's welcome did not show"
probe wait 'Choose a VPN Server' 30 || fail "the second login did not open the chooser"
probe click 'Choose a VPN Server' 1021 60 28 || fail "no server list to click"
probe press 'Choose a VPN Server' 1 10 || fail "could not press Connect in the chooser"
# New York 1 offers every type: the dial-up ones fail under Wine, OpenVPN
# is not beside this client (the connect flow's own test goes further).
probe answer "doesn't have OpenVPN componment" 7 60 >/dev/null || fail "the connect step did not ask about openvpn"
probe box 'OpenVPN Tap driver' 30 >/dev/null || fail "the connect step said nothing of the adapter"
probe box 'OpenVPN driver can not be installed' 60 >/dev/null || fail "the connect step did not say the driver cannot be installed"
reports=$(probe box 'PPTP: ' 60) || fail "the connect step showed no reports"
grep -q '^OpenVPN: ' <<<"$reports" || fail "the reports do not list OpenVPN: $reports"
probe enabled 1003 10 || fail "Connect is not enabled after the failed connect"
# The tray menu's About (32775): version, build date and the web site.
probe command 32775 || fail "no main window for the About command"
probe shot Quillnet "$(winpath "$shots/about-box.png")" || fail "screenshot of the About box"
about=$(probe box 'Copyright (C) The Quillnet developers' 10) || fail "the About box did not show"
grep -q '^Quillnet [0-9]' <<<"$about" || fail "the About box does not start with the version: $about"
probe status '2031-01-01' 5 1011 >/dev/null || fail "the expiry date did not show"
probe shot main "$(winpath "$shots/main-window-after-login.png")" || fail "screenshot after the login"
# Two logins over HTTPS have started OpenSSL by now.
[ ! -e "$planted/planted_engine.dll.loaded" ] || fail "the client loaded the library a planted OpenSSL configuration named"

probe hide >/dev/null || fail "could not hide the main window"
"$wine" "$exe" </dev/null >"$work/second.log" 2>&1 &
second=$!
probe box 'Quillnet is running' 30 >/dev/null || fail "the second start did not say the client is running"
for _ in $(seq 1 150); do kill -0 "$second" 2>/dev/null || break; sleep 0.1; done
kill -0 "$second" 2>/dev/null && { fail "the second instance did not end"; kill "$second"; }
wait "$second" 2>/dev/null
probe main 10 >/dev/null || fail "the second start did not bring the first window forward"
[ "$(probe count)" = 1 ] || fail "more than one main window exists"

# The tray icon: a restarted shell, then a double-click on the icon (515 is
# WM_LBUTTONDBLCLK) brings the hidden window back.
probe hide >/dev/null || fail "could not hide the main window"
probe taskbar || fail "the main window did not take TaskbarCreated"
probe tray 515 || fail "no main window for the tray message"
probe main 10 >/dev/null || fail "a double-click on the tray icon did not show the window"
stop_client main

# --- the login progress dialog, cancelled -----------------------------------
# Every answer waits 8 s: first the host probe's, then the login's.
slow=$(sed -e 's/^DelayMs=.*/DelayMs=8000/' <<<"$demo")
start_service slow "$slow"
start_client slow "$port"
probe main 60 >/dev/null || fail "slow: no main window"
probe status 127.0.0.1 40 1013 >/dev/null || fail "slow: the host probe never won"
probe login demo quillnet
probe shot 'Quillnet Login' "$(winpath "$shots/transfer-dialog.png")" || fail "screenshot of the transfer dialog"
probe press 'Quillnet Login' 2 20 >/dev/null || fail "slow: no transfer dialog to cancel"
probe status 'Login is cancelled' 20 >/dev/null || fail "cancelling the transfer did not say Login is cancelled"
stop_client slow

# --- an outdated client: the update dialog, cancelled by the user ------------
start_service silent "$(printf '[Service]\nBind=127.0.0.1\nHttpPort=0\nHttpsPort=-1\nNoAnswer=1\n')"
silent_port=$port
# No update page: a failure would open it in Wine's browser stand-in.
update=$(sed -e 's/^RequiredClientVersion=.*/RequiredClientVersion=9.0.0.0/' -e 's/^UpdateURL=.*/UpdateURL=/' \
  -e "s|^\\[VPN\\]\$|[VPN]\\nDownloadGreen=https://127.0.0.1:$silent_port/client.php|" <<<"$demo")
start_service update "$update"
start_client update "$port"
probe box 'Your Quillnet is outdated' 60 >/dev/null || fail "update: an outdated client did not say so"
probe shot 'Quillnet Online Update' "$(winpath "$shots/online-update-dialog.png")" || fail "screenshot of the update dialog"
probe press 'Quillnet Online Update' 2 20 >/dev/null || fail "update: no update dialog"
probe box 'Do you want to cancel online update?' 20 >/dev/null || fail "update: Escape did not ask first"
probe box 'You have cancelled the update' 20 >/dev/null || fail "update: no cancellation message"
wait_gone update

# --- an unsigned package with the right MD5: refused, deleted, nothing started
# The new copy is the client one version newer with bytes after its image,
# so the replaced file can be told from the old one; the service announces
# it with its MD5. Unsigned first, then signed by the test publisher.
unsigned=$work/Quillnet-unsigned.exe
fresh=$work/Quillnet-new.exe
osslsigncode remove-signature -in "$exe" -out "$unsigned" >/dev/null 2>&1 || cp "$exe" "$unsigned"
python3 - "$unsigned" <<'PY' || fail "cannot make a newer copy of the client"
import sys
path = sys.argv[1]
image = bytearray(open(path, "rb").read())
# The fixed file information that follows the version resource's key; the
# signature alone also stands in the code that reads it.
at = image.find(b"\xbd\x04\xef\xfe", image.find("VS_VERSION_INFO".encode("utf-16-le")))
assert at > 0
low = int.from_bytes(image[at + 12:at + 16], "little") + 1
image[at + 12:at + 16] = low.to_bytes(4, "little")
open(path, "wb").write(bytes(image) + b"quillnet-update-test")
PY
rm -f "$fresh"
osslsigncode sign -certs "$pki/codesign.pem" -key "$pki/codesign.key" -h sha256 -n Quillnet \
  -in "$unsigned" -out "$fresh" >/dev/null || fail "cannot sign the newer copy"
nocheck=$(sed -e 's/^UpdateURL=.*/UpdateURL=/' <<<"$demo")
start_service unsigned "$(printf '%s\n[Downloads]\nDownloadGreen=%s\n' "$nocheck" "$unsigned")"
start_client unsigned "$port" $'ForceOnlineUpdateTest=green\r\n'
probe box 'Your Quillnet is outdated' 60 >/dev/null || fail "unsigned: the forced update was not offered"
# An OK posted while the box is still being made can be lost: wait for it first.
probe seen 'The update data has been downloaded' 60 >/dev/null || fail "unsigned: the download did not complete"
sleep 1
probe box 'The update data has been downloaded' 10 >/dev/null || fail "unsigned: the confirmation went away"
refusal=$(probe box 'not a genuine Quillnet release' 60) || fail "unsigned: an unsigned package was not refused"
grep -q 'deleted. (' <<<"$refusal" || fail "unsigned: the refusal does not say why: $refusal"
[ -z "$(find "$prefix/drive_c/ProgramData/Quillnet" -name Quillnet.exe 2>/dev/null)" ] ||
  fail "unsigned: the refused package was not deleted"
cmp -s "$exe" "$work/client-unsigned/Quillnet.exe" || fail "unsigned: the client file was changed"
wait_gone unsigned

# --- a signed package swapped while its confirmation shows: the file is
# checked when it is started, after the box, so the swap is refused
start_service swap "$(printf '%s\n[Downloads]\nDownloadGreen=%s\n' "$nocheck" "$fresh")"
start_client swap "$port" $'ForceOnlineUpdateTest=green\r\n'
probe box 'Your Quillnet is outdated' 60 >/dev/null || fail "swap: the forced update was not offered"
probe seen 'The update data has been downloaded' 60 >/dev/null || fail "swap: the download did not complete"
downloaded=$(find "$prefix/drive_c/ProgramData/Quillnet" -name Quillnet.exe 2>/dev/null | head -n 1)
[ -n "$downloaded" ] && cp "$unsigned" "$downloaded" || fail "swap: no downloaded file to swap"
sleep 1
probe box 'The update data has been downloaded' 10 >/dev/null || fail "swap: the confirmation went away"
probe box 'not a genuine Quillnet release' 60 >/dev/null || fail "swap: a file swapped after the download was started"
cmp -s "$exe" "$work/client-swap/Quillnet.exe" || fail "swap: the client file was changed"
wait_gone swap

# --- the portable update: downloaded, checked, started with /update ---------
start_service green "$(printf '%s\n[Downloads]\nDownloadGreen=%s\n' "$nocheck" "$fresh")"
green_port=$port
start_client green "$green_port" $'ForceOnlineUpdateTest=green\r\n'
old_copy=$work/client-green/Quillnet.exe
probe box 'Your Quillnet is outdated' 60 >/dev/null || fail "green: the forced update was not offered"
probe seen 'The update data has been downloaded' 60 >/dev/null || fail "green: the download did not complete"
sleep 1
probe box 'The update data has been downloaded' 10 >/dev/null || fail "green: the confirmation went away"
replaced=
# The handover ends the old client and copies over it: slow on a busy machine.
for _ in $(seq 1 1200); do
  cmp -s "$fresh" "$old_copy" && { replaced=1; break; }
  sleep 0.1
done
[ -n "$replaced" ] || fail "green: the started copy did not replace the old file"
# The replaced client starts again and, still forced, offers the update
# again: that is where this test ends it.
probe box 'Your Quillnet is outdated' 60 >/dev/null || fail "green: the updated client did not start"
/usr/bin/wineserver -k 2>/dev/null
wait "$client" 2>/dev/null
client=
wine_up

# A wrong digest: the download is refused and nothing is started.
bad=$(sed -e 's/^UpdateURL=.*/UpdateURL=/' \
  -e "s|^\\[VPN\\]\$|[VPN]\\nDownloadGreen=https://127.0.0.1:$green_port/downloads/Quillnet-new.exe\\nDownloadGreenMD5=00000000000000000000000000000000|" <<<"$demo")
start_service badmd5 "$bad"
start_client badmd5 "$port" $'ForceOnlineUpdateTest=green\r\n'
probe box 'Your Quillnet is outdated' 60 >/dev/null || fail "badmd5: the forced update was not offered"
failure=$(probe box 'Can not download the update file' 60) || fail "badmd5: a wrong MD5 did not show the failure"
# The way out is in the same box, not in one of its own.
grep -q 'navigate your browser' <<<"$failure" || fail "badmd5: the failure does not say where to get the update: $failure"
cmp -s "$exe" "$work/client-badmd5/Quillnet.exe" || fail "badmd5: the client file was changed"
wait_gone badmd5

# --- the installer's switches: plain boxes, then the program ends -----------
# switch NAME ARGUMENT TEXT [WITH-MODULE]
switch() {
  local name=$1 argument=$2 text=$3 module=${4:-}
  local dir=$work/switch-$name
  mkdir -p "$dir"
  cp "$exe" "$dir/Quillnet.exe"
  [ -n "$module" ] && cp "$module" "$dir/"
  "$wine" "$dir/Quillnet.exe" "$argument" </dev/null >"$work/switch-$name.log" 2>&1 &
  client=$!
  probe box "$text" 30 >/dev/null || fail "$argument: no box saying \"$text\""
  wait_gone "$argument"
  [ "$(probe count)" = 0 ] || fail "$argument: a main window was made"
}
switch register-missing /REGISTER 'Modules can not be installed'
switch unregister-missing /unregister 'Modules can not be uninstalled'
bind=$(dirname "$exe")/QuillnetBind.dll
# With the module beside it the switch reaches the module's own registration,
# which Wine's socket catalogue refuses; either answer is a box, then the end.
if [ -f "$bind" ]; then
  switch register /register 'Quillnet Modules' "$bind"
  switch unregister /unregister 'Quillnet Modules' "$bind"
fi

[ "$failures" = 0 ] || { echo "$failures failures; logs in $work"; exit 1; }
echo "PASS: window, refusal, chooser to the connect flow, About, second start, cancelled transfer, update offer, portable update and a wrong digest; screenshots in $shots"
