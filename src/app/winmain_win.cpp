// Start-up of the Windows client. For now it shows the main window's frame;
// the login and connect flows move in behind it.
#include "platform/win32.h"

#include <commctrl.h>

#include "resource.h"
#include "skin/registered_skin.h"
#include "skin/skin_attributes.h"
#include "text/text_table.h"

namespace {

constexpr wchar_t kMainClass[] = L"QuillnetMainWindow";

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      RECT area;
      GetClientRect(window, &area);
      HBRUSH background = CreateSolidBrush(RGB(0x1F, 0x6F, 0xD1));
      FillRect(dc, &area, background);
      DeleteObject(background);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, RGB(0xFF, 0xFF, 0xFF));
      const std::wstring title = GetText("VpnAppLoginTitle");
      ::DrawTextW(dc, title.c_str(), static_cast<int>(title.size()), &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  LoadTextTable();
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  RegisterSkin(GetSkinAttributes());

  WNDCLASSEXW cls{};
  cls.cbSize = sizeof cls;
  cls.lpfnWndProc = MainWindowProc;
  cls.hInstance = instance;
  cls.hIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUILLNET), IMAGE_ICON, 32, 32, 0));
  cls.hIconSm = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUILLNET), IMAGE_ICON, 16, 16, 0));
  cls.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
  cls.lpszClassName = kMainClass;
  if (!::RegisterClassExW(&cls)) return 1;

  HWND window = ::CreateWindowExW(0, kMainClass, L"Quillnet", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 360, 480, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, showCommand);
  UpdateWindow(window);

  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}
