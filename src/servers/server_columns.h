// What the chooser's server list shows and how it sorts: the speed summary
// with its icon, the load text and the four column comparisons.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "servers/server_list.h"

// The speed column's text from a server's two results.
std::wstring SpeedSummary(const VpnServerInfo& server);

enum class CellAlign { Left, Right };
struct SpeedCellLook {
  std::wstring image;  // skin image name
  CellAlign align = CellAlign::Left;
};
// Icon and alignment of a speed cell; an unknown text gets the testing icon.
SpeedCellLook LookOfSpeedCell(const std::wstring& cellText);

// Load as a whole percentage, "%3d%%".
std::wstring LoadText(double load);

// Direction +1 ascending, -1 descending; results negative, 0 or positive.
int CompareSpeedTexts(const std::wstring& a, const std::wstring& b, int direction);
// Column 0 title, 1 comment, 2 speed summary, 3 load.
int CompareServerColumn(const VpnServerInfo& a, const VpnServerInfo& b, int column, int direction);

// Case-insensitive comparison in the user's locale.
int CompareTextNoCase(const std::wstring& a, const std::wstring& b);

// Orders the shown servers' ids by a column. The column comparison is not a
// strict ordering (equal loads compare as "greater" both ways), so the sort
// treats a pair that compares "less" both ways as equal and keeps their
// previous order.
void SortServerIds(std::vector<std::int32_t>& ids, const VpnServerMap& servers, int column, int direction);
