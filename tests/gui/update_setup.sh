#!/usr/bin/env bash
# The installer kind of the online update, end to end under Wine: an older
# Quillnet.exe is told to update, downloads the real signed installer from the
# reference account service, checks it, starts it and ends; the installer's
# wizard is walked through and the install is checked on disk and in the
# registry. Before that, the same installer unsigned (right MD5) is refused,
# deleted and never started.
# usage: update_setup.sh QUILLNET_EXE PROBE_EXE SERVICE_EXE INSTALLER TRIPLET WORK_DIR SCREENSHOT_DIR
set -u
exe=$1 probe=$2 service=$3 installer=$4 triplet=$5 work=$6 shots=$7
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
[ -f "$installer" ] || { echo "skipped: no installer at $installer"; exit 77; }
. "$here/tests/gui/client_lib.sh"
command -v osslsigncode >/dev/null || { echo "skipped: no osslsigncode"; exit 77; }

# The client plays an old release: its fixed version information says 1.0,
# so the installer of this build is newer. Nothing checks the running
# client's own signature, only the package's.
old=$work/Quillnet-old.exe
python3 - "$exe" "$old" <<'PY' || { echo "cannot make an older client"; exit 1; }
import sys
image = bytearray(open(sys.argv[1], "rb").read())
at = image.find(b"\xbd\x04\xef\xfe", image.find("VS_VERSION_INFO".encode("utf-16-le")))
assert at > 0
image[at + 8:at + 12] = (0x00010000).to_bytes(4, "little")
open(sys.argv[2], "wb").write(bytes(image))
PY
exe=$old

unsigned=$work/QuillnetInstaller-unsigned.exe
rm -f "$unsigned"  # osslsigncode will not overwrite a previous run's copy
osslsigncode remove-signature -in "$installer" -out "$unsigned" >/dev/null 2>&1 ||
  { echo "the installer is not signed: $installer"; exit 1; }
nocheck=$(sed -e 's/^UpdateURL=.*/UpdateURL=/' <<<"$demo")
install_dir="$prefix/drive_c/Program Files/Quillnet"
[ "$triplet" = i686-w64-mingw32 ] && install_dir="$prefix/drive_c/Program Files (x86)/Quillnet"
[ -d "$prefix/drive_c/Program Files (x86)" ] || install_dir="$prefix/drive_c/Program Files/Quillnet"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillnet'
installer_started() { pgrep -f 'Update.QuillnetInstaller[.]exe' >/dev/null; }

# --- unsigned, right MD5: refused, deleted, no installer window -------------
start_service unsigned "$(printf '%s\n[Downloads]\nDownloadSetup=%s\n' "$nocheck" "$unsigned")"
start_client unsigned "$port" $'ForceOnlineUpdateTest=setup\r\n'
probe box 'Your Quillnet is outdated' 60 >/dev/null || fail "unsigned: the forced update was not offered"
# An OK posted while the box is still being made can be lost: wait for it first.
probe seen 'The update data has been downloaded' 90 >/dev/null || fail "unsigned: the download did not complete"
sleep 1
probe box 'The update data has been downloaded' 10 >/dev/null || fail "unsigned: the confirmation went away"
refusal=$(probe box 'not a genuine Quillnet release' 60) || fail "unsigned: an unsigned installer was not refused"
grep -q 'deleted. (' <<<"$refusal" || fail "unsigned: the refusal does not say why: $refusal"
wait_gone unsigned
[ -z "$(find "$prefix/drive_c/ProgramData/Quillnet" -iname QuillnetInstaller.exe 2>/dev/null)" ] ||
  fail "unsigned: the refused installer was not deleted"
installer_started && fail "unsigned: an installer window appeared"
[ -e "$install_dir/Quillnet.exe" ] && fail "unsigned: something was installed"

# --- signed: downloaded, checked, started; the wizard installs this build ---
start_service setup "$(printf '%s\n[Downloads]\nDownloadSetup=%s\n' "$nocheck" "$installer")"
start_client setup "$port" $'ForceOnlineUpdateTest=setup\r\n'
probe box 'Your Quillnet is outdated' 60 >/dev/null || fail "setup: the forced update was not offered"
probe seen 'The update data has been downloaded' 90 >/dev/null || fail "setup: the download did not complete"
sleep 1
probe box 'The update data has been downloaded' 10 >/dev/null || fail "setup: the confirmation went away"
# The client ends after starting the installer, which waits for it to go.
wait_gone setup
# The wizard's caption grows with its page: "Quillnet Setup" and more.
probe shot 'Quillnet Setup*' "$(winpath "$shots/update-setup-wizard.png")" >/dev/null 2>&1
# The folder page's button (1) installs; the files page then moves to the
# finish page on its own.
probe press 'Quillnet Setup*' 1 90 >/dev/null || fail "setup: the installer's wizard did not appear"
installed=
for _ in $(seq 1 900); do
  if [ -f "$install_dir/Uninstall.exe" ] && [ -f "$install_dir/Quillnet.exe" ] &&
     "$wine" reg query "$uninstall_key" /v DisplayVersion >/dev/null 2>&1; then
    installed=1
    break
  fi
  sleep 0.2
done
[ -n "$installed" ] || fail "setup: nothing was installed (folder: $(ls "$install_dir" 2>&1 | tr '\n' ' '))"
file_version() { "$wine" "$probe" version "$(winpath "$1")" | tr -d '\r' | sed -n 's/^FileVersion=//p'; }
version=$("$wine" reg query "$uninstall_key" /v DisplayVersion 2>/dev/null | tr -d '\r' | awk '$1 == "DisplayVersion" { print $3 }')
want=$(file_version "$installer")
got=$(file_version "$install_dir/Quillnet.exe")
[ -n "$want" ] && [ "$version" = "$want" ] && [ "$got" = "$want" ] ||
  fail "setup: the package is $want; installed: registry '$version', Quillnet.exe '$got'"
cmp -s "$old" "$install_dir/Quillnet.exe" && fail "setup: the old client was installed"
[ -z "$(find "$prefix/drive_c/ProgramData/Quillnet" -iname QuillnetInstaller.exe 2>/dev/null)" ] ||
  echo "note: the downloaded installer is still in the data folder (removed at the client's next start)"
# End the wizard and whatever it started; nothing of this prefix is kept.
/usr/bin/wineserver -k 2>/dev/null

[ "$failures" = 0 ] || { echo "$failures failures; logs in $work"; exit 1; }
echo "PASS: unsigned installer refused and deleted; signed installer downloaded, started and installed this build ($version)"
