// dialogs_driver: opens one dialog on its own, on fixture data (not shipped).
//   dialogs_driver policy                    the chooser on 120 loopback servers until closed
//   dialogs_driver policy-filled PNG         the same, saved once the speed column is filled
//   dialogs_driver policy-empty PNG          a reply without servers, saved
//   dialogs_driver policy-perapp PNG         "For Application" selected, saved
//   dialogs_driver accel [PNG]               the accelerate dialog with entries
//   dialogs_driver accel-empty PNG           the accelerate dialog with an empty list
//   dialogs_driver bind [PNG]                the bind settings dialog
#include "platform/win32.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <thread>

#include "accel/app_list.h"
#include "account/reply_document.h"
#include "dialogs/dlg_accelerate_for_app_win.h"
#include "dialogs/dlg_vpn_policy_win.h"
#include "dialogs_gui/dialog_drive_win.h"
#include "dialogs_gui/dialog_fixtures_win.h"
#include "skin/registered_skin.h"
#include "skin/skin_attributes.h"
#include "skin_gallery/screenshot_win.h"
#include "text/text_table.h"
#include "ui/message_loop_win.h"

namespace {

int RunPolicy(const std::wstring& mode, const std::wstring& png) {
  CScratchFolder folder;
  ReplyFixture fixture;
  if (mode == L"policy-empty") fixture.servers = 0;
  const std::wstring reply = folder.File(L"login.ini");
  WriteLoginReply(reply, fixture);
  CUdpDelayResponder responder;
  VpnPolicyDialogInputs inputs;
  inputs.replyPath = reply;
  inputs.overrideFilePath = WriteUdpOnlyOverride(folder.Path());
  inputs.udpPort = responder.Port();
  inputs.bindModuleActive = true;
  int rc = png.empty() ? 0 : 2;
  std::thread shooter;
  inputs.onShown = [&](HWND dialog) {
    if (png.empty()) return;
    shooter = std::thread([&, dialog] {
      if (mode == L"policy-perapp") SelectRoute(dialog, 1);
      if (mode == L"policy-filled") WaitForSpeedColumn(dialog, 30000);
      rc = SaveWindow(dialog, png) ? 0 : 2;
      ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
  };
  RunVpnPolicyDialog(nullptr, inputs);
  if (shooter.joinable()) shooter.join();
  return rc;
}

void Settle(int ms) {
  const ULONGLONG until = ::GetTickCount64() + static_cast<ULONGLONG>(ms);
  while (::GetTickCount64() < until) {
    PumpPendingMessages();
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

int RunAccelerate(const std::wstring& mode, const std::wstring& png) {
  CScratchFolder folder;
  AccelerateDialogInputs inputs;
  inputs.appListPath = folder.File(L"applist.ini");
  if (mode == L"accel") WriteAppListFixture(folder);
  CDlgAccelerateForApp dialog(inputs);
  if (!dialog.Create(nullptr)) return 1;
  ::SetWindowPos(dialog.Handle(), nullptr, 40, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  dialog.Show(true);
  if (mode == L"accel") {
    // The second entry activated, the first selected: both looks side by side.
    HWND list = ::GetDlgItem(dialog.Handle(), kAccelAppList);
    SelectListRow(list, 1);
    ::SendMessageW(dialog.Handle(), WM_COMMAND, kCmdAccelActivate, 0);
    LVITEMW none{};
    none.stateMask = LVIS_SELECTED;
    ::SendMessageW(list, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&none));
    SelectListRow(list, 0);
  }
  if (png.empty()) return RunMessageLoop();
  Settle(1000);
  const bool ok = SaveWindow(dialog.Handle(), png);
  dialog.Destroy();
  return ok ? 0 : 2;
}

int RunBind(const std::wstring& png) {
  BindOptions options;
  options.forceWspBind = true;
  std::thread shooter;
  int rc = png.empty() ? 0 : 2;
  if (!png.empty())
    shooter = std::thread([&] {
      const std::wstring title = L"Quillnet" + GetText("AcceleratedAppSetting");
      HWND dialog = nullptr;
      WaitUntil(20000, [&] { return (dialog = ::FindWindowW(nullptr, title.c_str())) && ::IsWindowVisible(dialog); });
      if (!dialog) return;
      rc = SaveWindow(dialog, png) ? 0 : 2;
      ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
  RunVpnAppBindSettingDialog(nullptr, options);
  if (shooter.joinable()) shooter.join();
  return rc;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  const std::wstring mode = argc > 1 ? argv[1] : L"policy";
  const std::wstring png = argc > 2 ? argv[2] : L"";

  EnsureDialogTestEnvironment();

  if (mode.rfind(L"policy", 0) == 0) return RunPolicy(mode, png);
  if (mode.rfind(L"accel", 0) == 0) return RunAccelerate(mode, png);
  if (mode == L"bind") return RunBind(png);
  std::fprintf(stderr, "unknown mode\n");
  return 1;
}
