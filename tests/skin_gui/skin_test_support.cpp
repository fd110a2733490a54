#include "skin_gui/skin_test_support.h"

#include <objidl.h>
#include <gdiplus.h>

#include <cstring>
#include <map>
#include <memory>

#include "skin/registered_skin.h"
#include "ui/message_loop_win.h"

void EnsureSkin() {
  static bool done = [] {
    RegisterSkin(GetSkinAttributes());
    return true;
  }();
  (void)done;
}

bool CTestSkinDialog::OnInitDialog() {
  SetSize(width, height, false);
  if (beforeAttach) beforeAttach(*this);
  skinWindow.Attach(Handle());
  if (afterAttach) afterAttach(*this);
  return true;
}

CPixels::CPixels(HDC surface, int width, int height) : width_(width), height_(height) {
  pixels_.resize(static_cast<std::size_t>(width) * height);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP copy = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = ::CreateCompatibleDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, copy);
  ::BitBlt(dc, 0, 0, width, height, surface, 0, 0, SRCCOPY);
  ::GdiFlush();
  const auto* p = static_cast<const std::uint32_t*>(bits);
  for (std::size_t i = 0; i < pixels_.size(); ++i) pixels_[i] = p[i] & 0x00FFFFFF;
  ::SelectObject(dc, old);
  ::DeleteDC(dc);
  ::DeleteObject(copy);
}

CPixels* DecodeResourceImage(int resource) {
  static std::map<int, std::unique_ptr<CPixels>> cache;
  auto& slot = cache[resource];
  if (slot) return slot.get();
  using namespace Gdiplus;
  static ULONG_PTR token = [] {
    GdiplusStartupInput input;
    ULONG_PTR t = 0;
    GdiplusStartup(&t, &input, nullptr);
    return t;
  }();
  (void)token;
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(resource), L"IMAGE");
  if (!found) return nullptr;
  const DWORD size = ::SizeofResource(module, found);
  const void* bytes = ::LockResource(::LoadResource(module, found));
  HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, size);
  std::memcpy(::GlobalLock(block), bytes, size);
  ::GlobalUnlock(block);
  IStream* stream = nullptr;
  ::CreateStreamOnHGlobal(block, TRUE, &stream);
  GpBitmap* bitmap = nullptr;
  DllExports::GdipCreateBitmapFromStream(stream, &bitmap);
  stream->Release();
  if (!bitmap) return nullptr;
  UINT w = 0, h = 0;
  DllExports::GdipGetImageWidth(bitmap, &w);
  DllExports::GdipGetImageHeight(bitmap, &h);
  GpRect all(0, 0, static_cast<INT>(w), static_cast<INT>(h));
  BitmapData data{};
  if (DllExports::GdipBitmapLockBits(bitmap, &all, ImageLockModeRead, PixelFormat32bppARGB, &data) != Ok) {
    DllExports::GdipDisposeImage(bitmap);
    return nullptr;
  }
  std::vector<std::uint32_t> pixels(std::size_t{w} * h);
  for (UINT y = 0; y < h; ++y)
    for (UINT x = 0; x < w; ++x)
      pixels[std::size_t{y} * w + x] =
          reinterpret_cast<const std::uint32_t*>(static_cast<const std::uint8_t*>(data.Scan0) + y * data.Stride)[x] &
          0x00FFFFFF;
  DllExports::GdipBitmapUnlockBits(bitmap, &data);
  DllExports::GdipDisposeImage(bitmap);
  slot = std::make_unique<CPixels>(static_cast<int>(w), static_cast<int>(h), std::move(pixels));
  return slot.get();
}

CMemorySurface::CMemorySurface(int width, int height, COLORREF fill) : width_(width), height_(height) {
  HDC screen = ::GetDC(nullptr);
  dc_ = ::CreateCompatibleDC(screen);
  bitmap_ = ::CreateCompatibleBitmap(screen, width, height);
  ::ReleaseDC(nullptr, screen);
  previous_ = ::SelectObject(dc_, bitmap_);
  RECT all{0, 0, width, height};
  HBRUSH brush = ::CreateSolidBrush(fill);
  ::FillRect(dc_, &all, brush);
  ::DeleteObject(brush);
}

CMemorySurface::~CMemorySurface() {
  ::SelectObject(dc_, previous_);
  ::DeleteDC(dc_);
  ::DeleteObject(bitmap_);
}

void PumpFor(int ms) {
  const DWORD until = ::GetTickCount() + static_cast<DWORD>(ms);
  do {
    PumpPendingMessages();
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  } while (static_cast<int>(until - ::GetTickCount()) > 0);
}
