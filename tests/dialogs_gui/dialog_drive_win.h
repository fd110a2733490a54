// Driving a dialog from another thread with the messages a user's input
// would send, and reading its controls back.
#pragma once
#include "platform/win32.h"

#include <string>
#include <vector>

// The first window with the identifier among all of `parent`'s descendants.
HWND FindDescendant(HWND parent, int id);
HWND ServerList(HWND dialog);
HWND RouteList(HWND dialog);
// Selects a route row as a click on it would (selection, then the notice).
void SelectRoute(HWND dialog, int row);
void SelectListRow(HWND list, int row);
// A click on a header column.
void ClickHeaderColumn(HWND list, int column);
// A click at a point of a window, in its client coordinates.
void ClickAt(HWND window, int x, int y);
int ListRowCount(HWND list);
std::wstring ListText(HWND list, int row, int column);
std::vector<std::wstring> ListColumn(HWND list, int column);
// Waits, up to `timeoutMs`, until every speed cell holds a result.
bool WaitForSpeedColumn(HWND dialog, int timeoutMs);
// Waits, up to `timeoutMs`, until `done` holds; checks every 50 ms.
template <class F>
bool WaitUntil(int timeoutMs, F done) {
  const ULONGLONG until = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  while (!done()) {
    if (::GetTickCount64() > until) return false;
    ::Sleep(50);
  }
  return true;
}
