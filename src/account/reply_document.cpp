#include "account/reply_document.h"

#include <cstring>
#include <list>
#include <memory>
#include <mutex>

#include "account/ini_engine.h"
#include "platform/file_io.h"
#include "platform/strings.h"
#include "platform/text_parse.h"

namespace {

constexpr char kMarker[] = "MagicTag=VpnServerResponse";
constexpr std::size_t kMarkerLength = sizeof kMarker - 1;

// A few recently read documents with the identity of the file they came from.
class CIniCache {
 public:
  std::shared_ptr<const CIniDocument> Load(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.begin();
    while (it != entries_.end() && it->path != path) ++it;
    FileIdentity identity;
    std::string bytes;
    const FileReadResult r = ReadFileIfChanged(path, it != entries_.end() ? &it->identity : nullptr, identity, bytes);
    if (r == FileReadResult::Missing) {
      if (it != entries_.end()) entries_.erase(it);
      return nullptr;
    }
    if (r == FileReadResult::Unchanged) {
      entries_.splice(entries_.begin(), entries_, it);
      return entries_.front().document;
    }
    if (it != entries_.end()) entries_.erase(it);
    auto doc = std::make_shared<const CIniDocument>(CIniDocument::Parse(bytes));
    entries_.push_front(Entry{path, identity, doc});
    if (entries_.size() > kCapacity) entries_.pop_back();
    return doc;
  }

  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
  }

 private:
  static constexpr std::size_t kCapacity = 8;
  struct Entry {
    std::wstring path;
    FileIdentity identity;
    std::shared_ptr<const CIniDocument> document;
  };
  std::mutex mutex_;
  std::list<Entry> entries_;
};

CIniCache& Cache() {
  static CIniCache cache;
  return cache;
}

// The raw bytes of a value, as the platform's C-string interface would
// return them; false when missing.
bool FindRaw(const std::wstring& path, std::wstring_view section, std::wstring_view key, std::string& out,
             IniEncoding& encoding) {
  std::shared_ptr<const CIniDocument> doc = Cache().Load(path);
  if (!doc) return false;
  encoding = doc->Encoding();
  const std::string* value = doc->Find(IniEncodeText(encoding, EscapeSectionName(section)), IniEncodeText(encoding, key));
  if (!value) return false;
  out = *value;
  return true;
}

bool FindRaw(const std::wstring& path, std::wstring_view section, std::wstring_view key, std::string& out) {
  IniEncoding encoding;
  return FindRaw(path, section, key, out, encoding);
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

wchar_t HexDigit(unsigned v) { return static_cast<wchar_t>(v < 10 ? L'0' + v : L'a' + (v - 10)); }

// A file that exists but cannot be read is left alone rather than replaced
// by the few lines one write knows of.
void EditFile(const std::wstring& path, const auto& edit) {
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) {
    if (FileExists(path)) return;
    bytes.clear();  // a missing file is an empty one
  }
  IniText doc = IniDecodeFile(bytes);
  if (!edit(doc)) return;
  const std::string after = IniEncodeFile(doc);
  if (after != bytes) AtomicWriteFile(path, after);
}

}  // namespace

bool HasReplyMarker(const char* bytes, std::size_t length) {
  if (!bytes) return false;
  for (std::size_t i = 0; i + kMarkerLength < length; ++i)
    if (std::memcmp(bytes + i, kMarker, kMarkerLength) == 0) return true;
  return false;
}

void UnscrambleReply(char* bytes, std::size_t length, std::int32_t key) {
  const auto k = static_cast<unsigned char>(key & 0xff);
  if (k == 0) return;
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(static_cast<unsigned char>(bytes[i]) ^ k);
}

std::wstring EscapeSectionName(std::wstring_view name) {
  std::wstring out;
  out.reserve(name.size());
  for (wchar_t c : name) {
    if (c == L'\t' || c == L'\n' || c == L'\r' || c == L'%' || c == L'[' || c == L']') {
      out.push_back(L'%');
      out.push_back(HexDigit(static_cast<unsigned>(c) >> 4));
      out.push_back(HexDigit(static_cast<unsigned>(c) & 0xF));
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::wstring UnescapeSectionName(std::wstring_view name) {
  std::wstring out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == L'%' && i + 2 < name.size()) {
      // Two following characters read as hexadecimal, like the platform's
      // own scanner: a non-digit stops the number, so "%zz" gives 0.
      unsigned v = 0;
      for (std::size_t k = 1; k <= 2; ++k) {
        const wchar_t c = name[i + k];
        const int d = (c < 128) ? DigitValue(static_cast<char>(c)) : 99;
        if (d >= 16) break;
        v = v * 16 + static_cast<unsigned>(d);
      }
      out.push_back(static_cast<wchar_t>(v));
      i += 2;
    } else {
      out.push_back(name[i]);
    }
  }
  return out;
}

std::wstring IniReadString(const std::wstring& path, std::wstring_view section, std::wstring_view key,
                           std::wstring_view defaultValue) {
  std::string raw;
  IniEncoding encoding;
  if (!FindRaw(path, section, key, raw, encoding)) return std::wstring(defaultValue);
  return IniDecodeText(encoding, raw);
}

// Ansi files carry the service's UTF-8 bytes; the others are Unicode already.
std::wstring IniReadText(const std::wstring& path, std::wstring_view section, std::wstring_view key) {
  std::string raw;
  if (!FindRaw(path, section, key, raw)) return {};
  return Utf8ToWide(raw);
}

std::int32_t IniReadInt(const std::wstring& path, std::wstring_view section, std::wstring_view key,
                        std::int32_t defaultValue) {
  std::string raw;
  if (!FindRaw(path, section, key, raw) || raw.empty()) return defaultValue;
  return static_cast<std::int32_t>(ParseIntAutoBase(raw, INT32_MIN, INT32_MAX));
}

std::int64_t IniReadInt64(const std::wstring& path, std::wstring_view section, std::wstring_view key) {
  std::string raw;
  if (!FindRaw(path, section, key, raw) || raw.empty()) return 0;
  return ParseIntAutoBase(raw, INT64_MIN, INT64_MAX);
}

void IniWriteString(const std::wstring& path, std::wstring_view section, std::wstring_view key,
                    std::wstring_view value) {
  const std::wstring escaped = EscapeSectionName(section);
  EditFile(path, [&](IniText& doc) {
    return IniEditSetValue(doc.text, IniEncodeText(doc.encoding, escaped), IniEncodeText(doc.encoding, key),
                           IniEncodeText(doc.encoding, value));
  });
}

void IniWriteInt(const std::wstring& path, std::wstring_view section, std::wstring_view key, std::int32_t value) {
  IniWriteString(path, section, key, std::to_wstring(value));
}

void IniDeleteSection(const std::wstring& path, std::wstring_view section) {
  const std::wstring escaped = EscapeSectionName(section);
  EditFile(path, [&](IniText& doc) {
    IniEditRemoveSection(doc.text, IniEncodeText(doc.encoding, escaped));
    return true;
  });
}

std::vector<std::wstring> IniListSections(const std::wstring& path) {
  std::vector<std::wstring> out;
  std::shared_ptr<const CIniDocument> doc = Cache().Load(path);
  if (!doc) return out;
  for (const std::string& name : doc->SectionNames()) out.push_back(UnescapeSectionName(IniDecodeText(doc->Encoding(), name)));
  return out;
}

void IniForgetCache() { Cache().Clear(); }
