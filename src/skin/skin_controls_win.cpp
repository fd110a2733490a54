#include "skin/skin_controls_win.h"

#include "skin/skin_layout.h"
#include "skin/skin_platform_win.h"

namespace {

SkinRect ToSkin(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }
RECT ToRect(const SkinRect& r) { return {r.left, r.top, r.right, r.bottom}; }

CSkinAttributes& Skin() { return GetSkinAttributes(); }

HFONT ObjectFont(const std::wstring& name, const std::wstring& suffix, HFONT fallback) {
  return static_cast<HFONT>(Skin().GetObject(name, suffix, fallback));
}

bool IsPushed(HWND button) { return (::SendMessageW(button, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0; }

// The box of a check or radio box at the item's top-left: sized by the
// fallback lookup, drawn only from the exact name.
int DrawBox(HDC dc, const std::wstring& prefix, const std::wstring& checked, const std::wstring& state,
            const RECT& r) {
  const SkinCell& sized = Skin().GetCell3(prefix, checked, state);
  Skin().DrawCell(dc, Skin().GetCell(prefix + checked + state), kCellNaturalSize, r.left, r.top, r.left, r.top);
  return sized.Width();
}

}  // namespace

// --- CSkinButton --------------------------------------------------------------

void CSkinButton::OnSkinInit() {
  if (skinPrefix.empty()) skinPrefix = Id() == IDCANCEL ? L"CancelButton" : L"Button";
  ModifyStyle(BS_TYPEMASK, BS_OWNERDRAW);
  ModifyStyleEx(0, WS_EX_TRANSPARENT);
  Invalidate(false);
}

bool CSkinButton::DrawItem(const DRAWITEMSTRUCT& item) {
  EnsureSkinInit();
  const std::wstring text = Text();
  const bool pushed = IsPushed(Handle());
  const std::wstring state = ButtonStateSuffix(item.itemState & ODS_DISABLED, pushed, hover);
  const RECT r = item.rcItem;
  CAutoBufferDC dc(r, item.hDC);
  RequestParentBackground(Handle(), dc);

  const SkinCell& face = Skin().GetCell(skinPrefix, state);
  if (face.Drawable()) Skin().DrawCell(dc, face, 0, r.left, r.top, r.right, r.bottom);

  HGDIOBJ oldFont = ::SelectObject(dc, ObjectFont(skinPrefix + L"Font", state, Font()));
  ::SetBkMode(dc, TRANSPARENT);

  ButtonItemInput in;
  in.item = ToSkin(r);
  in.pushed = pushed;
  const std::wstring icon = String(L"Icon", L"", L"");
  const SkinCell* iconCell = nullptr;
  if (!icon.empty()) {
    const SkinCell& c = Skin().GetCell3(icon, L"", state);
    if (c.Drawable()) {
      iconCell = &c;
      in.hasIcon = true;
      in.iconWidth = c.Width();
      in.iconHeight = c.Height();
      in.textWidth = Skin().Platform().TextWidth(dc.Surface(), text);
    }
  }
  in.align = String(L"Align", L"", L"Center");
  in.valign = String(L"VAlign", L"", L"");
  const ButtonItemLayout layout = LayOutButtonItem(in);
  if (iconCell && layout.icon)
    Skin().DrawCell(dc, *iconCell, kCellNaturalSize, layout.icon->left, layout.icon->top, layout.icon->left,
                    layout.icon->top);
  ::SetTextColor(dc, static_cast<COLORREF>(Int(L"TextColor", state, static_cast<std::int32_t>(::GetTextColor(dc)))));
  RECT t = ToRect(layout.text);
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &t, layout.format);
  ::SelectObject(dc, oldFont);
  return true;
}

// --- CSkinCheckBox ------------------------------------------------------------

void CSkinCheckBox::OnSkinInit() {
  checkState = Default(BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
  ModifyStyle(BS_TYPEMASK, BS_OWNERDRAW);
  ModifyStyleEx(0, WS_EX_TRANSPARENT);
  Invalidate(false);
}

bool CSkinCheckBox::SkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  EnsureSkinInit();
  switch (message) {
    case BM_GETCHECK:
      result = checkState;
      return true;
    case BM_SETCHECK:
      checkState = wParam == BST_CHECKED ? 1 : 0;
      result = 0;
      return true;
    case WM_LBUTTONUP: {
      const POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      if (hover && ::PtInRect(&clientRect, p)) checkState = !checkState;
      break;
    }
    case WM_KEYDOWN:
      // Only the first press, not the keyboard's repeats.
      if (wParam == VK_SPACE && !(lParam & (1 << 30))) checkState = !checkState;
      break;
  }
  return CSkinControl<CButton>::SkinMessage(message, wParam, lParam, result);
}

bool CSkinCheckBox::DrawItem(const DRAWITEMSTRUCT& item) {
  EnsureSkinInit();
  const std::wstring state = ButtonStateSuffix(item.itemState & ODS_DISABLED, IsPushed(Handle()), hover);
  const std::wstring checked = checkState ? L"Checked" : L"Unchecked";
  const RECT r = item.rcItem;
  CAutoBufferDC dc(r, item.hDC);
  RequestParentBackground(Handle(), dc);
  const int boxWidth = DrawBox(dc, skinPrefix, checked, state, r);
  RECT t{r.left + boxWidth + 3, r.top, r.right, r.bottom};
  HGDIOBJ oldFont = ::SelectObject(dc, ObjectFont(skinPrefix + L"Font", state, Font()));
  ::SetBkMode(dc, TRANSPARENT);
  const std::wstring text = Text();
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &t, DT_SINGLELINE | DT_TOP | DT_LEFT);
  ::SelectObject(dc, oldFont);
  return true;
}

