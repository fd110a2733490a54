// The chooser opened on 1,000 servers against the same dialog on 10, from
// the call to the end of its first complete paint, and a sort of 1,000 rows
// by speed, measured in the same run under Wine. The speed test is off
// there (the override file allows neither probe), so only the window's own
// work is timed; a last run with both probes measures how long the window
// keeps a message waiting while results stream in.
//   chooser_open_bench [rounds]
#include "platform/win32.h"

#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <thread>
#include <vector>

#include "account/reply_document.h"
#include "dialogs/dlg_vpn_policy_win.h"
#include "dialogs_gui/dialog_drive_win.h"
#include "dialogs_gui/dialog_fixtures_win.h"
#include "servers/speed_probe.h"
#include "skin/registered_skin.h"
#include "skin/skin_attributes.h"
#include "text/text_table.h"
#include "win_bench_timing.h"

namespace {


struct Timing {
  double open = 0;  // seconds, call to first paint
  double sort = 0;  // seconds, header click to repainted list
  double click = 0;  // of that, the click's own handling (sort and new rows)
  int shown = 0;     // rows on the screen, the ones a repaint draws
};

// Where the interface thread's time goes: every window of the dialog gets a
// stopwatch around its outermost message handling, and the longest are kept
// with what they handled.
struct Handling {
  double ms = 0;
  double start = 0;  // seconds
  UINT message = 0;
  std::wstring windowClass;
};
std::vector<Handling>* gHandlings = nullptr;
int gDepth = 0;
// Every handling of a posted speed result, however short.
int gResults = 0;
double gResultSeconds = 0;

// The stopwatch sits in front of each window's procedure, kept in a map of
// this process: the platform's subclass helper looks its data up in a
// window property, a round trip to the window system on every message,
// which would add to the very times measured here.
std::map<HWND, WNDPROC>* gPrevious = nullptr;

LRESULT CALLBACK TimedProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  const WNDPROC previous = gPrevious->at(w);
  const bool outermost = gHandlings && gDepth == 0;
  const double start = outermost ? Now() : 0;
  ++gDepth;
  const LRESULT result = ::CallWindowProcW(previous, w, message, wParam, lParam);
  --gDepth;
  if (outermost) {
    const double ms = (Now() - start) * 1000;
    if (message == kMsgIcmpResult || message == kMsgUdpResult || message == WM_APP + 78) {
      ++gResults;
      gResultSeconds += ms / 1000;
    }
    if (ms >= 2) {
      wchar_t name[64] = {};
      ::GetClassNameW(w, name, 64);
      gHandlings->push_back({ms, start, message, name});
    }
  }
  return result;
}

BOOL CALLBACK TimeChild(HWND w, LPARAM) {
  if (!gPrevious) gPrevious = new std::map<HWND, WNDPROC>;  // lives as long as the windows may
  if (gPrevious->count(w) != 0) return TRUE;
  (*gPrevious)[w] = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(w, GWLP_WNDPROC));
  ::SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TimedProc));
  return TRUE;
}

void TimeWindows(HWND dialog) {
  TimeChild(dialog, 0);
  ::EnumChildWindows(dialog, &TimeChild, 0);
}

void PrintLongest(const char* what, std::vector<Handling> handlings) {
  std::sort(handlings.begin(), handlings.end(), [](const Handling& a, const Handling& b) { return a.ms > b.ms; });
  std::printf("%s: %zu handlings of 2 ms or more; the longest:", what, handlings.size());
  for (std::size_t i = 0; i < handlings.size() && i < 6; ++i)
    std::printf(" %.1f ms (0x%04x to %ls)", handlings[i].ms, handlings[i].message, handlings[i].windowClass.c_str());
  std::printf("\n");

}

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
    timing.click = Now() - sortStart;
    ::RedrawWindow(list, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    timing.sort = Now() - sortStart;
    if (ListRowCount(list) != servers) std::fprintf(stderr, "expected %d rows, saw %d\n", servers, ListRowCount(list));
    timing.shown = std::min(ListRowCount(list), static_cast<int>(::SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0)));
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  };
  RunVpnPolicyDialog(nullptr, inputs);
  return timing;
}

// How long the user-interface thread keeps a message waiting while results
// stream in: a helper window on that thread takes a message posted every
// 10 ms with its posting time; the longest wait bounds the longest handling.
struct Stall {
  double longest = 0, p99 = 0;
  int samples = 0, results = 0;
};
struct Wait {
  double posted = 0, waited = 0;  // seconds
  bool operator<(const Wait& other) const { return waited < other.waited; }
};
std::vector<Wait>* gWaits = nullptr;

LRESULT CALLBACK ProbeProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP + 5 && gWaits) {
    const double posted = static_cast<double>(static_cast<ULONGLONG>(wParam)) / 1e6;
    gWaits->push_back({posted, Now() - posted});
    return 0;
  }
  return ::DefWindowProcW(w, message, wParam, lParam);
}

