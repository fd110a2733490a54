// The GDI side of the skin: images decoded once into 32-bit bitmaps, drawn
// with plain or alpha blits. Exposed for the skinned windows and for tests.
#pragma once
#include "platform/win32.h"

#include <cstdint>
#include <string>
#include <vector>

#include "skin/skin_platform.h"

// From now on a compiled-in image registered has its cells laid out from its
// header's size and is decoded when first drawn (once, whichever thread
// draws). Until this is called (tests) an image is decoded when registered.
void DecodeSkinImagesWhenDrawn();
// Decodes PNG, JPEG or BMP bytes; false when they do not decode.
bool DecodeSkinImage(const void* bytes, std::size_t size, SkinImage& image);
// An image from premultiplied BGRA pixels, top row first (tests draw their own).
SkinImage MakeSkinImage(std::int32_t width, std::int32_t height, const std::vector<std::uint32_t>& bgra);
// Saves a 32-bit bitmap region of a surface as PNG (screenshots).
bool SavePng(HDC surface, const RECT& area, const std::wstring& path);

HFONT SkinFont(const wchar_t* name, HFONT fallback = nullptr);
HBRUSH SkinBrush(const wchar_t* name);
HPEN SkinPen(const wchar_t* name);
