// What the skin registry needs from the drawing system. The registry, its
// grammar and its geometry are portable; pixels are the platform's business.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

struct SkinRect {
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;
  std::int32_t Width() const { return right - left; }
  std::int32_t Height() const { return bottom - top; }
  friend bool operator==(const SkinRect&, const SkinRect&) = default;
};

// A font, brush or pen as the platform hands it out (a GDI handle on Windows).
using SkinObject = void*;
// A drawing surface (a device context on Windows).
using SkinSurface = void*;

struct SkinImage {
  std::int32_t width = 0;   // 0 when decoding failed
  std::int32_t height = 0;
  bool hasAlpha = false;
  std::shared_ptr<void> pixels;  // the platform's decoded image
};

// Text formats, with the values the Windows text call takes.
enum SkinTextFormat : unsigned {
  kTextLeft = 0x0,
  kTextCenter = 0x1,
  kTextRight = 0x2,
  kTextVCenter = 0x4,
  kTextBottom = 0x8,
  kTextWordBreak = 0x10,
  kTextSingleLine = 0x20,
};

class ISkinPlatform {
 public:
  virtual ~ISkinPlatform() = default;
  // False when the compiled-in "IMAGE" resource is missing or unreadable. An
  // image that is there but does not decode loads as 0x0 and returns true.
  virtual bool LoadImageResource(int resource, SkinImage& image) = 0;
  virtual bool DrawImage(SkinSurface surface, const SkinImage& image, const SkinRect& source,
                         const SkinRect& destination) = 0;
  virtual std::int32_t TextWidth(SkinSurface surface, const std::wstring& text) = 0;
  virtual void DrawText(SkinSurface surface, const std::wstring& text, const SkinRect& area, unsigned format) = 0;
  virtual SkinObject CreateFont(std::int32_t height, std::int32_t weight, bool underline, const std::wstring& face) = 0;
  virtual SkinObject CreateSolidBrush(std::uint32_t colour) = 0;
  virtual SkinObject CreatePen(std::uint32_t colour) = 0;
  virtual SkinObject CreateNullBrush() = 0;
  virtual void ReleaseObject(SkinObject object) = 0;
  virtual std::int32_t HandCursor() = 0;
  // Registers the window class of skinned panels; returns its name.
  virtual std::wstring RegisterPanelClass() = 0;
};

// The drawing system of this build (GDI on Windows; a blank one elsewhere).
std::unique_ptr<ISkinPlatform> CreateSkinPlatform();

constexpr std::uint32_t SkinRgb(int r, int g, int b) {
  return static_cast<std::uint32_t>(r) | (static_cast<std::uint32_t>(g) << 8) | (static_cast<std::uint32_t>(b) << 16);
}
