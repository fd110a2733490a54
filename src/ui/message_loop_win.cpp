#include "ui/message_loop_win.h"

#include <algorithm>
#include <vector>

namespace {

std::vector<HWND>& ModelessDialogs() {
  static std::vector<HWND> dialogs;
  return dialogs;
}

void Dispatch(MSG& msg) {
  for (HWND dialog : ModelessDialogs())
    if (::IsWindow(dialog) && ::IsDialogMessageW(dialog, &msg)) return;
  ::TranslateMessage(&msg);
  ::DispatchMessageW(&msg);
}

}  // namespace

void AddModelessDialog(HWND dialog) {
  auto& dialogs = ModelessDialogs();
  if (std::find(dialogs.begin(), dialogs.end(), dialog) == dialogs.end()) dialogs.push_back(dialog);
}

void RemoveModelessDialog(HWND dialog) {
  auto& dialogs = ModelessDialogs();
  dialogs.erase(std::remove(dialogs.begin(), dialogs.end(), dialog), dialogs.end());
}

int RunMessageLoop() {
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) Dispatch(msg);
  return static_cast<int>(msg.wParam);
}

void PumpPendingMessages() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    Dispatch(msg);
  }
}
