// Helpers of the skinned-window tests: the registered skin, a dialog with a
// skin window, pixels read from surfaces and images.
#pragma once
#include "platform/win32.h"

#include <cstdint>
#include <functional>
#include <vector>

#include "skin/skin_window_win.h"
#include "ui/dialog_win.h"

// Registers the product's skin once per process.
void EnsureSkin();

// A modeless, hidden dialog of the given size with a skin window.
class CTestSkinDialog : public CDialog {
 public:
  int width = 340, height = 90;
  CSkinWindow skinWindow;
  std::function<void(CTestSkinDialog&)> beforeAttach, afterAttach;

 protected:
  bool OnInitDialog() override;
};

// 0x00RRGGBB pixels of a surface's rectangle, row by row.
class CPixels {
 public:
  CPixels(HDC surface, int width, int height);
  CPixels(int width, int height, std::vector<std::uint32_t> pixels)
      : width_(width), height_(height), pixels_(std::move(pixels)) {}
  std::uint32_t At(int x, int y) const { return pixels_[static_cast<std::size_t>(y) * width_ + x]; }
  int Width() const { return width_; }
  int Height() const { return height_; }

 private:
  int width_, height_;
  std::vector<std::uint32_t> pixels_;
};

// A compiled-in "IMAGE" resource decoded on its own, as 0x00RRGGBB pixels.
CPixels* DecodeResourceImage(int resource);

// A memory surface with a 32-bit bitmap.
class CMemorySurface {
 public:
  CMemorySurface(int width, int height, COLORREF fill = RGB(255, 0, 255));
  ~CMemorySurface();
  HDC Dc() const { return dc_; }
  CPixels Read() const { return CPixels(dc_, width_, height_); }

 private:
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ previous_;
  int width_, height_;
};

void PumpFor(int ms);