// --- CSkinRadioBox ------------------------------------------------------------

void CSkinRadioBox::OnSkinInit() {
  SetFont(SkinFont(String(L"Font", L"", L"DefaultFont").c_str(), Font()), false);
}

bool CSkinRadioBox::SkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  EnsureSkinInit();
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC target = ::BeginPaint(Handle(), &ps);
      DRAWITEMSTRUCT item{};
      item.CtlType = ODT_BUTTON;
      item.CtlID = static_cast<UINT>(Id());
      item.itemAction = ODA_DRAWENTIRE;
      if (Default(BM_GETCHECK, 0, 0) == BST_CHECKED) item.itemState |= ODS_CHECKED;
      if (!Enabled()) item.itemState |= ODS_DISABLED;
      if (::GetFocus() == Handle()) item.itemState |= ODS_FOCUS;
      item.hwndItem = Handle();
      item.hDC = target;
      item.rcItem = clientRect;
      DrawItem(item);
      ::EndPaint(Handle(), &ps);
      result = 0;
      return true;
    }
    case WM_UPDATEUISTATE:
      result = 0;
      return true;
    case BM_SETCHECK:
    case BM_SETSTATE:
    case WM_ENABLE:
    case WM_SETTEXT:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_KEYDOWN:
    case WM_KEYUP: {
      // The platform paints these state changes itself, straight to the
      // screen; paint the skin over them.
      CSkinControl<CButton>::SkinMessage(message, wParam, lParam, result);
      result = Default(message, wParam, lParam);
      Invalidate(false);
      return true;
    }
  }
  return CSkinControl<CButton>::SkinMessage(message, wParam, lParam, result);
}

bool CSkinRadioBox::DrawItem(const DRAWITEMSTRUCT& item) {
  EnsureSkinInit();
  const std::wstring state = ButtonStateSuffix(item.itemState & ODS_DISABLED, IsPushed(Handle()), hover);
  const std::wstring checked = (item.itemState & ODS_CHECKED) ? L"Checked" : L"Unchecked";
  const RECT r = item.rcItem;
  CAutoBufferDC dc(r, item.hDC);
  ::FillRect(dc, &r, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  const int boxWidth = DrawBox(dc, skinPrefix, checked, state, r);
  RECT t{r.left + boxWidth + 3, r.top, r.right, r.bottom};
  HGDIOBJ oldFont = ::SelectObject(dc, ObjectFont(skinPrefix + L"Font", state, Font()));
  ::SetBkMode(dc, TRANSPARENT);
  const std::wstring text = Text();
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &t, DT_SINGLELINE | DT_VCENTER | DT_LEFT);
  ::SelectObject(dc, oldFont);
  return true;
}

