// The small window framework every dialog and skinned control stands on: a
// window object bound to its handle, subclassing, timers, and controls
// created in code at fixed positions.
#pragma once
#include "platform/win32.h"

#include <string>

// Where and how to create a child control.
struct ControlArgs {
  const wchar_t* windowClass = L"BUTTON";
  std::wstring text;
  RECT rect{};
  DWORD style = 0;  // WS_CHILD is always added
  DWORD exStyle = 0;
  int id = 0;
};

class CWnd {
 public:
  CWnd() = default;
  virtual ~CWnd();
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND Handle() const { return window_; }
  operator HWND() const { return window_; }
  static CWnd* FromHandle(HWND window);

  // Creates a child of `parent` and subclasses it.
  bool CreateControl(HWND parent, const ControlArgs& args);
  // Routes an existing window's messages through WindowProc.
  bool Subclass(HWND window);
  void Unsubclass();

  // Sees every message of a subclassed window; the default passes it on.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);
  // Owner drawing reflected from the parent; true when drawn.
  virtual bool DrawItem(const DRAWITEMSTRUCT&) { return false; }

  // Conveniences over the window.
  int Id() const;
  std::wstring Text() const;
  void SetText(const std::wstring& text);
  RECT ClientRect() const;
  RECT RectInParent() const;
  void Move(const RECT& rect, bool repaint = true);
  void Invalidate(bool erase = false);
  void Show(bool visible);
  void Enable(bool enabled);
  bool Enabled() const;
  void SetFont(HFONT font, bool redraw = true);
  HFONT Font() const;
  void ModifyStyle(DWORD remove, DWORD add);
  void ModifyStyleEx(DWORD remove, DWORD add);
  bool SetTimer(UINT_PTR id, UINT ms);
  void KillTimer(UINT_PTR id);

 protected:
  // Binds without subclassing (dialogs are bound through their dialog procedure).
  void Bind(HWND window);
  void Unbind();
  HWND window_ = nullptr;

 private:
  static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  WNDPROC previous_ = nullptr;
};

// Hands WM_DRAWITEM to the control object it is about; true when it drew.
bool ReflectDrawItem(LPARAM lParam);

class CButton : public CWnd {
 public:
  int GetCheck() const;
  void SetCheck(int state);
  UINT GetState() const;
  void SetState(bool pushed);
};
class CStatic : public CWnd {};
class CEdit : public CWnd {};
class CListBox : public CWnd {};

RECT MakeRect(int left, int top, int right, int bottom);
