#include "skin/skin_platform_win.h"

#include <objidl.h>
#include <gdiplus.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "skin/image_header.h"
#include "skin/skin_attributes.h"

namespace {

using namespace Gdiplus;

void StartGdiplus() {
  static ULONG_PTR token = [] {
    GdiplusStartupInput input;
    ULONG_PTR t = 0;
    GdiplusStartup(&t, &input, nullptr);
    return t;
  }();
  (void)token;
}

// A decoded image lives in its own memory surface, ready to blit from. In
// the client a compiled-in one is decoded when first drawn: decoding all
// twenty at registration took about 55 ms of the start under Wine, and most
// of them belong to dialogs a start never opens.
struct WinImage {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ previous = nullptr;
  // Set once at registration: the resource's bytes, decoded under the flag.
  const void* pending = nullptr;
  std::size_t pendingSize = 0;
  bool alpha = false;
  std::once_flag decodeOnce;
  ~WinImage() {
    if (dc) {
      ::SelectObject(dc, previous);
      ::DeleteDC(dc);
    }
    if (bitmap) ::DeleteObject(bitmap);
  }
};

std::shared_ptr<WinImage> NewWinImage(std::int32_t width, std::int32_t height, void** bits) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  auto image = std::make_shared<WinImage>();
  image->bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, bits, nullptr, 0);
  if (!image->bitmap) return nullptr;
  image->dc = ::CreateCompatibleDC(nullptr);
  image->previous = ::SelectObject(image->dc, image->bitmap);
  return image;
}

bool AnyTranslucent(const std::uint32_t* pixels, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    if ((pixels[i] >> 24) != 0xFF) return true;
  return false;
}

bool DecodeInto(const void* bytes, std::size_t size, SkinImage& image);

// Moves the decoded surface into the image the cells already point at; one
// that does not decode stays empty and draws nothing.
void DecodePending(WinImage& image) {
  SkinImage decoded;
  if (DecodeInto(image.pending, image.pendingSize, decoded)) {
    auto* from = static_cast<WinImage*>(decoded.pixels.get());
    std::swap(image.dc, from->dc);
    std::swap(image.bitmap, from->bitmap);
    std::swap(image.previous, from->previous);
    image.alpha = decoded.hasAlpha;
  }
}

std::atomic<bool> gDecodeWhenDrawn{false};

void DecodeOnce(WinImage& image) {
  std::call_once(image.decodeOnce, [&image] { DecodePending(image); });
}

class CWinSkinPlatform : public ISkinPlatform {
 public:
  CWinSkinPlatform() { StartGdiplus(); }

  bool LoadImageResource(int resource, SkinImage& image) override {
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(resource), L"IMAGE");
    if (!found) return false;
    const DWORD size = ::SizeofResource(module, found);
    HGLOBAL loaded = ::LoadResource(module, found);
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (!bytes || size == 0) return false;
    image = SkinImage{};
    // The cells are laid out from the header's size; the module's resources
    // stay mapped while it runs.
    std::int32_t width = 0, height = 0;
    if (gDecodeWhenDrawn && ReadImageSize(bytes, size, width, height)) {
      auto pending = std::make_shared<WinImage>();
      pending->pending = bytes;
      pending->pendingSize = size;
      image.width = width;
      image.height = height;
      image.pixels = pending;
      return true;
    }
    if (!DecodeSkinImage(bytes, size, image)) image = SkinImage{};  // there but undecodable: 0x0
    return true;
  }

  bool DrawImage(SkinSurface surface, const SkinImage& image, const SkinRect& s, const SkinRect& d) override {
    auto* source = static_cast<WinImage*>(image.pixels.get());
    if (!source) return false;
    if (source->pending) DecodeOnce(*source);
    if (!source->dc) return false;
    HDC dc = static_cast<HDC>(surface);
    if (image.hasAlpha || source->alpha) {
      BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
      return ::GdiAlphaBlend(dc, d.left, d.top, d.Width(), d.Height(), source->dc, s.left, s.top, s.Width(),
                             s.Height(), blend);
    }
    if (d.Width() == s.Width() && d.Height() == s.Height())
      return ::BitBlt(dc, d.left, d.top, d.Width(), d.Height(), source->dc, s.left, s.top, SRCCOPY);
    // Nearest neighbour: small pieces stretched over long edges stay uniform.
    const int oldMode = ::SetStretchBltMode(dc, COLORONCOLOR);
    const BOOL ok = ::StretchBlt(dc, d.left, d.top, d.Width(), d.Height(), source->dc, s.left, s.top, s.Width(),
                                 s.Height(), SRCCOPY);
    ::SetStretchBltMode(dc, oldMode);
    return ok;
  }

  std::int32_t TextWidth(SkinSurface surface, const std::wstring& text) override {
    SIZE size{};
    ::GetTextExtentPoint32W(static_cast<HDC>(surface), text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
  }

  void DrawText(SkinSurface surface, const std::wstring& text, const SkinRect& area, unsigned format) override {
    RECT r{area.left, area.top, area.right, area.bottom};
    ::DrawTextW(static_cast<HDC>(surface), text.c_str(), static_cast<int>(text.size()), &r, format);
  }

  SkinObject CreateFont(std::int32_t height, std::int32_t weight, bool underline, const std::wstring& face) override {
    // Without a named face we ask for Tahoma, the face the dialogs are laid out for.
    const wchar_t* name = face.empty() ? L"Tahoma" : face.c_str();
    return ::CreateFontW(-height, 0, 0, 0, weight, FALSE, underline, FALSE, DEFAULT_CHARSET, OUT_OUTLINE_PRECIS,
                         CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH, name);
  }
  SkinObject CreateSolidBrush(std::uint32_t colour) override { return ::CreateSolidBrush(colour); }
  SkinObject CreatePen(std::uint32_t colour) override { return ::CreatePen(PS_SOLID, 1, colour); }
  SkinObject CreateNullBrush() override { return ::GetStockObject(NULL_BRUSH); }
  void ReleaseObject(SkinObject object) override { ::DeleteObject(static_cast<HGDIOBJ>(object)); }
  std::int32_t HandCursor() override {
    return static_cast<std::int32_t>(reinterpret_cast<INT_PTR>(::LoadCursorW(nullptr, IDC_HAND)));
  }
  std::wstring RegisterPanelClass() override {
    static const wchar_t kClass[] = L"QuillnetSkinPanel";
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = ::DefWindowProcW;
    cls.hInstance = ::GetModuleHandleW(nullptr);
    cls.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    cls.lpszClassName = kClass;
    ::RegisterClassExW(&cls);
    return kClass;
  }
};

}  // namespace

