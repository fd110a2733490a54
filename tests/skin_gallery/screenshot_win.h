// Screenshots of a window as the screen shows it, for the galleries.
#pragma once
#include "platform/win32.h"

#include <string>

// What is on the screen where the window is, the window kept on top, as PNG.
bool SaveWindow(HWND window, const std::wstring& path);
