// IMessageTarget over a window: the product's way for workers to reach the
// user-interface thread.
#pragma once
#include "platform/message_target.h"

struct HWND__;

class CWindowMessageTarget : public IMessageTarget {
 public:
  explicit CWindowMessageTarget(HWND__* window) : window_(window) {}
  bool Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
  HWND__* Window() const { return window_; }

 private:
  HWND__* window_;
};
