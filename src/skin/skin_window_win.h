// The skin of a dialog: no system frame, a frame drawn from skin cells into
// an off-screen background, rounded top corners, a draggable title area and
// skinned caption buttons. It sees every message before the dialog does.
#pragma once
#include "platform/win32.h"

#include <memory>

#include "skin/skin_attributes.h"
#include "skin/skin_controls_win.h"

class CSkinWindow {
 public:
  CSkinWindow() = default;
  virtual ~CSkinWindow();
  CSkinWindow(const CSkinWindow&) = delete;
  CSkinWindow& operator=(const CSkinWindow&) = delete;

  virtual LRESULT CallPrevious(UINT message, WPARAM wParam, LPARAM lParam);
  virtual bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  virtual void Layout();

  // Called by the dialog while it initialises, after setting `attributes`.
  void Attach(HWND dialog);

  SkinAttributeBlock attributes;

  HDC BackgroundSurface() const { return background_; }
  const RECT& TitleRect() const { return title_; }
  CSkinButton* CloseButton() const { return close_.get(); }
  CSkinButton* MinimizeButton() const { return minimize_.get(); }
  CSkinButton* MaximizeButton() const { return maximize_.get(); }
  CSkinButton* RestoreButton() const { return restore_.get(); }

 private:
  static LRESULT CALLBACK HookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void RenderBackground(int width, int height);
  void SetRoundedRegion(int width, int height);
  void DropBackground();
  std::int32_t Own(const wchar_t* name, std::int32_t fallback) const;

  HDC background_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previousBitmap_ = nullptr;
  RECT title_{};
  RECT client_{};
  std::unique_ptr<CSkinSystemButtonClose> close_;
  std::unique_ptr<CSkinSystemButtonMinimize> minimize_;
  std::unique_ptr<CSkinSystemButtonRestore> restore_;
  std::unique_ptr<CSkinSystemButtonMaximize> maximize_;
  WNDPROC previous_ = nullptr;
  HWND dialog_ = nullptr;
  // The region the skin last set; any other region was the dialog's own.
  HRGN skinRegion_ = nullptr;
};

// Pixel sizes of the window region's corner ellipses.
constexpr int kSkinCornerEllipse = 9;
