#include "account/ini_engine.h"

#include "platform/strings.h"
#include "platform/text_parse.h"

namespace {

// The platform's reader also takes the old end-of-file mark for a blank.
std::string_view Trim(std::string_view s) { return TrimProfileBlanks(s); }

// Names and values reach the platform's callers as C strings. The cut comes
// after trimming, so blanks before a NUL stay part of the text.
std::string_view CutAtNul(std::string_view s) {
  const std::size_t nul = s.find('\0');
  return nul == std::string_view::npos ? s : s.substr(0, nul);
}

std::string_view StripQuotes(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// ---- UTF-16 files, converted to UTF-8 and back without loss ----

// A stray surrogate becomes its own three-byte sequence, so a rewrite gives
// the file back unit for unit; reading it as UTF-8 shows U+FFFD.
std::string Utf16ToText(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size() / 2);
  const auto unit = [&](std::size_t i) {
    const auto a = static_cast<unsigned char>(bytes[2 * i]), b = static_cast<unsigned char>(bytes[2 * i + 1]);
    return static_cast<char32_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
  };
  const std::size_t n = bytes.size() / 2;  // an odd last byte is no character
  for (std::size_t i = 0; i < n; ++i) {
    char32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
      const char32_t low = unit(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    AppendUtf8(out, u);
  }
  return out;
}

std::string TextToUtf16(std::string_view text, bool bigEndian) {
  std::string out;
  out.reserve(text.size() * 2);
  const auto put = [&](char32_t u) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out.push_back(bigEndian ? hi : lo);
    out.push_back(bigEndian ? lo : hi);
  };
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char b = p[i];
    int len = 0;
    char32_t cp = 0;
    if (b < 0x80) len = 1, cp = b;
    else if (b >= 0xC2 && b <= 0xDF) len = 2, cp = b & 0x1F;
    else if (b >= 0xE0 && b <= 0xEF) len = 3, cp = b & 0x0F;
    else if (b >= 0xF0 && b <= 0xF4) len = 4, cp = b & 0x07;
    bool ok = len > 0 && i + len <= text.size();
    for (int k = 1; ok && k < len; ++k) {
      ok = (p[i + k] & 0xC0) == 0x80;
      cp = cp << 6 | (p[i + k] & 0x3F);
    }
    if (ok && ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))) ok = false;
    if (!ok) {  // only text we did not decode ourselves can be malformed
      put(0xFFFD);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
    i += static_cast<std::size_t>(len);
  }
  return out;
}

// ---- lines ----

// One physical line of the document, as the editor sees it.
struct Line {
  std::size_t begin = 0;     // first byte
  std::size_t end = 0;       // one past the last content byte (before its line break)
  std::size_t next = 0;      // first byte of the following line
  enum Kind { Blank, Header, Entry } kind = Blank;
  std::string_view name;     // trimmed section or key name, up to a NUL
  std::string_view value;    // trimmed value up to a NUL, quotes kept
  bool hasEquals = false;
};

Line ClassifyLine(std::string_view text, std::size_t begin) {
  Line line;
  line.begin = begin;
  const std::size_t brk = text.find_first_of("\r\n", begin);
  if (brk == std::string_view::npos) {
    line.end = line.next = text.size();
  } else {
    line.end = brk;
    line.next = brk + ((text[brk] == '\r' && brk + 1 < text.size() && text[brk + 1] == '\n') ? 2 : 1);
  }
  std::string_view content = Trim(text.substr(begin, line.end - begin));
  if (content.empty()) return line;
  if (content.front() == '[') {
    const std::size_t close = content.rfind(']');
    if (close != std::string_view::npos) {
      line.kind = Line::Header;
      line.name = CutAtNul(Trim(content.substr(1, close - 1)));
      return line;
    }
  }
  line.kind = Line::Entry;
  const std::size_t eq = content.find('=');
  if (eq == std::string_view::npos) {
    line.name = CutAtNul(content);
  } else {
    line.hasEquals = true;
    line.name = CutAtNul(Trim(content.substr(0, eq)));
    line.value = CutAtNul(Trim(content.substr(eq + 1)));
  }
  return line;
}

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  for (std::size_t pos = 0; pos < text.size();) {
    lines.push_back(ClassifyLine(text, pos));
    pos = lines.back().next;
  }
  return lines;
}

// New lines end the way the file's first line does.
std::string_view LineEndingOf(std::string_view text) {
  const std::size_t brk = text.find_first_of("\r\n");
  if (brk == std::string_view::npos) return "\r\n";
  if (text[brk] == '\n') return "\n";
  return (brk + 1 < text.size() && text[brk + 1] == '\n') ? "\r\n" : "\r";
}

bool HasLineBreak(const Line& line) { return line.next > line.end; }

void InsertLineAfter(std::string& text, const Line& after, std::string_view entry, std::string_view eol) {
  if (!HasLineBreak(after)) {  // the last line has no line end yet
    text.insert(after.next, std::string(eol) + std::string(entry));
  } else {
    text.insert(after.next, std::string(entry) + std::string(eol));
  }
}

}  // namespace

IniText IniDecodeFile(std::string_view bytes) {
  const auto startsWith = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
  if (startsWith(kUtf8Bom)) return {IniEncoding::Utf8Bom, std::string(bytes.substr(kUtf8Bom.size()))};
  if (startsWith("\xFF\xFE")) return {IniEncoding::Utf16Le, Utf16ToText(bytes.substr(2), false)};
  if (startsWith("\xFE\xFF")) return {IniEncoding::Utf16Be, Utf16ToText(bytes.substr(2), true)};
  return {IniEncoding::Ansi, std::string(bytes)};
}

