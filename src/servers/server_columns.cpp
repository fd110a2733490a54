#include "servers/server_columns.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "text/text_table.h"

namespace {

bool StartsWithDigit(const std::wstring& text) { return !text.empty() && text[0] >= L'0' && text[0] <= L'9'; }

std::int64_t LeadingNumber(const std::wstring& text) {
  std::int64_t value = 0;
  for (std::size_t i = 0; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + (text[i] - L'0');
    if (value > INT32_MAX) value = INT32_MAX;
  }
  return value;
}

// The table's "%d" texts are filled by hand: a table text is never used as a
// printf format.
std::wstring FormatNumber(const std::wstring& pattern, std::int32_t value) {
  const std::size_t at = pattern.find(L"%d");
  if (at == std::wstring::npos) return pattern;
  return pattern.substr(0, at) + std::to_wstring(value) + pattern.substr(at + 2);
}

}  // namespace

std::wstring SpeedSummary(const VpnServerInfo& server) {
  const std::int32_t a = server.icmpResult;
  const std::int32_t b = server.udpResult;
  std::int32_t best = -1;
  if (a >= 0) best = a;
  if (b >= 0 && (best < 0 || b < best)) best = b;
  if (best >= 0) return FormatNumber(GetText("VpnServerSpeed_ms"), best);
  if (a == kSpeedTimeout && b == kSpeedTimeout) return GetText("VpnServerSpeed_Timeout");
  if (a == kSpeedTesting || b == kSpeedTesting) return GetText("VpnServerSpeed_Testing");
  if (a == kSpeedToBeTested && b == kSpeedToBeTested) return GetText("VpnServerSpeed_ToBeTested");
  return GetText("VpnServerSpeed_Unknown");
}

SpeedCellLook LookOfSpeedCell(const std::wstring& cellText) {
  if (StartsWithDigit(cellText)) {
    const std::int64_t value = LeadingNumber(cellText);
    if (value <= 100) return {L"IconSpeedTestGood", CellAlign::Right};
    if (value <= 500) return {L"IconSpeedTestNormal", CellAlign::Right};
    return {L"IconSpeedTestBad", CellAlign::Right};
  }
  if (cellText == GetText("VpnServerSpeed_Timeout")) return {L"IconSpeedTestTimeout", CellAlign::Left};
  return {L"IconSpeedTestTesting", CellAlign::Left};
}

std::wstring LoadText(double load) {
  // A reply may carry any number here; keep the percentage inside int.
  const double percent = load * 100.0;
  int whole = 0;
  if (std::isnan(percent))
    whole = 0;
  else if (percent >= 2147483647.0)
    whole = INT32_MAX;
  else if (percent <= -2147483648.0)
    whole = INT32_MIN;
  else
    whole = static_cast<int>(percent);
  wchar_t buffer[32];
  std::swprintf(buffer, sizeof buffer / sizeof buffer[0], L"%3d%%", whole);
  return buffer;
}

namespace {

// A speed text's place in the order, worked out once per text: a sort of a
// thousand rows makes some twenty thousand comparisons, and looking the four
// status texts up in each was most of a header click.
struct SpeedKey {
  std::wstring text;
  int kind = 0;  // 0 a number, 1-4 the status texts in their order, 5 anything else
  std::int64_t number = 0;
  std::int32_t id = 0;
};

using StatusTexts = std::array<std::wstring, 4>;

StatusTexts SpeedStatusTexts() {
  return {GetText("VpnServerSpeed_Testing"), GetText("VpnServerSpeed_Unknown"), GetText("VpnServerSpeed_ToBeTested"),
          GetText("VpnServerSpeed_Timeout")};
}

SpeedKey KeyOfSpeedText(std::wstring text, const StatusTexts& statuses) {
  SpeedKey key;
  key.text = std::move(text);
  if (StartsWithDigit(key.text)) {
    key.number = LeadingNumber(key.text);
    return key;
  }
  key.kind = 5;
  for (int r = 0; r < 4; ++r)
    if (key.text == statuses[r]) {
      key.kind = r + 1;
      break;
    }
  return key;
}

int CompareSpeedKeys(const SpeedKey& a, const SpeedKey& b, int direction) {
  if (a.text == b.text) return 0;
  if (a.kind == 0 && b.kind == 0) return a.number < b.number ? -direction : direction;
  if (a.kind == 0) return -direction;
  if (b.kind == 0) return direction;
  if (a.kind == 5 && b.kind == 5) return 0;
  return a.kind < b.kind ? -direction : direction;
}

void SortBySpeed(std::vector<std::int32_t>& ids, const VpnServerMap& servers, int direction) {
  const StatusTexts statuses = SpeedStatusTexts();
  std::vector<SpeedKey> keyed;
  keyed.reserve(ids.size());
  for (std::int32_t id : ids) {
    keyed.push_back(KeyOfSpeedText(SpeedSummary(servers.at(id)), statuses));
    keyed.back().id = id;
  }
  std::stable_sort(keyed.begin(), keyed.end(), [&](const SpeedKey& x, const SpeedKey& y) {
    return CompareSpeedKeys(x, y, direction) < 0 && CompareSpeedKeys(y, x, direction) >= 0;
  });
  for (std::size_t i = 0; i < ids.size(); ++i) ids[i] = keyed[i].id;
}

}  // namespace

int CompareSpeedTexts(const std::wstring& a, const std::wstring& b, int direction) {
  const StatusTexts statuses = SpeedStatusTexts();
  return CompareSpeedKeys(KeyOfSpeedText(a, statuses), KeyOfSpeedText(b, statuses), direction);
}

int CompareServerColumn(const VpnServerInfo& a, const VpnServerInfo& b, int column, int direction) {
  switch (column) {
    case 0:
      return CompareTextNoCase(a.title, b.title) * direction;
    case 1:
      return CompareTextNoCase(a.comment, b.comment) * direction;
    case 2:
      return CompareSpeedTexts(SpeedSummary(a), SpeedSummary(b), direction);
    case 3:
      return (a.load < b.load ? -1 : 1) * direction;
    default:
      return 0;
  }
}

void SortServerIds(std::vector<std::int32_t>& ids, const VpnServerMap& servers, int column, int direction) {
  if (column == 2) {
    SortBySpeed(ids, servers, direction);
    return;
  }
  std::stable_sort(ids.begin(), ids.end(), [&](std::int32_t x, std::int32_t y) {
    const VpnServerInfo& a = servers.at(x);
    const VpnServerInfo& b = servers.at(y);
    return CompareServerColumn(a, b, column, direction) < 0 && CompareServerColumn(b, a, column, direction) >= 0;
  });
}
