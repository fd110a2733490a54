#include "account/settings_file.h"

#include <charconv>
#include <iterator>

#include "platform/strings.h"
#include "platform/text_parse.h"

namespace {

constexpr std::string_view kNameSpecials = "=[]#;";
constexpr std::string_view kSectionSpecials = "[]";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::int32_t> ParseInt(std::string_view s) {
  // Strict: a hand edit like "12abc" must not read as 12.
  if (s.empty() || s.front() == '+') return std::nullopt;
  std::int32_t value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 10);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

std::optional<ByteString> ParseHex(std::string_view s) {
  if (s.size() % 2) return std::nullopt;
  ByteString bytes;
  bytes.reserve(s.size() / 2);
  for (std::size_t i = 0; i < s.size(); i += 2) {
    const int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  return bytes;
}

std::string FormatHex(const ByteString& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

bool IsValidPayload(char type, std::string_view payload) {
  switch (type) {
    case 'i': return ParseInt(payload).has_value();
    case 's': return UnescapeSettingsText(payload).has_value();
    case 'b': return ParseHex(payload).has_value();
    default: return false;
  }
}

}  // namespace

std::string EscapeSettingsText(std::string_view utf8, std::string_view specials) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(utf8.size());
  for (char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7f || specials.find(ch) != std::string_view::npos) {
      out += "\\x";
      out += kDigits[c >> 4];
      out += kDigits[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

std::optional<std::string> UnescapeSettingsText(std::string_view escaped) {
  std::string out;
  out.reserve(escaped.size());
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] != '\\') {
      out += escaped[i];
      continue;
    }
    if (++i == escaped.size()) return std::nullopt;
    switch (escaped[i]) {
      case '\\': out += '\\'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'x': {
        if (i + 2 >= escaped.size()) return std::nullopt;
        const int hi = HexDigit(escaped[i + 1]), lo = HexDigit(escaped[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        break;
      }
      default: return std::nullopt;
    }
  }
  return out;
}

CSettingsFile CSettingsFile::Parse(std::string_view bytes) {
  CSettingsFile file;
  file.sections_.push_back(Section{});  // lines before the first header
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t end = bytes.find('\n', pos);
    if (end == std::string_view::npos) end = bytes.size();
    const std::string_view raw = bytes.substr(pos, end - pos);
    pos = end + 1;

    std::string_view text = raw;
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);

    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
      Section section;
      section.hasHeader = true;
      section.rawHeader = std::string(raw);
      // A header we cannot decode still starts a section, so the values under
      // it are never taken for the previous section's; its name matches none.
      if (auto name = UnescapeSettingsText(text.substr(1, text.size() - 2))) {
        section.name = Utf8ToWide(*name);
      } else {
        section.name = L"\n";  // no decoded name can be a bare line break
      }
      file.sections_.push_back(std::move(section));
      continue;
    }

    Line line;
    line.raw = std::string(raw);
    const std::size_t eq = text.find('=');
    if (!text.empty() && text.front() != '#' && text.front() != ';' && eq != std::string_view::npos && eq > 0) {
      if (auto name = UnescapeSettingsText(text.substr(0, eq))) {
        line.isValue = true;
        line.name = Utf8ToWide(*name);
        const std::string_view rest = text.substr(eq + 1);
        if (rest.size() >= 2 && rest[1] == ':' && IsValidPayload(rest[0], rest.substr(2))) {
          line.type = rest[0];
          line.payload = std::string(rest.substr(2));
        }
      }
    }
    file.sections_.back().lines.push_back(std::move(line));
  }
  return file;
}

std::string CSettingsFile::Format() const {
  std::string out;
  for (const Section& section : sections_) {
    if (section.hasHeader) {
      out += section.rawHeader;
      out += '\n';
    }
    for (const Line& line : section.lines) {
      out += line.raw;
      out += '\n';
    }
  }
  return out;
}

const CSettingsFile::Line* CSettingsFile::Find(std::wstring_view section, std::wstring_view name, char type) const {
  for (const Section& s : sections_) {
    if (!s.hasHeader || !EqualsNoCaseAscii(s.name, section)) continue;
    for (const Line& line : s.lines) {
      if (line.isValue && EqualsNoCaseAscii(line.name, name)) return line.type == type ? &line : nullptr;
    }
  }
  return nullptr;
}