std::string IniEncodeFile(const IniText& text) {
  switch (text.encoding) {
    case IniEncoding::Utf8Bom:
      return std::string(kUtf8Bom) + text.text;
    case IniEncoding::Utf16Le:
      return "\xFF\xFE" + TextToUtf16(text.text, false);
    case IniEncoding::Utf16Be:
      return "\xFE\xFF" + TextToUtf16(text.text, true);
    case IniEncoding::Ansi:
      break;
  }
  return text.text;
}

std::string IniEncodeText(IniEncoding encoding, std::wstring_view text) {
  return encoding == IniEncoding::Ansi ? WideToNarrow(text) : WideToUtf8(text);
}

std::wstring IniDecodeText(IniEncoding encoding, std::string_view bytes) {
  return encoding == IniEncoding::Ansi ? NarrowToWide(bytes) : Utf8ToWide(bytes);
}

CIniDocument CIniDocument::Parse(std::string_view bytes) {
  CIniDocument doc;
  const IniText decoded = IniDecodeFile(bytes);
  const std::string_view text = decoded.text;
  doc.encoding_ = decoded.encoding;
  // Keys before the first header form a nameless section, as the platform's
  // reader has it: found under "", never listed. A later "[]" header can
  // never be found, since the first section of a name wins.
  doc.sections_.push_back(Section{});
  doc.firstSection_.emplace(std::string(), 0);
  Section* current = &doc.sections_.back();
  for (std::size_t pos = 0; pos < text.size();) {
    const Line line = ClassifyLine(text, pos);
    pos = line.next;
    if (line.kind == Line::Header) {
      doc.sections_.push_back(Section{std::string(line.name), {}, {}});
      current = &doc.sections_.back();
      doc.firstSection_.emplace(ToLowerAscii(line.name), doc.sections_.size() - 1);
    } else if (line.kind == Line::Entry) {
      current->keys.push_back(Key{std::string(line.name), std::string(StripQuotes(line.value)), line.hasEquals});
      current->firstKey.emplace(ToLowerAscii(line.name), current->keys.size() - 1);
    }
  }
  return doc;
}

const std::string* CIniDocument::Find(std::string_view section, std::string_view key) const {
  const auto s = firstSection_.find(ToLowerAscii(Trim(section)));
  if (s == firstSection_.end()) return nullptr;
  const Section& sec = sections_[s->second];
  const auto k = sec.firstKey.find(ToLowerAscii(Trim(key)));
  if (k == sec.firstKey.end() || !sec.keys[k->second].hasValue) return nullptr;
  return &sec.keys[k->second].value;
}

std::vector<std::string> CIniDocument::SectionNames() const {
  std::vector<std::string> names;
  names.reserve(sections_.size());
  for (std::size_t i = 1; i < sections_.size() && !sections_[i].name.empty(); ++i) names.push_back(sections_[i].name);
  return names;
}

bool IniEditSetValue(std::string& text, std::string_view section, std::string_view key, std::string_view value) {
  section = Trim(CutAtNul(section));
  key = Trim(CutAtNul(key));
  value = CutAtNul(value);
  // A line break would let a value write lines of its own; such a write is
  // refused rather than allowed to change other keys.
  if (key.empty() || key.find_first_of("=\r\n") != std::string_view::npos || key.front() == '[' ||
      value.find_first_of("\r\n") != std::string_view::npos ||
      section.find_first_of("\r\n") != std::string_view::npos)
    return false;
  const std::string_view eol = LineEndingOf(text);
  const std::vector<Line> lines = SplitLines(text);

  // The section's lines run from `first` up to the next header; the lines
  // before the first header are section "".
  std::size_t first = 0;
  if (!section.empty()) {
    std::size_t h = 0;
    while (h < lines.size() && !(lines[h].kind == Line::Header && EqualsNoCaseAscii(lines[h].name, section))) ++h;
    if (h == lines.size()) {
      std::string add;
      if (!lines.empty() && !HasLineBreak(lines.back())) add += eol;
      add.append("[").append(section).append("]").append(eol);
      add.append(key).append("=").append(value).append(eol);
      text += add;
      return true;
    }
    first = h + 1;
  }
  const Line* last = section.empty() ? nullptr : &lines[first - 1];  // where a new key goes after
  for (std::size_t j = first; j < lines.size() && lines[j].kind != Line::Header; ++j) {
    if (lines[j].kind != Line::Entry) continue;
    if (EqualsNoCaseAscii(lines[j].name, key)) {
      const std::string entry = std::string(lines[j].name) + "=" + std::string(value);
      text.replace(lines[j].begin, lines[j].end - lines[j].begin, entry);
      return true;
    }
    last = &lines[j];
  }
  const std::string entry = std::string(key) + "=" + std::string(value);
  if (last) {
    InsertLineAfter(text, *last, entry, eol);
  } else {
    text.insert(0, entry + std::string(eol));  // section "" without keys: the file's first line
  }
  return true;
}

void IniEditRemoveSection(std::string& text, std::string_view section) {
  section = Trim(CutAtNul(section));
  const std::vector<Line> lines = SplitLines(text);
  std::string out;
  out.reserve(text.size());
  bool dropping = section.empty();
  for (const Line& line : lines) {
    if (line.kind == Line::Header) dropping = EqualsNoCaseAscii(line.name, section);
    if (!dropping) out.append(text, line.begin, line.next - line.begin);
  }
  text = std::move(out);
}
