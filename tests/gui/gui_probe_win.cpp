// Test helper run under Wine beside the client:
//   gui_probe wait TITLE SECONDS   exit 0 once a top-level window of that title is visible
//   gui_probe close TITLE SECONDS  post WM_CLOSE and wait for the window to go
//   gui_probe close main SECONDS   the same for the client's main window
//   gui_probe version EXE          print FileVersion and BuildDate from the version resource
// The client's main window (the dialog marked with the main window's property):
//   gui_probe main SECONDS         wait until it is visible
//   gui_probe hide                 hide it, as the tray does
//   gui_probe login ACCOUNT PASSWORD  type both and press Connect
//   gui_probe status TEXT SECONDS [ID]  wait until its status line (or control ID) contains TEXT
//   gui_probe count                print how many client main windows exist
//   gui_probe tray MESSAGE         send what the shell sends for a mouse MESSAGE on the tray icon
//   gui_probe taskbar              broadcast "TaskbarCreated", as a restarted shell does
//   gui_probe stopwatch TITLE|main SECONDS  print "ready", then, once that window is
//                                  visible, the system clock in ns since 1970
// Any dialog of the client:
//   gui_probe box TEXT SECONDS     wait for a dialog showing TEXT, print its texts, press OK
//   gui_probe answer TEXT ID SECONDS  the same, answering with command ID (6 Yes, 7 No)
//   gui_probe seen TEXT SECONDS    the same, leaving the dialog unanswered
//   gui_probe enabled ID SECONDS [0]  wait until the main window's control ID is enabled (0: disabled)
//   gui_probe menu PNG SECONDS     wait for an open menu, save what the screen shows of it, close it
//   gui_probe press TITLE ID SECONDS  wait for a dialog of that title and send it command ID
//                                  (a TITLE ending in * matches every title it begins)
//   gui_probe shot TITLE|main PNG  save what the screen shows of that window
#include "platform/win32.h"

#include <cstdio>
#include <string>
#include <vector>

#include "skin/skin_platform_win.h"

namespace {

constexpr wchar_t kMainWindowProperty[] = L"QuillnetMainWindow";
constexpr int kAccountEdit = 1001, kPasswordEdit = 1002, kConnect = 1003, kStatusLine = 1010;

// Installers add to their captions (a page name, a trailing blank):
// "Name*" matches them all.
bool TitleMatches(const std::wstring& text, const std::wstring& title) {
  if (!title.empty() && title.back() == L'*') return text.compare(0, title.size() - 1, title, 0, title.size() - 1) == 0;
  return text == title;
}

HWND FindVisible(const wchar_t* title) {
  HWND w = FindWindowW(nullptr, title);
  return (w && IsWindowVisible(w)) ? w : nullptr;
}

int WaitFor(const wchar_t* title, int seconds, bool present) {
  for (int i = 0; i < seconds * 10; ++i) {
    if ((FindVisible(title) != nullptr) == present) return 0;
    Sleep(100);
  }
  return 1;
}

std::wstring VersionValue(const std::wstring& exe, const wchar_t* name) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &handle);
  if (!size) return L"";
  std::string data(size, '\0');
  if (!GetFileVersionInfoW(exe.c_str(), 0, size, data.data())) return L"";
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
  void* value = nullptr;
  UINT len = 0;
  if (!VerQueryValueW(data.data(), path.c_str(), &value, &len) || !value) return L"";
  return static_cast<const wchar_t*>(value);
}

std::wstring TextOf(HWND w) {
  wchar_t buffer[1024] = {};
  // WM_GETTEXT works across processes where GetWindowText of a foreign control does not.
  SendMessageTimeoutW(w, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000, nullptr);
  return buffer;
}

bool IsDialog(HWND w) {
  wchar_t cls[16] = {};
  GetClassNameW(w, cls, 16);
  return std::wstring(cls) == L"#32770";
}