std::optional<std::int32_t> CSettingsFile::ReadInt(std::wstring_view section, std::wstring_view name) const {
  const Line* line = Find(section, name, 'i');
  return line ? ParseInt(line->payload) : std::nullopt;
}

std::optional<std::wstring> CSettingsFile::ReadString(std::wstring_view section, std::wstring_view name) const {
  const Line* line = Find(section, name, 's');
  if (!line) return std::nullopt;
  auto text = UnescapeSettingsText(line->payload);
  if (!text) return std::nullopt;
  return Utf8ToWide(*text);
}

std::optional<ByteString> CSettingsFile::ReadBinary(std::wstring_view section, std::wstring_view name) const {
  const Line* line = Find(section, name, 'b');
  return line ? ParseHex(line->payload) : std::nullopt;
}

void CSettingsFile::Write(std::wstring_view section, std::wstring_view name, char type, std::string payload) {
  Line fresh;
  fresh.isValue = true;
  fresh.name = std::wstring(name);
  fresh.type = type;
  fresh.payload = std::move(payload);
  fresh.raw = EscapeSettingsText(WideToUtf8(name), kNameSpecials) + "=" + type + ":" + fresh.payload;

  // One value per name, as in the registry: the first line of that name takes
  // the new value (keeping its place and its spelling of the name), later
  // ones go.
  bool placed = false;
  Section* firstSection = nullptr;
  for (Section& s : sections_) {
    if (!s.hasHeader || !EqualsNoCaseAscii(s.name, section)) continue;
    if (!firstSection) firstSection = &s;
    for (auto it = s.lines.begin(); it != s.lines.end();) {
      if (!it->isValue || !EqualsNoCaseAscii(it->name, name)) {
        ++it;
      } else if (!placed) {
        fresh.name = it->name;
        fresh.raw = EscapeSettingsText(WideToUtf8(it->name), kNameSpecials) + "=" + type + ":" + fresh.payload;
        *it = fresh;
        placed = true;
        ++it;
      } else {
        it = s.lines.erase(it);
      }
    }
  }
  if (placed) return;
  if (!firstSection) {
    Section s;
    s.hasHeader = true;
    s.name = std::wstring(section);
    s.rawHeader = '[';
    s.rawHeader += EscapeSettingsText(WideToUtf8(section), kSectionSpecials);
    s.rawHeader += ']';
    sections_.push_back(std::move(s));
    firstSection = &sections_.back();
  }
  // After the section's last value, before any trailing blank or comment.
  auto at = firstSection->lines.end();
  while (at != firstSection->lines.begin() && !std::prev(at)->isValue) --at;
  if (at == firstSection->lines.begin()) at = firstSection->lines.end();
  firstSection->lines.insert(at, std::move(fresh));
}

void CSettingsFile::WriteInt(std::wstring_view section, std::wstring_view name, std::int32_t value) {
  Write(section, name, 'i', std::to_string(value));
}

void CSettingsFile::WriteString(std::wstring_view section, std::wstring_view name, std::wstring_view value) {
  Write(section, name, 's', EscapeSettingsText(WideToUtf8(value), {}));
}

void CSettingsFile::WriteBinary(std::wstring_view section, std::wstring_view name, const ByteString& value) {
  Write(section, name, 'b', FormatHex(value));
}

bool CSettingsFile::DeleteValue(std::wstring_view section, std::wstring_view name) {
  bool removed = false;
  for (Section& s : sections_) {
    if (!s.hasHeader || !EqualsNoCaseAscii(s.name, section)) continue;
    for (auto it = s.lines.begin(); it != s.lines.end();) {
      if (it->isValue && EqualsNoCaseAscii(it->name, name)) {
        it = s.lines.erase(it);
        removed = true;
      } else {
        ++it;
      }
    }
  }
  return removed;
}

bool CSettingsFile::DeleteSection(std::wstring_view section) {
  const auto before = sections_.size();
  std::erase_if(sections_, [&](const Section& s) { return s.hasHeader && EqualsNoCaseAscii(s.name, section); });
  return sections_.size() != before;
}
