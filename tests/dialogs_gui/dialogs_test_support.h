// What the dialog tests share: the process set-up and pixels read from the
// screen where a list shows them.
#pragma once
#include "platform/win32.h"

#include "dialogs_gui/dialog_fixtures_win.h"

// The background of a report-view cell, read from the screen near the
// cell's right edge (where short texts leave it plain).
COLORREF CellBackgroundOnScreen(HWND list, int row, int column);

// The skinned vertical bar over a list: where its thumb is on the screen
// and where the list's scroll information says it belongs.
struct ThumbCheck {
  bool found = false;
  int top = 0, length = 0;
  int expectedTop = 0, expectedLength = 0;
};
ThumbCheck ReadThumbOnScreen(HWND list);
