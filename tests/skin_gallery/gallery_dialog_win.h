// A skinned dialog showing every skinned control in every state, with the
// hover, pushed and disabled states forced by messages.
#pragma once
#include "platform/win32.h"

#include <memory>
#include <vector>

#include "skin/skin_window_win.h"
#include "ui/dialog_win.h"

enum class GalleryState { Normal, Hovered, Pushed, Disabled };
void ForceState(HWND control, GalleryState state);

class CDlgSkinGallery : public CDialog {
 public:
  static constexpr int kWidth = 960;
  static constexpr int kHeight = 600;

  CSkinWindow skinWindow;
  std::vector<std::unique_ptr<CSkinButton>> buttons;
  std::vector<std::unique_ptr<CSkinCheckBox>> checkBoxes;
  std::vector<std::unique_ptr<CSkinRadioBox>> radioBoxes;
  std::vector<std::unique_ptr<CSkinStatic>> statics;
  std::vector<std::unique_ptr<CSkinEdit>> edits;
  CSkinWnd panel;
  CSkinHeaderPanel headerPanel;

  bool quitWhenClosed = false;  // the gallery program's only window

  // Forces every control into the state it shows (again after a repaint test).
  void ForceStates();

 protected:
  bool OnInitDialog() override;
  void OnCancel() override { Destroy(); }
  void OnDestroy() override {
    if (quitWhenClosed) ::PostQuitMessage(0);
  }

 private:
  CSkinButton& AddButton(const std::wstring& text, int x, int y, int w, int h, const wchar_t* prefix, int id = 1000,
                         HWND parent = nullptr);
  CSkinStatic& AddStatic(const std::wstring& text, int x, int y, int w, int h, HWND parent = nullptr);
  std::vector<std::pair<HWND, GalleryState>> forced_;
};
