#include "app/dlg_download_win.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <algorithm>

#include "app/shell_launch.h"
#include "platform/tick.h"
#include "text/text_table.h"

namespace {

constexpr int kAnimationResource = 141;

void NoCaptionButtons(CSkinWindow& skin) {
  CSkinAttributes::IntRef(skin.attributes, L"MaximizeBox") = 0;
  CSkinAttributes::IntRef(skin.attributes, L"CloseBox") = 0;
  CSkinAttributes::IntRef(skin.attributes, L"MinimizeBox") = 0;
}

// --- busy bar -------------------------------------------------------------

struct BusyBarState {
  int position = 0;
  UINT interval = 30;
  int blocks = 20;
};
constexpr UINT_PTR kBusyTimer = 1;

// The theme library is optional: looked up when first needed.
struct ThemeApi {
  using IsActive = BOOL(WINAPI*)();
  using Open = HTHEME(WINAPI*)(HWND, LPCWSTR);
  using Close = HRESULT(WINAPI*)(HTHEME);
  using DrawBackground = HRESULT(WINAPI*)(HTHEME, HDC, int, int, const RECT*, const RECT*);
  using ContentRect = HRESULT(WINAPI*)(HTHEME, HDC, int, int, const RECT*, RECT*);
  using PartSize = HRESULT(WINAPI*)(HTHEME, HDC, int, int, const RECT*, THEMESIZE, SIZE*);
  IsActive isActive = nullptr;
  Open open = nullptr;
  Close close = nullptr;
  DrawBackground draw = nullptr;
  ContentRect content = nullptr;
  PartSize partSize = nullptr;
  bool Complete() const { return isActive && open && close && draw && content && partSize; }
};

const ThemeApi& Themes() {
  static const ThemeApi api = [] {
    ThemeApi a;
    HMODULE lib = ::LoadLibraryW(L"UxTheme.dll");
    if (!lib) return a;
    auto get = [&](const char* name) { return reinterpret_cast<void*>(::GetProcAddress(lib, name)); };
    a.isActive = reinterpret_cast<ThemeApi::IsActive>(get("IsThemeActive"));
    a.open = reinterpret_cast<ThemeApi::Open>(get("OpenThemeData"));
    a.close = reinterpret_cast<ThemeApi::Close>(get("CloseThemeData"));
    a.draw = reinterpret_cast<ThemeApi::DrawBackground>(get("DrawThemeBackground"));
    a.content = reinterpret_cast<ThemeApi::ContentRect>(get("GetThemeBackgroundContentRect"));
    a.partSize = reinterpret_cast<ThemeApi::PartSize>(get("GetThemePartSize"));
    return a;
  }();
  return api;
}

void PaintBusyBar(HWND window, HDC dc, BusyBarState& state) {
  RECT area{};
  ::GetClientRect(window, &area);
  const ThemeApi& api = Themes();
  HTHEME theme = nullptr;
  const bool unthemedStyle = (::GetWindowLongW(window, GWL_STYLE) & 0x8000) != 0;
  if (!unthemedStyle && api.Complete() && api.isActive()) theme = api.open(window, L"Progress");
  int block = 0;
  if (theme) {
    constexpr int kBar = 1, kChunk = 3;
    RECT whole = area;
    api.draw(theme, dc, kBar, 0, &whole, nullptr);
    api.content(theme, dc, kBar, 0, &whole, &area);
    SIZE size{};
    if (SUCCEEDED(api.partSize(theme, dc, kChunk, 0, nullptr, TS_TRUE, &size))) block = size.cx;
    (void)kChunk;
  }
  if (block <= 0) block = (area.bottom - area.top) * 3 / 4;
  if (!theme) {
    ::FillRect(dc, &area, ::GetSysColorBrush(COLOR_BTNFACE));
    ::DrawEdge(dc, &area, BDR_SUNKENOUTER, BF_RECT);
    ::InflateRect(&area, -2, -2);
  }
  if (block <= 0) block = 1;
  const BusyBarFrame frame = BusyBarGeometry(area.left, area.right, block, state.position, state.blocks);
  for (int i = 0; i < state.blocks; ++i) {
    const int left = frame.leadingLeft - i * (block + 2);
    if (left < area.left || left >= area.right) continue;
    RECT piece{left, area.top, std::min<LONG>(left + block, area.right), area.bottom};
    if (theme)
      api.draw(theme, dc, 3, 0, &piece, nullptr);
    else
      ::FillRect(dc, &piece, ::GetSysColorBrush(COLOR_HIGHLIGHT));
  }
  if (frame.restart) state.position = 0;
  if (theme) api.close(theme);
}

LRESULT CALLBACK BusyBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<BusyBarState*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_CREATE:
      state = new BusyBarState();
      ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
      if (::IsWindowEnabled(window)) ::SetTimer(window, kBusyTimer, state->interval, nullptr);
      return 0;
    case WM_NCDESTROY:
      ::KillTimer(window, kBusyTimer);
      delete state;
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
    case WM_TIMER:
      if (state && wParam == kBusyTimer) {
        ++state->position;
        ::InvalidateRect(window, nullptr, FALSE);
      }
      return 0;
    case WM_ENABLE:
      if (!state) break;
      if (wParam) {
        ::SetTimer(window, kBusyTimer, state->interval, nullptr);
      } else {
        ::KillTimer(window, kBusyTimer);
        state->position = 0;
        ::InvalidateRect(window, nullptr, TRUE);
      }
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(window, &ps);
      if (state) PaintBusyBar(window, dc, *state);
      ::EndPaint(window, &ps);
      return 0;
    }
    case WM_USER:
      return state ? static_cast<LRESULT>(state->interval) : 0;
    case WM_USER + 1:
      if (!state) return 0;
      state->interval = static_cast<UINT>(wParam);
      if (::IsWindowEnabled(window)) ::SetTimer(window, kBusyTimer, state->interval, nullptr);
      return 1;
    case WM_USER + 2:
      return state ? state->blocks : 0;
    case WM_USER + 3:
      if (!state || wParam < 1 || wParam > 20) return 0;
      state->blocks = static_cast<int>(wParam);
      return 1;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