// --- CSkinStatic --------------------------------------------------------------

void CSkinStatic::OnSkinInit() {
  ModifyStyle(SS_TYPEMASK, SS_OWNERDRAW);
  ModifyStyleEx(0, WS_EX_TRANSPARENT);
  Invalidate(false);
}

bool CSkinStatic::DrawItem(const DRAWITEMSTRUCT& item) {
  EnsureSkinInit();
  const RECT r = item.rcItem;
  CAutoBufferDC dc(r, item.hDC);
  RequestParentBackground(Handle(), dc);
  const std::wstring text = Text();
  const UINT align = String(L"Align", L"", L"") == L"Right" ? DT_RIGHT : DT_LEFT;
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, static_cast<COLORREF>(Int(L"TextColor", L"", static_cast<std::int32_t>(::GetTextColor(dc)))));
  HGDIOBJ oldFont = ::SelectObject(dc, ObjectFont(skinPrefix + L"Font", L"", Font()));
  const std::wstring icon = String(L"Icon", L"", L"");
  const SkinCell& cell = Skin().GetCell(icon);
  if (!icon.empty() && cell.Drawable()) {
    Skin().DrawIconText(cell, dc.Surface(), text, ToSkin(r), kIconLeft | kIconTop, kTextWordBreak);
  } else {
    RECT t = r;
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &t, DT_SINGLELINE | DT_VCENTER | align);
  }
  ::SelectObject(dc, oldFont);
  return true;
}

// --- CSkinWnd -----------------------------------------------------------------

HBRUSH CSkinWnd::ChildBackgroundBrush() const { return SkinBrush(L"CtlColorBrush"); }

bool CSkinWnd::SkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (CSkinControl<CWnd>::SkinMessage(message, wParam, lParam, result)) return true;
  switch (message) {
    case WM_COMMAND:
      result = ::SendMessageW(::GetParent(Handle()), WM_COMMAND, wParam, lParam);
      return true;
    case WM_GETFONT:
      result = reinterpret_cast<LRESULT>(SkinFont(String(L"Font", L"", L"DefaultFont").c_str()));
      return true;
    case WM_SKINBACKGROUND: {
      RECT area{};
      ::GetClientRect(reinterpret_cast<HWND>(lParam), &area);
      if (HBRUSH brush = ChildBackgroundBrush()) ::FillRect(reinterpret_cast<HDC>(wParam), &area, brush);
      result = 1;
      return true;
    }
    case WM_ERASEBKGND: {
      // The panel class has no background brush; give it the one it hands its children.
      RECT area = ClientRect();
      if (HBRUSH brush = ChildBackgroundBrush()) ::FillRect(reinterpret_cast<HDC>(wParam), &area, brush);
      result = 1;
      return true;
    }
  }
  return false;
}

// --- CSkinHeaderPanel ---------------------------------------------------------

HBRUSH CSkinHeaderPanel::ChildBackgroundBrush() const { return SkinBrush(L"HeaderPanelBackgroundColorBrush"); }

void CSkinHeaderPanel::OnSkinInit() {
  ModifyStyleEx(0, WS_EX_TRANSPARENT);
  Invalidate(false);
}

void CSkinHeaderPanel::Paint(HDC target) {
  const RECT r = ClientRect();
  CAutoBufferDC dc(r, target);
  RequestParentBackground(Handle(), dc);
  HGDIOBJ oldPen = ::SelectObject(dc, SkinPen(L"HeaderPanelBorderPen"));
  HGDIOBJ oldBrush = ::SelectObject(dc, SkinBrush(L"HeaderPanelBackgroundColorBrush"));
  ::Rectangle(dc, r.left, r.top, r.right, r.bottom);
  ::SelectObject(dc, oldPen);
  ::SelectObject(dc, oldBrush);

  const SkinCell& left = Skin().GetCell(skinPrefix + L"TitleLeft");
  const SkinCell& right = Skin().GetCell(skinPrefix + L"TitleRight");
  const int width = r.right - r.left;
  Skin().DrawCell(dc, left, kCellNaturalSize, 0, 0, 0, 0);
  Skin().DrawCell(dc, right, kCellNaturalSize, width - right.Width(), 0, width - right.Width(), 0);
  Skin().DrawCellByName(dc, skinPrefix, L"TitleMiddle", 0, left.Width(), 0, width - right.Width(), left.Height());

  const SkinRect bar{left.Width(), 0, width - right.Width(), left.Height()};
  const std::wstring text = Text();
  HGDIOBJ oldFont = ::SelectObject(dc, Font());
  ::SetBkMode(dc, TRANSPARENT);
  const SkinCell& icon = Skin().GetCell(String(L"Icon", L"", L""));
  if (icon.Drawable()) {
    Skin().DrawIconText(icon, dc.Surface(), text, bar, kIconCentreHorizontally | kIconCentreVertically, 0);
  } else {
    RECT t = ToRect(bar);
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &t, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
  }
  ::SelectObject(dc, oldFont);
}

