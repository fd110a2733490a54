#include "platform/window_message_target_win.h"

#include "platform/win32.h"

bool CWindowMessageTarget::Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  return PostMessageW(window_, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam)) != 0;
}