// Named callbacks: a lambda has no stdcall conversion on 32-bit Windows.
BOOL CALLBACK CollectVisibleDialog(HWND w, LPARAM list) {
  if (IsDialog(w) && IsWindowVisible(w)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(w);
  return TRUE;
}

BOOL CALLBACK CollectMainWindow(HWND w, LPARAM list) {
  if (IsDialog(w) && GetPropW(w, kMainWindowProperty)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(w);
  return TRUE;
}

BOOL CALLBACK AppendText(HWND child, LPARAM out) {
  const std::wstring t = TextOf(child);
  if (!t.empty()) *reinterpret_cast<std::wstring*>(out) += L"\n" + t;
  return TRUE;
}

std::vector<HWND> TopLevelDialogs() {
  std::vector<HWND> found;
  EnumWindows(&CollectVisibleDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

std::vector<HWND> MainWindows(bool visibleOnly) {
  std::vector<HWND> found;
  EnumWindows(&CollectMainWindow, reinterpret_cast<LPARAM>(&found));
  if (visibleOnly) {
    std::vector<HWND> visible;
    for (HWND w : found)
      if (IsWindowVisible(w)) visible.push_back(w);
    return visible;
  }
  return found;
}

HWND MainWindow(int seconds, bool visible) {
  for (int i = 0; i < seconds * 10 + 1; ++i) {
    const std::vector<HWND> found = MainWindows(visible);
    if (!found.empty()) return found.front();
    Sleep(100);
  }
  return nullptr;
}

// All texts of a dialog and its children, one per line.
std::wstring DialogTexts(HWND dialog) {
  std::wstring all = TextOf(dialog);
  EnumChildWindows(dialog, &AppendText, reinterpret_cast<LPARAM>(&all));
  return all;
}

// Command 0 leaves the dialog as it is.
int Box(const std::wstring& text, int seconds, int command = IDOK) {
  for (int i = 0; i < seconds * 10; ++i) {
    for (HWND w : TopLevelDialogs()) {
      if (GetPropW(w, kMainWindowProperty)) continue;
      const std::wstring texts = DialogTexts(w);
      if (texts.find(text) == std::wstring::npos) continue;
      wprintf(L"%ls\n", texts.c_str());
      fflush(stdout);
      if (!command) return 0;
      // A press posted while the box is still settling into its loop can be
      // dropped under load: press again until the box has gone.
      for (int tries = 0; tries < 10; ++tries) {
        PostMessageW(w, WM_COMMAND, static_cast<WPARAM>(command), 0);
        for (int wait = 0; wait < 20; ++wait) {
          if (!IsWindow(w) || !IsWindowVisible(w)) return 0;
          Sleep(100);
        }
      }
      fwprintf(stderr, L"the box showing \"%ls\" stayed after ten presses\n", text.c_str());
      return 0;
    }
    Sleep(100);
  }
  fwprintf(stderr, L"no dialog showing \"%ls\"; visible dialogs:\n", text.c_str());
  for (HWND w : TopLevelDialogs()) fwprintf(stderr, L"---\n%ls\n", DialogTexts(w).c_str());
  return 1;
}

int Enabled(int id, int seconds, bool wanted) {
  for (int i = 0; i < seconds * 10; ++i) {
    if (HWND main = MainWindow(0, false))
      if (HWND control = GetDlgItem(main, id); control && (IsWindowEnabled(control) != FALSE) == wanted) return 0;
    Sleep(100);
  }
  fwprintf(stderr, L"control %d is not %ls\n", id, wanted ? L"enabled" : L"disabled");
  return 1;
}

int Press(const std::wstring& title, int id, int seconds) {
  for (int i = 0; i < seconds * 10; ++i) {
    for (HWND w : TopLevelDialogs()) {
      if (!TitleMatches(TextOf(w), title) || GetPropW(w, kMainWindowProperty)) continue;
      PostMessageW(w, WM_COMMAND, static_cast<WPARAM>(id), 0);
      return 0;
    }
    Sleep(100);
  }
  return 1;
}

int Status(const std::wstring& text, int seconds, int id) {
  std::wstring line;
  for (int i = 0; i < seconds * 10; ++i) {
    if (HWND main = MainWindow(0, false)) {
      line = TextOf(GetDlgItem(main, id));
      if (line.find(text) != std::wstring::npos) {
        wprintf(L"%ls\n", line.c_str());
        return 0;
      }
    }
    Sleep(100);
  }
  fwprintf(stderr, L"status line is \"%ls\", not \"%ls\"\n", line.c_str(), text.c_str());
  return 1;
}

// What the screen shows where the window is, kept on top; a capture of one
// flat colour (a window not yet drawn) is taken again.
int Shot(HWND window, const std::wstring& path) {
  if (!window) return 1;
  SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  for (int attempt = 0; attempt < 10; ++attempt) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(400);
    RECT r{};
    GetWindowRect(window, &r);
    HDC screen = GetDC(nullptr);
    const COLORREF first = GetPixel(screen, r.left + 20, r.top + 60);
    bool flat = true;
    for (int y = r.top + 30; y < r.bottom && flat; y += 7)
      for (int x = r.left; x < r.right && flat; x += 5) flat = GetPixel(screen, x, y) == first;
    const bool ok = !flat && SavePng(screen, r, path);
    ReleaseDC(nullptr, screen);
    if (ok) {
      SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      return 0;
    }
  }
  return 2;
}

BOOL CALLBACK FindMenuWindow(HWND w, LPARAM found) {
  wchar_t cls[16] = {};
  GetClassNameW(w, cls, 16);
  if (std::wstring(cls) != L"#32768" || !IsWindowVisible(w)) return TRUE;
  *reinterpret_cast<HWND*>(found) = w;
  return FALSE;
}

// A popup menu is drawn on its own; a moment after it shows, it is there.
int Menu(const std::wstring& path, int seconds) {
  HWND menu = nullptr;
  for (int i = 0; i < seconds * 10 && !menu; ++i) {
    EnumWindows(&FindMenuWindow, reinterpret_cast<LPARAM>(&menu));
    if (!menu) Sleep(100);
  }
  if (!menu) return 1;
  Sleep(500);
  RECT r{};
  GetWindowRect(menu, &r);
  HDC screen = GetDC(nullptr);
  const bool saved = SavePng(screen, r, path);
  ReleaseDC(nullptr, screen);
  PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
  PostMessageW(menu, WM_KEYUP, VK_ESCAPE, 0);
  return saved ? 0 : 2;
}

HWND DialogTitled(const std::wstring& title, int seconds) {
  for (int i = 0; i < seconds * 10; ++i) {
    for (HWND w : TopLevelDialogs())
      if (TitleMatches(TextOf(w), title) && !GetPropW(w, kMainWindowProperty)) return w;
    Sleep(100);
  }
  return nullptr;
}

// A click where a person would click: a control found by id anywhere
// below the dialog, pressed and released at a point of its client area.
struct ControlSearch {
  int id;
  HWND found;
};

BOOL CALLBACK FindControl(HWND w, LPARAM p) {
  auto* s = reinterpret_cast<ControlSearch*>(p);
  if (GetDlgCtrlID(w) != s->id || !IsWindowVisible(w)) return TRUE;
  s->found = w;
  return FALSE;
}

int Click(const std::wstring& title, int id, int x, int y) {
  HWND dialog = DialogTitled(title, 30);
  if (!dialog) return 1;
  ControlSearch search{id, nullptr};
  EnumChildWindows(dialog, &FindControl, reinterpret_cast<LPARAM>(&search));
  if (!search.found) return 1;
  const LPARAM at = MAKELPARAM(x, y);
  PostMessageW(search.found, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(search.found, WM_LBUTTONUP, 0, at);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const std::wstring verb = argv[1];
  auto arg = [&](int i) { return i < argc ? std::wstring(argv[i]) : std::wstring(); };
  auto number = [&](int i, int fallback) { return i < argc ? _wtoi(argv[i]) : fallback; };
  if (verb == L"wait") return WaitFor(argv[2], number(3, 30), true);
  if (verb == L"close" && arg(2) == L"main") {
    // The main window, not a box of the same title in front of it.
    HWND w = MainWindow(5, false);
    if (!w) return 1;
    PostMessageW(w, WM_CLOSE, 0, 0);
    for (int i = 0; i < number(3, 10) * 10; ++i) {
      if (!IsWindow(w)) return 0;
      Sleep(100);
    }
    return 1;
  }
  if (verb == L"close") {
    HWND w = FindVisible(argv[2]);
    if (!w) return 1;
    PostMessageW(w, WM_CLOSE, 0, 0);
    return WaitFor(argv[2], number(3, 10), false);
  }
  if (verb == L"version") {
    wprintf(L"FileVersion=%ls\nBuildDate=%ls\n", VersionValue(argv[2], L"FileVersion").c_str(),
            VersionValue(argv[2], L"BuildDate").c_str());
    return 0;
  }
  if (verb == L"main") return MainWindow(number(2, 30), true) ? 0 : 1;
  if (verb == L"stopwatch") {
    const std::wstring title = arg(2);
    wprintf(L"ready\n");
    fflush(stdout);
    const DWORD until = GetTickCount() + static_cast<DWORD>(number(3, 60)) * 1000;
    while (static_cast<int>(until - GetTickCount()) > 0) {
      const bool seen = title == L"main" ? !MainWindows(true).empty() : FindVisible(title.c_str()) != nullptr;
      if (seen) {
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
        // 100-ns ticks since 1601 to ns since 1970.
        wprintf(L"%llu\n", (ticks - 116444736000000000ULL) * 100ULL);
        return 0;
      }
      Sleep(2);
    }
    return 1;
  }
  if (verb == L"tray") {
    HWND main = MainWindow(5, false);
    if (!main) return 1;
    PostMessageW(main, WM_USER + 1, 1, number(2, WM_LBUTTONDBLCLK));
    return 0;
  }
  if (verb == L"taskbar") {
    HWND main = MainWindow(5, false);
    if (!main) return 1;
    const UINT created = RegisterWindowMessageW(L"TaskbarCreated");
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(main, created, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) ? 0 : 1;
  }
  if (verb == L"count") {
    wprintf(L"%d\n", static_cast<int>(MainWindows(false).size()));
    return 0;
  }
  if (verb == L"hide") {
    HWND main = MainWindow(5, false);
    if (!main) return 1;
    ShowWindow(main, SW_HIDE);
    for (int i = 0; i < 50 && IsWindowVisible(main); ++i) Sleep(100);
    return IsWindowVisible(main) ? 1 : 0;
  }
  if (verb == L"login") {
    HWND main = MainWindow(10, true);
    if (!main) return 1;
    SendMessageW(GetDlgItem(main, kAccountEdit), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[2]));
    SendMessageW(GetDlgItem(main, kPasswordEdit), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(arg(3).c_str()));
    // The caret where typing would have left it.
    for (int id : {kAccountEdit, kPasswordEdit}) SendMessageW(GetDlgItem(main, id), EM_SETSEL, 0x7FFF, 0x7FFF);
    PostMessageW(main, WM_COMMAND, MAKEWPARAM(kConnect, BN_CLICKED), 0);
    return 0;
  }
  if (verb == L"status") return Status(arg(2), number(3, 30), number(4, kStatusLine));
  if (verb == L"box") return Box(arg(2), number(3, 30));
  if (verb == L"answer") return Box(arg(2), number(4, 30), number(3, IDOK));
  if (verb == L"seen") return Box(arg(2), number(3, 30), 0);
  if (verb == L"enabled") return Enabled(number(2, 0), number(3, 30), number(4, 1) != 0);
  if (verb == L"menu") return Menu(arg(2), number(3, 10));
  if (verb == L"press") return Press(arg(2), number(3, 2), number(4, 30));
  if (verb == L"click") return Click(arg(2), number(3, 0), number(4, 0), number(5, 0));
  if (verb == L"checked") {
    // checked ID WANTED [SECONDS]: a box of the main window shows that state.
    for (int i = 0; i < number(4, 10) * 10; ++i) {
      if (HWND main = MainWindow(0, false))
        if (HWND box = GetDlgItem(main, number(2, 0)))
          if ((SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED) == (number(3, 1) != 0)) return 0;
      Sleep(100);
    }
    fwprintf(stderr, L"box %d is not %ls\n", number(2, 0), number(3, 1) ? L"checked" : L"unchecked");
    return 1;
  }
  if (verb == L"toggle") {
    // toggle ID: the space bar on a box of the main window, as a user would.
    HWND main = MainWindow(10, false);
    HWND box = main ? GetDlgItem(main, number(2, 0)) : nullptr;
    if (!box) return 1;
    PostMessageW(box, WM_KEYDOWN, VK_SPACE, 1);
    PostMessageW(box, WM_KEYUP, VK_SPACE, 0xC0000001);
    return 0;
  }
  if (verb == L"command") {
    HWND main = MainWindow(10, false);
    if (!main) return 1;
    PostMessageW(main, WM_COMMAND, static_cast<WPARAM>(number(2, 0)), 0);
    return 0;
  }
  if (verb == L"shot") {
    HWND w = arg(2) == L"main" ? MainWindow(10, true) : DialogTitled(arg(2), 30);
    return Shot(w, arg(3));
  }
  return 2;
}