Stall StreamOnce(const CScratchFolder& folder, int servers, int seconds) {
  ReplyFixture fixture;
  fixture.servers = servers;
  fixture.categories = {L"china"};
  const std::wstring reply = folder.File(L"stream" + std::to_wstring(servers) + L".ini");
  WriteLoginReply(reply, fixture);
  CUdpDelayResponder responder;
  VpnPolicyDialogInputs inputs;
  inputs.replyPath = reply;
  inputs.overrideFilePath = folder.File(L"no-override.ini");  // both probes
  inputs.udpPort = responder.Port();
  std::vector<Wait> waits;
  std::vector<Handling> handlings;
  gWaits = &waits;
  std::thread poster;
  HWND probe = nullptr;
  inputs.onShown = [&](HWND dialog) {
    TimeWindows(dialog);
    gHandlings = &handlings;
    WNDCLASSW cls{};
    cls.lpfnWndProc = &ProbeProc;
    cls.hInstance = ::GetModuleHandleW(nullptr);
    cls.lpszClassName = L"QuillnetStallProbe";
    ::RegisterClassW(&cls);
    probe = ::CreateWindowW(cls.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, cls.hInstance, nullptr);
    poster = std::thread([&, dialog] {
      const double end = Now() + seconds;
      while (Now() < end) {
        ::PostMessageW(probe, WM_APP + 5, static_cast<WPARAM>(static_cast<ULONGLONG>(Now() * 1e6)), 0);
        ::Sleep(10);  // the probe's pace, not a wait for anything
      }
      ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
  };
  RunVpnPolicyDialog(nullptr, inputs);
  gHandlings = nullptr;
  if (poster.joinable()) poster.join();
  if (probe) ::DestroyWindow(probe);
  gWaits = nullptr;
  PrintLongest("while results stream in", handlings);
  std::printf("result messages handled: %d, %.0f ms in all\n", gResults, gResultSeconds * 1000);
  Stall stall;
  stall.samples = static_cast<int>(waits.size());
  stall.results = responder.Answered();
  if (waits.empty()) return stall;
  std::sort(waits.begin(), waits.end());
  stall.longest = waits.back().waited * 1000;
  stall.p99 = waits[waits.size() * 99 / 100].waited * 1000;
  // What the thread handled while the longest-waiting message waited.
  const Wait& worst = waits.back();
  std::printf("during the longest wait (%.1f ms):", worst.waited * 1000);
  for (const Handling& h : handlings)
    if (h.start + h.ms / 1000 > worst.posted && h.start < worst.posted + worst.waited)
      std::printf(" %.1f ms at +%.1f (0x%04x to %ls)", h.ms, (h.start - worst.posted) * 1000, h.message,
                  h.windowClass.c_str());
  std::printf("\n");
  std::vector<Wait> byTime = waits;
  std::sort(byTime.begin(), byTime.end(), [](const Wait& a, const Wait& b) { return a.posted < b.posted; });
  std::printf("waits of 50 ms or more, by posting time:");
  for (const Wait& w : byTime)
    if (w.waited >= 0.05) std::printf(" +%.0f:%.0f", (w.posted - byTime.front().posted) * 1000, w.waited * 1000);
  std::printf("\n");
  return stall;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int rounds = argc > 1 ? _wtoi(argv[1]) : 5;
  EnsureDialogTestEnvironment();
  CScratchFolder folder;
  OpenOnce(folder, 10);  // warm-up: fonts, images, the first window class
  std::vector<double> open10, open1000, sort10, sort1000, click10, click1000, sortFull;
  int shown10 = 0, shown1000 = 0, shownFull = 0;
  // Ten rows leave part of the list empty, so their repaint is smaller than
  // any full list's; twenty rows fill it as a thousand do.
  constexpr int kFullPage = 20;
  for (int r = 0; r < rounds; ++r) {
    const Timing small = OpenOnce(folder, 10);
    const Timing full = OpenOnce(folder, kFullPage);
    const Timing large = OpenOnce(folder, 1000);
    sortFull.push_back(full.sort);
    shownFull = full.shown;
    open10.push_back(small.open);
    sort10.push_back(small.sort);
    open1000.push_back(large.open);
    sort1000.push_back(large.sort);
    click10.push_back(small.click);
    click1000.push_back(large.click);
    shown10 = small.shown;
    shown1000 = large.shown;
  }
  const double o10 = Median(open10) * 1000, o1000 = Median(open1000) * 1000;
  const double s10 = Median(sort10) * 1000, s1000 = Median(sort1000) * 1000;
  std::printf("chooser open to first paint, median of %d: 10 servers %.1f ms, 1000 servers %.1f ms, "
              "difference %.1f ms (goal under 300), ratio %.2f\n",
              rounds, o10, o1000, o1000 - o10, o1000 / o10);
  std::printf("sort by speed and repaint: 10 rows %.1f ms, 1000 rows %.1f ms, ratio %.2f\n", s10, s1000, s1000 / s10);
  std::printf("  of which the click (sort, new rows): 10 rows %.1f ms, 1000 rows %.1f ms\n", Median(click10) * 1000,
              Median(click1000) * 1000);
  std::printf("  rows on the screen: %d and %d; per row on the screen the ratio is %.2f\n", shown10, shown1000,
              (s1000 / shown1000) / (s10 / shown10));
  const double sFull = Median(sortFull) * 1000;
  std::printf("sort by speed and repaint, full lists: %d rows %.1f ms, 1000 rows %.1f ms, ratio %.2f "
              "(rows on the screen: %d and %d)\n",
              kFullPage, sFull, s1000, s1000 / sFull, shownFull, shown1000);
  const Stall stall = StreamOnce(folder, 1000, 8);
  std::printf("while results stream in (1000 servers, 8 s, %d UDP answers): longest message wait %.1f ms, "
              "99th percentile %.1f ms over %d probes (goal: longest handling under 50)\n",
              stall.results, stall.longest, stall.p99, stall.samples);
  return 0;
}
