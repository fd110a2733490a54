// Linux has no skinned windows: a platform that loads nothing and draws
// nothing, so the portable registry links and behaves as with no images.
#include "skin/skin_platform.h"

namespace {

class CBlankSkinPlatform : public ISkinPlatform {
 public:
  bool LoadImageResource(int, SkinImage&) override { return false; }
  bool DrawImage(SkinSurface, const SkinImage&, const SkinRect&, const SkinRect&) override { return false; }
  std::int32_t TextWidth(SkinSurface, const std::wstring&) override { return 0; }
  void DrawText(SkinSurface, const std::wstring&, const SkinRect&, unsigned) override {}
  SkinObject CreateFont(std::int32_t, std::int32_t, bool, const std::wstring&) override { return nullptr; }
  SkinObject CreateSolidBrush(std::uint32_t) override { return nullptr; }
  SkinObject CreatePen(std::uint32_t) override { return nullptr; }
  SkinObject CreateNullBrush() override { return nullptr; }
  void ReleaseObject(SkinObject) override {}
  std::int32_t HandCursor() override { return 0; }
  std::wstring RegisterPanelClass() override { return L""; }
};

}  // namespace

std::unique_ptr<ISkinPlatform> CreateSkinPlatform() { return std::make_unique<CBlankSkinPlatform>(); }
