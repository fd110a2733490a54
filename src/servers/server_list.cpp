#include "servers/server_list.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <string>

#include "account/ini_engine.h"
#include "account/reply_document.h"
#include "platform/file_io.h"
#include "platform/strings.h"
#include "platform/text_parse.h"

namespace {

const wchar_t kSection[] = L"Servers";

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

std::wstring Trim(std::wstring_view text) { return std::wstring(TrimAsciiSpace(std::wstring_view(text))); }

// Category keys are ASCII; a locale-dependent fold would make the same
// reply give different tabs on different machines.
std::wstring LowerAscii(const std::wstring& text) { return ToLowerAscii(std::wstring_view(text)); }

std::wstring Key(const wchar_t* name, int index) { return name + std::to_wstring(index); }

// The reply read once and looked up like the value-by-value accessors do.
// A list of thousands of servers would otherwise mean tens of thousands of
// file opens while the chooser opens, and one list could mix two versions
// of a reply that is rewritten meanwhile.
class CReplySnapshot {
 public:
  explicit CReplySnapshot(const std::wstring& path) {
    std::string bytes;
    if (ReadWholeFile(path, bytes)) doc_ = CIniDocument::Parse(bytes);
  }
  bool Raw(std::wstring_view key, std::string& out) const {
    const std::string* value = doc_.Find(section_, IniEncodeText(doc_.Encoding(), key));
    if (value == nullptr) return false;
    out.assign(value->c_str());  // up to the first NUL, as the accessors read it
    return true;
  }
  std::wstring String(std::wstring_view key) const {
    std::string raw;
    return Raw(key, raw) ? IniDecodeText(doc_.Encoding(), raw) : std::wstring();
  }
  std::wstring Text(std::wstring_view key) const {
    std::string raw;
    return Raw(key, raw) ? Utf8ToWide(raw) : std::wstring();
  }
  std::int32_t Int(std::wstring_view key, std::int32_t defaultValue) const {
    std::string raw;
    if (!Raw(key, raw) || raw.empty()) return defaultValue;
    return static_cast<std::int32_t>(ParseIntAutoBase(raw, INT32_MIN, INT32_MAX));
  }

 private:
  CIniDocument doc_ = CIniDocument::Parse("");
  const std::string section_ = WideToNarrow(EscapeSectionName(kSection));
};

}  // namespace

std::int32_t ParseDecimalInt32(std::wstring_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsAsciiSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  std::int64_t value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    value = value * 10 + (text[i] - L'0');
    if (value > static_cast<std::int64_t>(INT32_MAX) + 1) value = static_cast<std::int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return static_cast<std::int32_t>(value);
}

double ParseDecimalDouble(std::wstring_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsAsciiSpace(text[i])) ++i;
  std::string number;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
    if (text[i] == L'-') number += '-';
    ++i;
  }
  bool digits = false;
  for (; i < text.size() && IsDigit(text[i]); ++i, digits = true) number += static_cast<char>(text[i]);
  if (i < text.size() && text[i] == L'.') {
    number += '.';
    for (++i; i < text.size() && IsDigit(text[i]); ++i, digits = true) number += static_cast<char>(text[i]);
  }
  if (!digits) return 0.0;
  bool negativeExponent = false;
  if (i < text.size() && (text[i] == L'e' || text[i] == L'E')) {
    std::size_t j = i + 1;
    std::string exponent = "e";
    if (j < text.size() && (text[j] == L'+' || text[j] == L'-')) {
      negativeExponent = text[j] == L'-';
      exponent += static_cast<char>(text[j++]);
    }
    if (j < text.size() && IsDigit(text[j])) {
      for (; j < text.size() && IsDigit(text[j]); ++j) exponent += static_cast<char>(text[j]);
      number += exponent;
    } else {
      negativeExponent = false;
    }
  }
  double value = 0.0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  (void)end;
  if (error == std::errc::result_out_of_range) {
    const bool negative = !number.empty() && number[0] == '-';
    if (negativeExponent) return negative ? -0.0 : 0.0;
    return negative ? -HUGE_VAL : HUGE_VAL;
  }
  if (error != std::errc()) return 0.0;
  return value;
}

VpnServerMap LoadServerList(const std::wstring& replyPath) {
  const CReplySnapshot reply(replyPath);
  VpnServerMap servers;
  for (int i = 0;; ++i) {
    VpnServerInfo server;
    server.id = ParseDecimalInt32(reply.String(Key(L"ServerId", i)));
    if (server.id == 0) break;
    server.title = reply.Text(Key(L"Title", i));
    server.comment = reply.Text(Key(L"Comment", i));
    server.load = ParseDecimalDouble(reply.String(Key(L"Load", i)));
    server.host = reply.String(Key(L"ServerHost", i));
    server.ipsecSharedKey = reply.String(Key(L"IPSecSharedKey", i));
    server.openVpn = reply.String(Key(L"OpenVpn", i));
    server.protocols = Trim(reply.String(Key(L"Protocols", i)));
    server.pptpUseMppe = reply.Int(Key(L"PPTPUseMPPE", i), 0);
    const std::wstring categories = reply.String(Key(L"Categories", i));
    std::size_t start = 0;
    while (start <= categories.size()) {
      std::size_t comma = categories.find(L',', start);
      if (comma == std::wstring::npos) comma = categories.size();
      std::wstring piece = Trim(std::wstring_view(categories).substr(start, comma - start));
      if (!piece.empty()) server.categories.insert(LowerAscii(std::move(piece)));
      start = comma + 1;
    }
    servers[server.id] = std::move(server);
  }
  return servers;
}

bool OffersVpnType(const VpnServerInfo& server, int vpnType) {
  switch (vpnType) {
    case kVpnTypeAuto:
      return true;
    case kVpnTypePptp:
      return server.protocols.find(L"pptp") != std::wstring::npos;
    case kVpnTypeL2tp:
      return server.protocols.find(L"l2tp") != std::wstring::npos;
    case kVpnTypeOpenVpn:
      return server.protocols.find(L"openvpn") != std::wstring::npos;
    default:
      return false;
  }
}

std::set<std::wstring> CollectCategories(const VpnServerMap& servers) {
  std::set<std::wstring> all;
  for (const auto& [id, server] : servers) all.insert(server.categories.begin(), server.categories.end());
  return all;
}
