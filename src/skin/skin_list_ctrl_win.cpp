#include "skin/skin_lists_win.h"

#include "skin/skin_platform_win.h"
#include "skin/tab_logic.h"

namespace {

CSkinAttributes& Skin() { return GetSkinAttributes(); }
RECT ToRect(const ListRect& r) { return {r.left, r.top, r.right, r.bottom}; }
ListRect ToList(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }

void Fill(HDC dc, const RECT& r, COLORREF colour) {
  if (r.right <= r.left || r.bottom <= r.top) return;
  ::SetBkColor(dc, colour);
  ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

// State image 2 is checked, 1 unchecked.
void ToggleCheck(HWND list, int item) {
  const UINT state = static_cast<UINT>(::SendMessageW(list, LVM_GETITEMSTATE, item, LVIS_STATEIMAGEMASK));
  LVITEMW lv{};
  lv.stateMask = LVIS_STATEIMAGEMASK;
  lv.state = INDEXTOSTATEIMAGEMASK((state >> 12) == 2 ? 1 : 2);
  ::SendMessageW(list, LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&lv));
}

std::wstring ItemText(HWND list, int item, int column) {
  wchar_t buffer[1024] = {};
  LVITEMW lv{};
  lv.iSubItem = column;
  lv.pszText = buffer;
  lv.cchTextMax = 1024;
  ::SendMessageW(list, LVM_GETITEMTEXTW, item, reinterpret_cast<LPARAM>(&lv));
  return buffer;
}

}  // namespace

// --- CSkinHeaderCtrl ------------------------------------------------------------

void CSkinHeaderCtrl::Paint(HDC target) {
  const RECT r = ClientRect();
  CAutoBufferDC dc(r, target);
  Skin().DrawCellByName(dc, L"HeaderCtrlColumnMiddle", L"", 0, r.left, r.top, r.right, r.bottom);
  const SkinCell& left = Skin().GetCell(L"HeaderCtrlColumnLeft");
  const SkinCell& right = Skin().GetCell(L"HeaderCtrlColumnRight");
  HGDIOBJ oldFont = ::SelectObject(dc, SkinFont(L"HeaderCtrlFont", Font()));
  ::SetBkMode(dc, TRANSPARENT);
  const int count = static_cast<int>(::SendMessageW(Handle(), HDM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    RECT column{};
    if (!::SendMessageW(Handle(), HDM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&column))) continue;
    const HeaderColumnEnds ends = HeaderColumnEndsFor(ToList(column), left.Width(), right.Width());
    Skin().DrawCell(dc, left, 0, ends.left.left, ends.left.top, ends.left.right, ends.left.bottom);
    Skin().DrawCell(dc, right, 0, ends.right.left, ends.right.top, ends.right.right, ends.right.bottom);
    wchar_t text[256] = {};
    HDITEMW item{};
    item.mask = HDI_TEXT;
    item.pszText = text;
    item.cchTextMax = 256;
    ::SendMessageW(Handle(), HDM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
    ::DrawTextW(dc, text, -1, &column, DT_CENTER | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
  }
  ::SelectObject(dc, oldFont);
}

LRESULT CSkinHeaderCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      PaintWindow(Handle(), [this](HDC target) { Paint(target); });
      return 0;
    case WM_ERASEBKGND:
      return 1;
  }
  return CWnd::WindowProc(message, wParam, lParam);
}

// --- CSkinListCtrl --------------------------------------------------------------

bool CSkinListCtrl::Create(HWND parent, const RECT& rect, DWORD style, int id, DWORD exStyle) {
  ControlArgs args;
  args.windowClass = WC_LISTVIEWW;
  args.rect = rect;
  args.style = style;
  args.exStyle = exStyle;
  args.id = id;
  return CreateControl(parent, args);
}