void DecodeSkinImagesWhenDrawn() { gDecodeWhenDrawn = true; }

std::unique_ptr<ISkinPlatform> CreateSkinPlatform() { return std::make_unique<CWinSkinPlatform>(); }

bool DecodeSkinImage(const void* bytes, std::size_t size, SkinImage& image) { return DecodeInto(bytes, size, image); }

namespace {

bool DecodeInto(const void* bytes, std::size_t size, SkinImage& image) {
  StartGdiplus();
  HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, size);
  if (!block) return false;
  void* target = ::GlobalLock(block);
  if (!target) {
    ::GlobalFree(block);
    return false;
  }
  std::memcpy(target, bytes, size);
  ::GlobalUnlock(block);
  IStream* stream = nullptr;
  if (FAILED(::CreateStreamOnHGlobal(block, TRUE, &stream))) {
    ::GlobalFree(block);
    return false;
  }
  GpBitmap* bitmap = nullptr;
  const bool opened = DllExports::GdipCreateBitmapFromStream(stream, &bitmap) == Ok && bitmap;
  stream->Release();
  if (!opened) return false;

  bool ok = false;
  UINT width = 0, height = 0;
  PixelFormat format = 0;
  DllExports::GdipGetImageWidth(bitmap, &width);
  DllExports::GdipGetImageHeight(bitmap, &height);
  DllExports::GdipGetImagePixelFormat(bitmap, &format);
  GpRect all(0, 0, static_cast<INT>(width), static_cast<INT>(height));
  BitmapData data{};
  void* bits = nullptr;
  std::shared_ptr<WinImage> decoded;
  if (width && height && (decoded = NewWinImage(width, height, &bits)) &&
      DllExports::GdipBitmapLockBits(bitmap, &all, ImageLockModeRead, PixelFormat32bppPARGB, &data) == Ok) {
    auto* out = static_cast<std::uint8_t*>(bits);
    for (UINT y = 0; y < height; ++y)
      std::memcpy(out + y * width * 4, static_cast<const std::uint8_t*>(data.Scan0) + y * data.Stride, width * 4);
    DllExports::GdipBitmapUnlockBits(bitmap, &data);
    ::GdiFlush();
    image.width = static_cast<std::int32_t>(width);
    image.height = static_cast<std::int32_t>(height);
    // Fully opaque pixels blit faster without blending.
    image.hasAlpha = IsAlphaPixelFormat(format) &&
                     AnyTranslucent(static_cast<const std::uint32_t*>(bits), std::size_t{width} * height);
    image.pixels = decoded;
    ok = true;
  }
  DllExports::GdipDisposeImage(bitmap);
  return ok;
}

}  // namespace

SkinImage MakeSkinImage(std::int32_t width, std::int32_t height, const std::vector<std::uint32_t>& bgra) {
  SkinImage image;
  void* bits = nullptr;
  auto decoded = NewWinImage(width, height, &bits);
  if (!decoded || bgra.size() < std::size_t(width) * height) return image;
  std::memcpy(bits, bgra.data(), std::size_t(width) * height * 4);
  ::GdiFlush();
  image.width = width;
  image.height = height;
  image.hasAlpha = AnyTranslucent(bgra.data(), bgra.size());
  image.pixels = decoded;
  return image;
}

bool SavePng(HDC surface, const RECT& area, const std::wstring& path) {
  StartGdiplus();
  const int w = area.right - area.left, h = area.bottom - area.top;
  void* bits = nullptr;
  auto copy = NewWinImage(w, h, &bits);
  if (!copy) return false;
  ::BitBlt(copy->dc, 0, 0, w, h, surface, area.left, area.top, SRCCOPY);
  ::GdiFlush();
  GpBitmap* bitmap = nullptr;
  if (DllExports::GdipCreateBitmapFromHBITMAP(copy->bitmap, nullptr, &bitmap) != Ok) return false;
  const CLSID png = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
  const bool ok = DllExports::GdipSaveImageToFile(bitmap, path.c_str(), &png, nullptr) == Ok;
  DllExports::GdipDisposeImage(bitmap);
  return ok;
}

HFONT SkinFont(const wchar_t* name, HFONT fallback) {
  return static_cast<HFONT>(GetSkinAttributes().GetObject(name, L"", fallback));
}
HBRUSH SkinBrush(const wchar_t* name) { return static_cast<HBRUSH>(GetSkinAttributes().GetObject(name, L"", nullptr)); }
HPEN SkinPen(const wchar_t* name) { return static_cast<HPEN>(GetSkinAttributes().GetObject(name, L"", nullptr)); }
