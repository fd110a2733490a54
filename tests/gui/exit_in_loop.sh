#!/usr/bin/env bash
# The real Quillnet.exe is told to leave while one of its flows waits in a
# nested message loop: the outdated-client box that the host race's winning
# reply raises, answered neither way. Exit from the tray menu and the close
# box (the path Escape takes) must end the program cleanly: nothing of the
# window or the host probe may be used after it is freed, and nothing that
# flow would have gone on to show may appear. The heap fills freed blocks, so
# a use after free shows up as a crash in the client's log.
# usage: exit_in_loop.sh QUILLNET_EXE PROBE_EXE SERVICE_EXE TRIPLET WORK_DIR SCREENSHOT_DIR
set -u
exe=$1 probe=$2 service=$3 triplet=$4 work=$5 shots=$6
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$here/tests/gui/client_lib.sh"

# Freed heap blocks are filled (FLG_HEAP_ENABLE_FREE_CHECK | TAIL_CHECK), and
# a crash is written to the log instead of waiting in a dialog.
"$wine" reg add 'HKLM\System\CurrentControlSet\Control\Session Manager' /v GlobalFlag /t REG_DWORD /d 0x30 /f \
  >/dev/null 2>&1 || fail "cannot set the heap checks"
"$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
/usr/bin/wineserver -k 2>/dev/null
wine_up

start_service silent "$(printf '[Service]\nBind=127.0.0.1\nHttpPort=0\nHttpsPort=-1\nNoAnswer=1\n')"
silent_port=$port
# No update page (it would open Wine's browser stand-in); the download would
# never end, so a download dialog that shows stays visible to the check.
update=$(sed -e 's/^RequiredClientVersion=.*/RequiredClientVersion=9.0.0.0/' -e 's/^UpdateURL=.*/UpdateURL=/' \
  -e "s|^\\[VPN\\]\$|[VPN]\\nDownloadSetup=http://127.0.0.1:$silent_port/setup.exe\\nDownloadGreen=http://127.0.0.1:$silent_port/client.exe|" <<<"$demo")
start_service update "$update"
update_port=$port

exit_command=32774  # the tray menu's Exit
# leave_during_offer NAME HOW: HOW is "exit" (the tray's Exit) or "close" (WM_CLOSE).
leave_during_offer() {
  local name=$1 how=$2
  start_client "$name" "$update_port"
  probe main 60 >/dev/null || fail "$name: no main window"
  # The box is answered by nobody: the program is told to leave under it.
  probe seen 'Your Quillnet is outdated' 60 >/dev/null || { fail "$name: the update offer did not show"; return; }
  [ "$how" = exit ] && probe shot 'Quillnet' "$(winpath "$shots/update-offer-before-exit.png")" >/dev/null
  if [ "$how" = exit ]; then
    probe command "$exit_command" || fail "$name: no main window for Exit"
  else
    probe close main 20 || fail "$name: the main window did not go on WM_CLOSE"
  fi
  # Whatever the flow would have shown next must not come.
  if probe wait 'Quillnet Online Update' 3 >/dev/null 2>&1; then
    fail "$name: the update download started after the user left"
  fi
  local rc=0
  wait_gone "$name" || rc=$?
  # A freed string read as one ends in "terminate called ..."; a freed
  # object called through in a page fault.
  if grep -a -q -E 'terminate called|Unhandled exception|page fault|Backtrace' "$work/client-$name.log"; then
    fail "$name: the client crashed on leaving: $(head -c 300 "$work/client-$name.log" | tr '\n' ' ')"
  fi
  [ "$rc" = 0 ] || fail "$name: the client ended with exit code $rc"
}
leave_during_offer offer-exit exit
leave_during_offer offer-close close

[ "$failures" = 0 ] || { echo "$failures failures; logs in $work"; exit 1; }
echo "PASS: Exit and close during the update offer end the client cleanly"
