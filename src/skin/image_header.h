// An image's size read from its header, without decoding it: the skin lays
// out its cells at start-up but decodes an image only when it is first drawn.
#pragma once
#include <cstddef>
#include <cstdint>

// PNG, BMP (top-down or bottom-up) and baseline or progressive JPEG; false
// for anything else, a cut header or a size of zero.
bool ReadImageSize(const void* bytes, std::size_t size, std::int32_t& width, std::int32_t& height);
