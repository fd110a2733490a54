#include "skin/image_header.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Png(std::uint32_t w, std::uint32_t h, const char* chunk = "IHDR") {
  Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13};
  b.insert(b.end(), chunk, chunk + 4);
  for (std::uint32_t v : {w, h})
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<std::uint8_t>(v >> s));
  b.insert(b.end(), {8, 6, 0, 0, 0});
  return b;
}

Bytes Bmp(std::int32_t w, std::int32_t h, std::uint32_t header = 40) {
  Bytes b(14 + header, 0);
  b[0] = 'B';
  b[1] = 'M';
  auto put = [&b](std::size_t at, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  put(14, header, 4);
  if (header == 12) {
    put(18, static_cast<std::uint32_t>(w), 2);
    put(20, static_cast<std::uint32_t>(h), 2);
  } else {
    put(18, static_cast<std::uint32_t>(w), 4);
    put(22, static_cast<std::uint32_t>(h), 4);
  }
  return b;
}

// SOI, the given segments, then a frame header of that kind.
Bytes Jpeg(std::uint8_t frame, std::uint16_t w, std::uint16_t h, const std::vector<Bytes>& before = {}) {
  Bytes b = {0xFF, 0xD8};
  for (const Bytes& s : before) b.insert(b.end(), s.begin(), s.end());
  b.insert(b.end(), {0xFF, frame, 0, 17, 8, static_cast<std::uint8_t>(h >> 8), static_cast<std::uint8_t>(h),
                     static_cast<std::uint8_t>(w >> 8), static_cast<std::uint8_t>(w), 3});
  b.resize(b.size() + 9, 0);
  return b;
}

Bytes App0() { return {0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}; }
// A Huffman table: its marker (C4) sits among the frame markers.
Bytes Dht() { return {0xFF, 0xC4, 0, 4, 0, 0}; }

Bytes Cut(Bytes b, std::size_t keep) {
  b.resize(keep);
  return b;
}

TEST(ImageHeader, SizesFromEachFormatsHeader) {
  const struct {
    const char* what;
    Bytes bytes;
    bool ok;
    std::int32_t width, height;
  } cases[] = {
      {"png", Png(326, 464), true, 326, 464},
      {"png, first chunk not IHDR", Png(326, 464, "IDAT"), false, 0, 0},
      {"png, zero width", Png(0, 5), false, 0, 0},
      {"png, width past 31 bits", Png(0x80000000u, 5), false, 0, 0},
      {"png cut inside the size", Cut(Png(326, 464), 22), false, 0, 0},
      {"bmp bottom-up", Bmp(352, 56), true, 352, 56},
      {"bmp top-down", Bmp(352, -56), true, 352, 56},
      {"bmp v5 header", Bmp(10, 20, 124), true, 10, 20},
      {"bmp core header", Bmp(7, 9, 12), true, 7, 9},
      {"bmp unknown header size", Bmp(7, 9, 20), false, 0, 0},
      {"bmp negative width", Bmp(-4, 9), false, 0, 0},
      {"bmp cut before the height", Cut(Bmp(352, 56), 24), false, 0, 0},
      {"jpeg baseline after JFIF", Jpeg(0xC0, 339, 71, {App0()}), true, 339, 71},
      {"jpeg progressive", Jpeg(0xC2, 165, 250), true, 165, 250},
      {"jpeg tables before the frame", Jpeg(0xC0, 40, 30, {App0(), Dht()}), true, 40, 30},
      {"jpeg fill bytes between segments", Jpeg(0xC1, 5, 6, {{0xFF, 0xFF}, App0()}), true, 5, 6},
      {"jpeg zero height", Jpeg(0xC0, 5, 0), false, 0, 0},
      {"jpeg scan before any frame", Jpeg(0xC0, 5, 6, {{0xFF, 0xDA, 0, 2}}), false, 0, 0},
      {"jpeg segment length past the end", Jpeg(0xC0, 5, 6, {{0xFF, 0xE1, 0xFF, 0xF0}}), false, 0, 0},
      {"jpeg segment length below two", Jpeg(0xC0, 5, 6, {{0xFF, 0xE1, 0, 1}}), false, 0, 0},
      {"jpeg frame cut before the width", Cut(Jpeg(0xC0, 5, 6, {App0()}), 2 + 18 + 7), false, 0, 0},
      {"jpeg garbage where a marker belongs", Jpeg(0xC0, 5, 6, {{0x12, 0x34}}), false, 0, 0},
      {"nothing", Bytes{}, false, 0, 0},
      {"text", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!', '!', '!', '!', '!', '!', '!',
                     '!', '!', '!', '!', '!', '!', '!'},
       false, 0, 0},
  };
  for (const auto& c : cases) {
    std::int32_t w = -1, h = -1;
    EXPECT_EQ(ReadImageSize(c.bytes.data(), c.bytes.size(), w, h), c.ok) << c.what;
    if (c.ok) {
      EXPECT_EQ(w, c.width) << c.what;
      EXPECT_EQ(h, c.height) << c.what;
    }
  }
  std::int32_t w = 0, h = 0;
  EXPECT_FALSE(ReadImageSize(nullptr, 100, w, h));
}

// Every image the client is built with: the cells are laid out from these
// sizes before the image is ever decoded.
TEST(ImageHeader, TheBuiltInImages) {
  const struct {
    const char* file;
    std::int32_t width, height;
  } images[] = {
      {"buttons.bmp", 352, 56},       {"caption_minimize.png", 108, 19}, {"caption_close.png", 116, 19},
      {"main_window.jpg", 326, 464},  {"web_buttons.jpg", 165, 250},     {"window_frame.jpg", 339, 71},
      {"flags.png", 48, 16},          {"tabs.png", 24, 24},              {"connect_icons.png", 36, 36},
      {"check_boxes.png", 26, 52},    {"list_header.png", 12, 20},       {"header_panel_title.png", 9, 27},
      {"policy_icons.png", 60, 16},   {"radio_boxes.png", 48, 24},       {"tip_info.png", 14, 14},
      {"speed_icons.png", 60, 12},    {"online_update.png", 36, 36},     {"scroll_horizontal.png", 64, 80},
      {"scroll_vertical.png", 64, 80}, {"app_status.png", 32, 16},
  };
  for (const auto& image : images) {
    std::ifstream in(std::string(QUILLNET_TEST_DATA) + "/../../resources/images/" + image.file, std::ios::binary);
    ASSERT_TRUE(in) << image.file;
    const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::int32_t w = 0, h = 0;
    ASSERT_TRUE(ReadImageSize(bytes.data(), bytes.size(), w, h)) << image.file;
    EXPECT_EQ(w, image.width) << image.file;
    EXPECT_EQ(h, image.height) << image.file;
  }
}

}  // namespace