BusyBarFrame BusyBarGeometry(int left, int right, int block, int position, int blocks) {
  BusyBarFrame frame;
  const int step = block + 2;
  const int width = right - left;
  frame.leadingLeft = left + step * ((width / block) * (position - 1) / 100);
  const int trailing = frame.leadingLeft - blocks * step;
  frame.restart = right + step * (blocks + 5) * 2 < trailing;
  return frame;
}

bool RegisterBusyBarClass() {
  WNDCLASSW cls{};
  cls.style = CS_HREDRAW | CS_VREDRAW | CS_GLOBALCLASS;
  cls.lpfnWndProc = &BusyBarProc;
  cls.hInstance = ::GetModuleHandleW(nullptr);
  cls.lpszClassName = kBusyBarClass;
  return ::RegisterClassW(&cls) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// --- CDlgDownload -----------------------------------------------------------

bool CDlgDownload::OnInitDialog() {
  SetSize(425, 120);
  SetText(GetText("VpnAppLoginTitle"));
  NoCaptionButtons(skinWindow_);
  skinWindow_.Attach(Handle());
  CreateSkinButton(cancel_, GetText("Cancel"), MakeRect(300, 60, 390, 90), Handle(), IDCANCEL, L"CancelButton");
  CreateSkinStatic(text_, GetText("LoadingVPNInformation"), MakeRect(65, 65, 265, 85), Handle());
  animation_ = ::CreateWindowExW(0, ANIMATE_CLASSW, nullptr, WS_CHILD | WS_VISIBLE | ACS_TRANSPARENT | ACS_CENTER,
                                 25, 60, 20, 20, Handle(), nullptr, ::GetModuleHandleW(nullptr), nullptr);
  if (animation_) {
    ::SendMessageW(animation_, ACM_OPENW, reinterpret_cast<WPARAM>(::GetModuleHandleW(nullptr)),
                   reinterpret_cast<LPARAM>(MAKEINTRESOURCEW(kAnimationResource)));
    ::SendMessageW(animation_, ACM_PLAY, static_cast<WPARAM>(-1), MAKELONG(0, 0xFFFF));
  }
  const CDownloadRun::StartReport report = run_.Start();
  if (report.noRequest) ShowClientMessage(Handle(), GetText("NoLoginHost"), BoxIcon::None);
  if (report.notStarted > 0) ShowClientMessage(Handle(), GetText("CannotStartInternetConnection"), BoxIcon::None);
  // Every request may have failed to start: nothing would ever end the run.
  if (run_.GetState() != CDownloadRun::State::Running) ::PostMessageW(Handle(), WM_APP + 3, 0, 0);
  return true;
}

void CDlgDownload::OnTransferEvent(WPARAM wParam, LPARAM lParam) {
  run_.OnTransferEvent(wParam, lParam);
  EndWhenDone();
}

void CDlgDownload::EndWhenDone() {
  switch (run_.GetState()) {
    case CDownloadRun::State::Accepted:
      EndDialog(IDOK);
      break;
    case CDownloadRun::State::Failed:
      EndDialog(IDCANCEL);
      break;
    case CDownloadRun::State::Running:
      break;
  }
}

void CDlgDownload::Cancel() {
  run_.CancelByUser();
  EndDialog(IDCANCEL);
}

bool CDlgDownload::HandleMessage(UINT message, WPARAM, LPARAM, LRESULT& result) {
  if (message != WM_APP + 3) return false;
  EndWhenDone();
  result = 0;
  return true;
}

// --- CDlgOnlineUpdate -------------------------------------------------------

bool CDlgOnlineUpdate::OnInitDialog() {
  SetSize(425, 140);
  SetText(GetText("VpnAppOnlineUpdateTitle"));
  NoCaptionButtons(skinWindow_);
  skinWindow_.Attach(Handle());
  CreateSkinButton(cancel_, GetText("Cancel"), MakeRect(310, 60, 400, 90), Handle(), IDCANCEL);
  progress_ = ::CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | PBS_SMOOTH, 70, 65, 220, 20, Handle(),
                                nullptr, ::GetModuleHandleW(nullptr), nullptr);
  if (progress_) ::SendMessageW(progress_, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  busyBar_ = ::CreateWindowExW(0, kBusyBarClass, nullptr, WS_CHILD | WS_VISIBLE, 70, 65, 220, 20, Handle(), nullptr,
                               ::GetModuleHandleW(nullptr), nullptr);
  CreateSkinStatic(status_, GetText("ConnectingToOnlineUpdateServer"), MakeRect(70, 100, 370, 120), Handle());
  // The update mark sits on the background, beside the bar.
  if (HDC background = skinWindow_.BackgroundSurface())
    GetSkinAttributes().DrawCellByName(background, L"IconOnlineUpdate", L"", kCellNaturalSize, 25, 60, 61, 96);
  target_ = std::make_unique<CWindowMessageTarget>(Handle());
  run_ = std::make_unique<CUpdateDownloadRun>(target_.get(), *this, url_, path_);
  run_->Open(GetTickMs());
  return true;
}

void CDlgOnlineUpdate::ShowProgressBar(bool known) {
  if (progress_) ::ShowWindow(progress_, known ? SW_SHOW : SW_HIDE);
  if (busyBar_) ::ShowWindow(busyBar_, known ? SW_HIDE : SW_SHOW);
}

void CDlgOnlineUpdate::SetProgress(int percent) {
  if (progress_) ::SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void CDlgOnlineUpdate::SetStatusText(const std::wstring& text) {
  status_.SetText(text);
  status_.Invalidate(true);
}

void CDlgOnlineUpdate::ShowMessage(const std::wstring& text, BoxIcon icon) { ShowClientMessage(Handle(), text, icon); }

bool CDlgOnlineUpdate::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (message != CUpdateDownloadRun::kMessage || !run_) return false;
  if (run_->OnTransferEvent(wParam, lParam, GetTickMs())) EndDialog(IDOK);
  result = 0;
  return true;
}

void CDlgOnlineUpdate::OnOK() {
  if (run_) run_->CancelByUser();
  EndDialog(IDCANCEL);
}

void CDlgOnlineUpdate::OnCancel() {
  const int answer = ::MessageBoxW(Handle(), GetText("DoYouWantToCancelOnlineUpdate").c_str(), L"Quillnet",
                                   MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2);
  if (answer != IDOK) return;
  if (run_) run_->CancelByUser();
  EndDialog(IDCANCEL);
}

void CDlgOnlineUpdate::OnDestroy() {
  if (run_) run_->Release();
}
