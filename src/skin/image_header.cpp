#include "skin/image_header.h"

namespace {

std::uint32_t Big(const std::uint8_t* p, int n) {
  std::uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

std::uint32_t Little(const std::uint8_t* p, int n) {
  std::uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

bool Png(const std::uint8_t* p, std::size_t size, std::int32_t& width, std::int32_t& height) {
  static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (size < 24) return false;
  for (int i = 0; i < 8; ++i)
    if (p[i] != kSignature[i]) return false;
  // The first chunk must be IHDR.
  if (p[12] != 'I' || p[13] != 'H' || p[14] != 'D' || p[15] != 'R') return false;
  const std::uint32_t w = Big(p + 16, 4), h = Big(p + 20, 4);
  if (w == 0 || h == 0 || w > 0x7FFFFFFF || h > 0x7FFFFFFF) return false;
  width = static_cast<std::int32_t>(w);
  height = static_cast<std::int32_t>(h);
  return true;
}

bool Bmp(const std::uint8_t* p, std::size_t size, std::int32_t& width, std::int32_t& height) {
  if (size < 26 || p[0] != 'B' || p[1] != 'M') return false;
  const std::uint32_t header = Little(p + 14, 4);
  if (header == 12) {  // the old core header: 16-bit sizes
    const std::uint32_t w = Little(p + 18, 2), h = Little(p + 20, 2);
    if (w == 0 || h == 0) return false;
    width = static_cast<std::int32_t>(w);
    height = static_cast<std::int32_t>(h);
    return true;
  }
  if (header < 40) return false;
  const auto w = static_cast<std::int32_t>(Little(p + 18, 4));
  auto h = static_cast<std::int32_t>(Little(p + 22, 4));
  // A negative height is a top-down bitmap of that many rows.
  if (h < 0 && h != INT32_MIN) h = -h;
  if (w <= 0 || h <= 0) return false;
  width = w;
  height = h;
  return true;
}

bool Jpeg(const std::uint8_t* p, std::size_t size, std::int32_t& width, std::int32_t& height) {
  if (size < 4 || p[0] != 0xFF || p[1] != 0xD8) return false;
  std::size_t at = 2;
  while (at + 4 <= size) {
    if (p[at] != 0xFF) return false;
    const std::uint8_t marker = p[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    // Markers without a length.
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      at += 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA) return false;  // image end or scan before any frame
    const std::size_t length = Big(p + at + 2, 2);
    if (length < 2) return false;
    // Start of frame, of every kind but the tables that share the range.
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      if (length < 7 || at + 9 > size) return false;
      const std::uint32_t h = Big(p + at + 5, 2), w = Big(p + at + 7, 2);
      if (w == 0 || h == 0) return false;
      width = static_cast<std::int32_t>(w);
      height = static_cast<std::int32_t>(h);
      return true;
    }
    at += 2 + length;
  }
  return false;
}

}  // namespace

bool ReadImageSize(const void* bytes, std::size_t size, std::int32_t& width, std::int32_t& height) {
  if (!bytes) return false;
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  return Png(p, size, width, height) || Bmp(p, size, width, height) || Jpeg(p, size, width, height);
}