int CSkinListCtrl::InsertColumn(int index, const std::wstring& text, int width, int format) {
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
  column.fmt = format;
  column.cx = width;
  column.pszText = const_cast<wchar_t*>(text.c_str());
  const int at = static_cast<int>(::SendMessageW(Handle(), LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column)));
  if (at >= 0 && !headerAttached_) {
    HWND h = reinterpret_cast<HWND>(::SendMessageW(Handle(), LVM_GETHEADER, 0, 0));
    headerAttached_ = h && header.Subclass(h);
  }
  return at;
}

int CSkinListCtrl::InsertItem(int index, const std::wstring& text, LPARAM data, int image) {
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_PARAM | (image >= 0 ? LVIF_IMAGE : 0);
  item.iItem = index;
  item.pszText = const_cast<wchar_t*>(text.c_str());
  item.lParam = data;
  item.iImage = image;
  return static_cast<int>(::SendMessageW(Handle(), LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

void CSkinListCtrl::SetItemText(int item, int column, const std::wstring& text) {
  LVITEMW lv{};
  lv.iSubItem = column;
  lv.pszText = const_cast<wchar_t*>(text.c_str());
  ::SendMessageW(Handle(), LVM_SETITEMTEXTW, item, reinterpret_cast<LPARAM>(&lv));
}

int CSkinListCtrl::ItemCount() const { return static_cast<int>(::SendMessageW(Handle(), LVM_GETITEMCOUNT, 0, 0)); }

LPARAM CSkinListCtrl::ItemData(int item) const {
  LVITEMW lv{};
  lv.mask = LVIF_PARAM;
  lv.iItem = item;
  ::SendMessageW(Handle(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&lv));
  return lv.lParam;
}

bool CSkinListCtrl::IsSelected(int item) const {
  return (::SendMessageW(Handle(), LVM_GETITEMSTATE, item, LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

void CSkinListCtrl::LayoutScrollBars(bool force) { scrollBars.Layout(Handle(), force); }

int CALLBACK CSkinListCtrl::CompareThunk(LPARAM a, LPARAM b, LPARAM self) {
  return reinterpret_cast<CSkinListCtrl*>(self)->CompareItems(a, b);
}

void CSkinListCtrl::Resort() {
  if (::SendMessageW(Handle(), LVM_SORTITEMS, reinterpret_cast<WPARAM>(this),
                     reinterpret_cast<LPARAM>(&CSkinListCtrl::CompareThunk)))
    AfterSort();
}

void CSkinListCtrl::SortByColumn(int column) {
  sort.Click(column);
  Resort();
}

void CSkinListCtrl::ResetSort() {
  sort.Reset();
  Resort();
}

bool CSkinListCtrl::CellContext(int item, int column, HDC surface, ListCellContext& cell) {
  RECT r{};
  r.top = column;
  r.left = LVIR_BOUNDS;
  if (!::SendMessageW(Handle(), LVM_GETSUBITEMRECT, item, reinterpret_cast<LPARAM>(&r))) return false;
  if (column == 0) {
    RECT h{};
    if (::SendMessageW(header.Handle(), HDM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&h))) {
      // Header coordinates follow the list's horizontal scrolling already.
      POINT origin{h.left, 0};
      ::MapWindowPoints(header.Handle(), Handle(), &origin, 1);
      r.left = origin.x;
      r.right = origin.x + (h.right - h.left);
    }
  }
  cell.item = item;
  cell.column = column;
  cell.cell = r;
  cell.selected = IsSelected(item);
  const int columns = static_cast<int>(::SendMessageW(header.Handle(), HDM_GETITEMCOUNT, 0, 0));
  ListCellInput in;
  in.cell = ToList(r);
  in.column = column;
  in.lastColumn = column == columns - 1;
  in.clientWidth = ClientRect().right;
  const DWORD ex = static_cast<DWORD>(::SendMessageW(Handle(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
  in.checkBoxes = (ex & LVS_EX_CHECKBOXES) != 0;
  if (in.checkBoxes) {
    const SkinCell& box = Skin().GetCell(L"CheckBoxChecked");
    in.checkBoxWidth = box.Width();
    in.checkBoxHeight = box.Height();
  }
  if (HIMAGELIST images = reinterpret_cast<HIMAGELIST>(::SendMessageW(Handle(), LVM_GETIMAGELIST, LVSIL_SMALL, 0))) {
    int w = 0, h = 0;
    ::ImageList_GetIconSize(images, &w, &h);
    in.imageCount = ::ImageList_GetImageCount(images);
    in.imageWidth = w;
  }
  (void)surface;
  cell.layout = LayoutListCell(in);
  return true;
}

void CSkinListCtrl::DrawCellBackground(HDC dc, const ListCellContext& cell) {
  const COLORREF colour = static_cast<COLORREF>(ListRowColor(cell.item, cell.selected));
  Fill(dc, ToRect(cell.layout.fill), colour);
  Fill(dc, ToRect(cell.layout.strip), colour);
  HGDIOBJ old = ::SelectObject(dc, ::GetStockObject(WHITE_PEN));
  ::MoveToEx(dc, cell.layout.separatorX, cell.cell.top, nullptr);
  ::LineTo(dc, cell.layout.separatorX, cell.cell.bottom);
  ::SelectObject(dc, old);
}

void CSkinListCtrl::DrawCellContent(HDC dc, const ListCellContext& cell) {
  const ListCellLayout& l = cell.layout;
  if (l.drawCheckBox) {
    const bool checked = (::SendMessageW(Handle(), LVM_GETITEMSTATE, cell.item, LVIS_STATEIMAGEMASK) >> 12) == 2;
    Skin().DrawCell(dc, Skin().GetCell(checked ? L"CheckBoxChecked" : L"CheckBoxUnchecked"), kCellNaturalSize,
                    l.checkBox.left, l.checkBox.top, l.checkBox.left, l.checkBox.top);
  }
  if (l.drawImage) {
    LVITEMW lv{};
    lv.mask = LVIF_IMAGE;
    lv.iItem = cell.item;
    ::SendMessageW(Handle(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&lv));
    HIMAGELIST images = reinterpret_cast<HIMAGELIST>(::SendMessageW(Handle(), LVM_GETIMAGELIST, LVSIL_SMALL, 0));
    if (images && lv.iImage >= 0) ::ImageList_Draw(images, lv.iImage, dc, l.imageX, l.imageY, ILD_TRANSPARENT);
  }
  HDITEMW column{};
  column.mask = HDI_FORMAT;
  ::SendMessageW(header.Handle(), HDM_GETITEMW, cell.column, reinterpret_cast<LPARAM>(&column));
  const UINT align = (column.fmt & HDF_JUSTIFYMASK) == HDF_CENTER  ? DT_CENTER
                     : (column.fmt & HDF_JUSTIFYMASK) == HDF_RIGHT ? DT_RIGHT
                                                                   : DT_LEFT;
  const std::wstring text = ItemText(Handle(), cell.item, cell.column);
  RECT t = ToRect(l.text);
  ::SetBkMode(dc, TRANSPARENT);
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &t,
              DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX | align);
}

void CSkinListCtrl::DrawSubItem(int item, int column, HDC surface) {
  ListCellContext cell;
  if (!CellContext(item, column, surface, cell)) return;
  DrawCellBackground(surface, cell);
  DrawCellContent(surface, cell);
}

bool CSkinListCtrl::OnNotifyReflect(const NMHDR& nm, LRESULT& result) {
  switch (nm.code) {
    case NM_CUSTOMDRAW: {
      if ((::GetWindowLongPtrW(Handle(), GWL_STYLE) & LVS_TYPEMASK) != LVS_REPORT) return false;
      const auto& cd = reinterpret_cast<const NMLVCUSTOMDRAW&>(nm);
      switch (cd.nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
          result = CDRF_NOTIFYITEMDRAW;
          return true;
        case CDDS_ITEMPREPAINT:
          result = CDRF_NOTIFYSUBITEMDRAW;
          return true;
        case CDDS_ITEMPREPAINT | CDDS_SUBITEM:
          DrawSubItem(static_cast<int>(cd.nmcd.dwItemSpec), cd.iSubItem, cd.nmcd.hdc);
          result = CDRF_SKIPDEFAULT;
          return true;
      }
      result = CDRF_DODEFAULT;
      return true;
    }
    case LVN_COLUMNCLICK:
      SortByColumn(reinterpret_cast<const NMLISTVIEW&>(nm).iSubItem);
      result = 0;
      return true;
    case LVN_ENDSCROLL:
      LayoutScrollBars(false);
      return false;
  }
  return false;
}

bool ReflectListNotify(LPARAM lParam, LRESULT& result) {
  const auto* nm = reinterpret_cast<const NMHDR*>(lParam);
  if (!nm) return false;
  auto* list = dynamic_cast<CSkinListCtrl*>(CWnd::FromHandle(nm->hwndFrom));
  return list && list->OnNotifyReflect(*nm, result);
}

LRESULT CSkinListCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      if (ItemCount() == 0 && HasEmptyNotice()) {
        PaintWindow(Handle(), [this](HDC target) {
          const RECT r = ClientRect();
          CAutoBufferDC dc(r, target);
          Fill(dc, r, RGB(255, 255, 255));
          DrawEmpty(dc, r);
        });
        return 0;
      }
      break;
    case WM_LBUTTONDOWN: {
      const DWORD ex = static_cast<DWORD>(::SendMessageW(Handle(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
      if (ex & LVS_EX_CHECKBOXES) {
        LVHITTESTINFO hit{};
        hit.pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        const int item = static_cast<int>(::SendMessageW(Handle(), LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
        RECT bounds{};
        bounds.left = LVIR_BOUNDS;
        const bool hitItem = item >= 0 && ::SendMessageW(Handle(), LVM_GETITEMRECT, item, reinterpret_cast<LPARAM>(&bounds));
        if (PressTogglesCheck(true, hitItem, hit.pt.x, bounds.left, (hit.flags & LVHT_ONITEMICON) != 0))
          ToggleCheck(Handle(), item);
      }
      break;
    }
    case WM_CHAR: {
      const DWORD ex = static_cast<DWORD>(::SendMessageW(Handle(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
      switch (ListActionForChar(static_cast<unsigned>(wParam), (ex & LVS_EX_CHECKBOXES) != 0)) {
        case ListCharAction::SelectAll: {
          LVITEMW lv{};
          lv.stateMask = LVIS_SELECTED;
          lv.state = LVIS_SELECTED;
          ::SendMessageW(Handle(), LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&lv));
          break;
        }
        case ListCharAction::ToggleSelectionMark: {
          const int mark = static_cast<int>(::SendMessageW(Handle(), LVM_GETSELECTIONMARK, 0, 0));
          if (mark >= 0) ToggleCheck(Handle(), mark);
          break;
        }
        case ListCharAction::None:
          break;
      }
      break;
    }
    case WM_NOTIFY: {
      // From the list's own header.
      const auto* nm = reinterpret_cast<const NMHDR*>(lParam);
      const LRESULT r = Default(message, wParam, lParam);
      if (nm && nm->hwndFrom == header.Handle()) {
        if (nm->code == HDN_ITEMCHANGEDW || nm->code == HDN_ITEMCHANGEDA) LayoutScrollBars(false);
        if (nm->code == NM_RELEASEDCAPTURE) LayoutScrollBars(true);
      }
      return r;
    }
    case LVM_DELETEITEM:
    case LVM_DELETEALLITEMS:
    case LVM_ENSUREVISIBLE:
    case LVM_INSERTITEMW:
    case LVM_INSERTITEMA: {
      const LRESULT r = Default(message, wParam, lParam);
      LayoutScrollBars(false);
      return r;
    }
    case WM_WINDOWPOSCHANGED: {
      const LRESULT r = Default(message, wParam, lParam);
      LayoutScrollBars(true);
      return r;
    }
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_MOUSEWHEEL:
    case WM_VSCROLL:
    case WM_HSCROLL: {
      // The bars follow what the list did with the key or the wheel.
      const LRESULT r = Default(message, wParam, lParam);
      scrollBars.Sync();
      return r;
    }
  }
  return CWnd::WindowProc(message, wParam, lParam);
}

// --- CSkinListBox ---------------------------------------------------------------

bool CSkinListBox::Create(HWND parent, const RECT& rect) {
  ControlArgs args;
  args.windowClass = L"LISTBOX";
  args.rect = rect;
  args.style = WS_VISIBLE | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS;
  args.id = kListBoxCommandId;
  if (!CreateControl(parent, args)) return false;
  // The parent measured the items before we could answer: set the height.
  ::SendMessageW(Handle(), LB_SETITEMHEIGHT, 0, kListBoxItemHeight);
  SetFont(SkinFont(String(L"Font", L"", L"DefaultFont").c_str(), Font()), false);
  EnsureSkinInit();
  return true;
}

int CSkinListBox::AddString(const std::wstring& text) {
  return static_cast<int>(::SendMessageW(Handle(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

void CSkinListBox::SetCurSel(int row) { ::SendMessageW(Handle(), LB_SETCURSEL, row, 0); }
int CSkinListBox::GetCurSel() const { return static_cast<int>(::SendMessageW(Handle(), LB_GETCURSEL, 0, 0)); }

void CSkinListBox::LayoutScrollBars(bool force) { scrollBars.Layout(Handle(), force); }

bool CSkinListBox::SkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case LB_ADDSTRING:
    case LB_INSERTSTRING:
    case LB_DELETESTRING:
    case LB_SETSEL:
    case LB_SETCURSEL:
      result = Default(message, wParam, lParam);
      LayoutScrollBars(false);
      return true;
    case WM_WINDOWPOSCHANGED:
      CSkinControl<CListBox>::SkinMessage(message, wParam, lParam, result);
      result = Default(message, wParam, lParam);
      LayoutScrollBars(true);
      return true;
    case WM_MOUSEMOVE: {
      if (wParam & MK_LBUTTON) LayoutScrollBars(false);
      if (onHover) {
        const LRESULT at = ::SendMessageW(Handle(), LB_ITEMFROMPOINT, 0, lParam);
        onHover(HIWORD(at) ? -1 : static_cast<int>(LOWORD(at)));
      }
      break;
    }
    case WM_MOUSELEAVE:
      if (onLeave) onLeave();
      break;
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_MOUSEWHEEL:
    case WM_VSCROLL:
      result = Default(message, wParam, lParam);
      scrollBars.Sync();
      return true;
  }
  return CSkinControl<CListBox>::SkinMessage(message, wParam, lParam, result);
}

bool CSkinListBox::DrawItem(const DRAWITEMSTRUCT& item) {
  if (item.itemID == static_cast<UINT>(-1)) return true;
  HDC dc = item.hDC;
  Fill(dc, item.rcItem, static_cast<COLORREF>(ListBoxItemColor((item.itemState & ODS_SELECTED) != 0)));
  const int length = static_cast<int>(::SendMessageW(Handle(), LB_GETTEXTLEN, item.itemID, 0));
  std::wstring text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
  ::SendMessageW(Handle(), LB_GETTEXT, item.itemID, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length > 0 ? length : 0));
  RECT t = item.rcItem;
  t.left += kListBoxTextIndent;
  ::SetBkMode(dc, TRANSPARENT);
  HGDIOBJ old = ::SelectObject(dc, Font());
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &t, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  ::SelectObject(dc, old);
  return true;
}
