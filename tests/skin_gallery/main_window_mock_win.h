// The main window's frame and controls at their places, without its flows:
// what the repaint benchmark paints and what the gallery shows as the main
// window's look.
#pragma once
#include "platform/win32.h"

#include <memory>
#include <vector>

#include "skin/skin_window_win.h"
#include "ui/dialog_win.h"

class CDlgMainWindowMock : public CDialog {
 public:
  static constexpr int kWidth = 327;
  static constexpr int kHeight = 464;
  CSkinWindow skinWindow;
  std::vector<std::unique_ptr<CSkinButton>> buttons;
  std::vector<std::unique_ptr<CSkinStatic>> statics;
  CSkinEdit account, password;
  CSkinCheckBox savePassword;
  int Controls() const;

 protected:
  bool OnInitDialog() override;
  void OnCancel() override { Destroy(); }
};