bool CSkinHeaderPanel::SkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case WM_PAINT: {
      EnsureSkinInit();
      PAINTSTRUCT ps;
      HDC target = ::BeginPaint(Handle(), &ps);
      Paint(target);
      ::EndPaint(Handle(), &ps);
      result = 0;
      return true;
    }
    case WM_ERASEBKGND:
      result = 1;  // the paint covers everything
      return true;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
      ::SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
      result = reinterpret_cast<LRESULT>(SkinBrush(L"HeaderPanelBackgroundColorBrush"));
      return true;
  }
  return CSkinWnd::SkinMessage(message, wParam, lParam, result);
}

// --- creation -----------------------------------------------------------------

bool CreateSkinButton(CSkinButton& button, const std::wstring& text, const RECT& rect, HWND parent, int id,
                      const wchar_t* prefix) {
  if (prefix) button.skinPrefix = prefix;
  ControlArgs args;
  args.windowClass = L"BUTTON";
  args.text = text;
  args.rect = rect;
  args.style = WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | BS_OWNERDRAW;
  args.id = id;
  return button.CreateControl(parent, args);
}

bool CreateImageButton(CSkinButton& button, HWND parent, const std::wstring& prefix) {
  if (!CreateSkinButton(button, L"", MakeRect(0, 0, 10, 10), parent, 0)) return false;
  button.skinPrefix = prefix;
  button.EnsureSkinInit();
  SizeToSkin(button);
  return true;
}

bool CreateSkinCheckBox(CSkinCheckBox& box, const std::wstring& text, const RECT& rect, HWND parent, int id) {
  ControlArgs args;
  args.text = text;
  args.rect = rect;
  args.style = WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | BS_AUTOCHECKBOX;
  args.id = id;
  return box.CreateControl(parent, args);
}

bool CreateSkinRadioBox(CSkinRadioBox& box, const std::wstring& text, const RECT& rect, HWND parent, int id,
                        bool firstOfGroup) {
  ControlArgs args;
  args.text = text;
  args.rect = rect;
  args.style = WS_VISIBLE | WS_TABSTOP | BS_AUTORADIOBUTTON | (firstOfGroup ? WS_GROUP : 0);
  args.id = id;
  if (!box.CreateControl(parent, args)) return false;
  box.EnsureSkinInit();
  return true;
}

bool CreateSkinStatic(CSkinStatic& text, const std::wstring& caption, const RECT& rect, HWND parent, int id) {
  ControlArgs args;
  args.windowClass = L"STATIC";
  args.text = caption;
  args.rect = rect;
  args.style = WS_VISIBLE | WS_CLIPSIBLINGS;
  args.id = id;
  return text.CreateControl(parent, args);
}

bool CreateSkinEdit(CSkinEdit& edit, const RECT& rect, HWND parent, int id, DWORD style) {
  ControlArgs args;
  args.windowClass = L"EDIT";
  args.rect = rect;
  args.style = WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL | style;
  args.id = id;
  return edit.CreateControl(parent, args);
}

bool CreateSkinPanel(CSkinWnd& panel, const RECT& rect, HWND parent, const std::wstring& title) {
  ControlArgs args;
  const std::wstring& cls = GetSkinAttributes().PanelWindowClass();
  args.windowClass = cls.c_str();
  args.text = title;
  args.rect = rect;
  args.style = WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  args.id = 0xFFFF;
  return panel.CreateControl(parent, args);
}
