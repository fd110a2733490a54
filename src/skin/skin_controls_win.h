// The skinned control family: each wraps a platform control, tracks hover,
// carries a skin prefix and its own attributes, and draws itself from the
// skin registry over the background its parent hands it.
#pragma once
#include "platform/win32.h"

#include <string>

#include "skin/skin_attributes.h"
#include "skin/skin_buffer_win.h"
#include "ui/wnd_win.h"

template <class T>
class CSkinControl : public T {
 public:
  SkinAttributeBlock attributes;
  int hover = 0;
  std::wstring skinPrefix;
  bool initialised = false;
  RECT rectInParent{};
  RECT clientRect{};

  virtual void OnSkinInit() {}
  // Sees every message before the control's normal handling.
  virtual bool SkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

  void EnsureSkinInit() {
    if (initialised) return;
    initialised = true;
    rectInParent = this->RectInParent();
    clientRect = this->ClientRect();
    OnSkinInit();
  }
  std::int32_t Int(const std::wstring& name, const std::wstring& suffix, std::int32_t fallback) const {
    return GetSkinAttributes().ResolveInt(attributes, skinPrefix, name, suffix, fallback);
  }
  std::wstring String(const std::wstring& name, const std::wstring& suffix, const std::wstring& fallback) const {
    return GetSkinAttributes().ResolveString(attributes, skinPrefix, name, suffix, fallback);
  }
  std::int32_t& OwnInt(const std::wstring& name) { return CSkinAttributes::IntRef(attributes, name); }
  void SetOwnString(const std::wstring& name, const std::wstring& value) {
    CSkinAttributes::SetString(attributes, name, value);
  }

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    LRESULT result = 0;
    if (SkinMessage(message, wParam, lParam, result)) return result;
    return T::WindowProc(message, wParam, lParam);
  }
};

template <class T>
bool CSkinControl<T>::SkinMessage(UINT message, WPARAM, LPARAM, LRESULT& result) {
  EnsureSkinInit();
  HWND w = this->Handle();
  switch (message) {
    case WM_MOUSEMOVE:
      if (!hover) {
        TRACKMOUSEEVENT track{sizeof track, TME_HOVER | TME_LEAVE, w, 1};
        ::TrackMouseEvent(&track);
      }
      break;
    case WM_MOUSEHOVER:
      if (!hover) {
        hover = 1;
        ::InvalidateRect(w, nullptr, FALSE);
      }
      break;
    case WM_MOUSELEAVE: {
      TRACKMOUSEEVENT track{sizeof track, TME_CANCEL | TME_HOVER | TME_LEAVE, w, 1};
      ::TrackMouseEvent(&track);
      hover = 0;
      ::InvalidateRect(w, nullptr, FALSE);
      break;
    }
    case WM_SIZE:
      clientRect = this->ClientRect();
      break;
    case WM_WINDOWPOSCHANGED:
      rectInParent = this->RectInParent();
      break;
    case WM_SETCURSOR:
      if (const std::int32_t cursor = Int(L"Cursor", L"", 0)) {
        ::SetCursor(reinterpret_cast<HCURSOR>(static_cast<INT_PTR>(cursor)));
        result = 1;
        return true;
      }
      break;
  }
  return false;
}

class CSkinButton : public CSkinControl<CButton> {
 public:
  void OnSkinInit() override;
  bool DrawItem(const DRAWITEMSTRUCT& item) override;
};

class CSkinSystemButton : public CSkinButton {};
class CSkinSystemButtonClose : public CSkinSystemButton {};
class CSkinSystemButtonMinimize : public CSkinSystemButton {};
class CSkinSystemButtonRestore : public CSkinSystemButton {};
class CSkinSystemButtonMaximize : public CSkinSystemButton {};

class CSkinCheckBox : public CSkinControl<CButton> {
 public:
  CSkinCheckBox() { skinPrefix = L"CheckBox"; }
  int checkState = 0;
  void OnSkinInit() override;
  bool SkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  bool DrawItem(const DRAWITEMSTRUCT& item) override;
};

class CSkinRadioBox : public CSkinControl<CButton> {
 public:
  CSkinRadioBox() { skinPrefix = L"RadioBox"; }
  void OnSkinInit() override;
  bool SkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  bool DrawItem(const DRAWITEMSTRUCT& item) override;
};

class CSkinStatic : public CSkinControl<CStatic> {
 public:
  CSkinStatic() { skinPrefix = L"Static"; }
  void OnSkinInit() override;
  bool DrawItem(const DRAWITEMSTRUCT& item) override;
};

class CSkinEdit : public CSkinControl<CEdit> {
 public:
  CSkinEdit() { skinPrefix = L"Edit"; }
};

class CSkinWnd : public CSkinControl<CWnd> {
 public:
  bool SkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 protected:
  virtual HBRUSH ChildBackgroundBrush() const;
};

class CSkinHeaderPanel : public CSkinWnd {
 public:
  CSkinHeaderPanel() { skinPrefix = L"HeaderPanel"; }
  void OnSkinInit() override;
  bool SkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 protected:
  HBRUSH ChildBackgroundBrush() const override;

 private:
  void Paint(HDC target);
};

// Creation helpers: children of `parent`, in the parent's font.
bool CreateSkinButton(CSkinButton& button, const std::wstring& text, const RECT& rect, HWND parent, int id,
                      const wchar_t* prefix = nullptr);
bool CreateImageButton(CSkinButton& button, HWND parent, const std::wstring& prefix);
template <class T>
void SizeToSkin(CSkinControl<T>& control) {
  const SkinCell& cell = GetSkinAttributes().GetCell(control.skinPrefix);
  if (cell.left == 0 && cell.top == 0 && cell.right == 0 && cell.bottom == 0) return;
  ::SetWindowPos(control.Handle(), nullptr, 0, 0, cell.Width(), cell.Height(),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}
bool CreateSkinCheckBox(CSkinCheckBox& box, const std::wstring& text, const RECT& rect, HWND parent, int id);
bool CreateSkinRadioBox(CSkinRadioBox& box, const std::wstring& text, const RECT& rect, HWND parent, int id,
                        bool firstOfGroup = false);
bool CreateSkinStatic(CSkinStatic& text, const std::wstring& caption, const RECT& rect, HWND parent,
                      int id = 0xFFFF);
bool CreateSkinEdit(CSkinEdit& edit, const RECT& rect, HWND parent, int id, DWORD style = 0);
bool CreateSkinPanel(CSkinWnd& panel, const RECT& rect, HWND parent, const std::wstring& title = L"");
