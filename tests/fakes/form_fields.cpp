#include "fakes/form_fields.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string Base64Decode(const std::string& text) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    return c == '+' ? 62 : c == '/' ? 63 : -1;
  };
  std::string out;
  int bits = 0, acc = 0;
  for (char c : text) {
    const int v = value(c);
    if (v < 0) break;
    acc = ((acc << 6) | v) & 0xFFFF;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((acc >> bits) & 0xff));
    }
  }
  return out;
}

std::string UrlDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const int hi = text[i] == '%' && i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
    const int lo = hi >= 0 ? HexValue(text[i + 2]) : -1;
    if (lo >= 0) {
      out.push_back(static_cast<char>(hi << 4 | lo));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> FormFields(const std::string& body) {
  std::vector<std::pair<std::string, std::string>> fields;
  std::size_t start = 0;
  while (start <= body.size()) {
    std::size_t end = body.find('&', start);
    if (end == std::string::npos) end = body.size();
    const std::string piece = body.substr(start, end - start);
    const std::size_t eq = piece.find('=');
    fields.emplace_back(UrlDecode(piece.substr(0, eq)), eq == std::string::npos ? std::string() : UrlDecode(piece.substr(eq + 1)));
    start = end + 1;
  }
  return fields;
}
