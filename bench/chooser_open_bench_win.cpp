// The chooser opened on 1,000 servers against the same dialog on 10, from
// the call to the end of its first complete paint, and a sort of 1,000 rows
// by speed, measured in the same run under Wine. The speed test is off
// (the override file allows neither probe), so only the window's own work
// is timed.
//   chooser_open_bench [rounds]
#include "platform/win32.h"

#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "account/reply_document.h"
#include "dialogs/dlg_vpn_policy_win.h"
#include "dialogs_gui/dialog_drive_win.h"
#include "dialogs_gui/dialog_fixtures_win.h"
#include "skin/registered_skin.h"
#include "skin/skin_attributes.h"
#include "text/text_table.h"
#include "win_bench_timing.h"

namespace {


struct Timing {
  double open = 0;  // seconds, call to first paint
  double sort = 0;  // seconds, header click to repainted list
};

Timing OpenOnce(const CScratchFolder& folder, int servers) {
  ReplyFixture fixture;
  fixture.servers = servers;
  fixture.categories = {L"china"};  // every server in the one tab
  const std::wstring reply = folder.File(L"login" + std::to_wstring(servers) + L".ini");
  WriteLoginReply(reply, fixture);
  const std::wstring overrides = folder.File(L"override.ini");
  IniWriteInt(overrides, L"Main", L"AllowPingByICMP", 0);
  IniWriteInt(overrides, L"Main", L"AllowPingByUDP", 0);
  VpnPolicyDialogInputs inputs;
  inputs.replyPath = reply;
  inputs.overrideFilePath = overrides;
  Timing timing;
  const double start = Now();
  inputs.onShown = [&](HWND dialog) {
    ::ShowWindow(dialog, SW_SHOW);
    ::RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    timing.open = Now() - start;
    HWND list = ServerList(dialog);
    const double sortStart = Now();
    ClickHeaderColumn(list, 2);
    ::RedrawWindow(list, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    timing.sort = Now() - sortStart;
    if (ListRowCount(list) != servers) std::fprintf(stderr, "expected %d rows, saw %d\n", servers, ListRowCount(list));
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  };
  RunVpnPolicyDialog(nullptr, inputs);
  return timing;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int rounds = argc > 1 ? _wtoi(argv[1]) : 5;
  EnsureDialogTestEnvironment();
  CScratchFolder folder;
  OpenOnce(folder, 10);  // warm-up: fonts, images, the first window class
  std::vector<double> open10, open1000, sort10, sort1000;
  for (int r = 0; r < rounds; ++r) {
    const Timing small = OpenOnce(folder, 10);
    const Timing large = OpenOnce(folder, 1000);
    open10.push_back(small.open);
    sort10.push_back(small.sort);
    open1000.push_back(large.open);
    sort1000.push_back(large.sort);
  }
  const double o10 = Median(open10) * 1000, o1000 = Median(open1000) * 1000;
  const double s10 = Median(sort10) * 1000, s1000 = Median(sort1000) * 1000;
  std::printf("chooser open to first paint, median of %d: 10 servers %.1f ms, 1000 servers %.1f ms, "
              "difference %.1f ms (goal under 300), ratio %.2f\n",
              rounds, o10, o1000, o1000 - o10, o1000 / o10);
  std::printf("sort by speed and repaint: 10 rows %.1f ms, 1000 rows %.1f ms, ratio %.2f\n", s10, s1000, s1000 / s10);
  return 0;
}
