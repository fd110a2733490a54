// The process-wide skin registry: named cells of compiled-in images, named
// fonts, brushes and pens, and named integers and strings. Windows and
// controls compose names from their skin prefix, an attribute and a state
// suffix, and ask here; they never hold coordinates or colours themselves.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "skin/skin_platform.h"

struct SkinAttributeBlock {
  std::map<std::wstring, std::int32_t> ints;
  std::map<std::wstring, std::wstring> strings;
};

struct SkinCell {
  std::wstring name;
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;
  std::int32_t imageIndex = -1;
  bool Drawable() const { return imageIndex != -1 && !name.empty(); }
  std::int32_t Width() const { return right - left; }
  std::int32_t Height() const { return bottom - top; }
  SkinRect Rect() const { return {left, top, right, bottom}; }
};

// DrawCell flags.
enum : unsigned {
  kCellNaturalWidth = 1,
  kCellNaturalHeight = 2,
  kCellNaturalSize = 3,
  kCellCentreVertically = 4,
  kCellCentreHorizontally = 8,
};
// DrawIconText icon placement.
enum : unsigned {
  kIconLeft = 1,
  kIconCentreHorizontally = 2,
  kIconTop = 8,
  kIconCentreVertically = 0x10,
};

// Where DrawIconText puts the icon and the text.
struct IconTextLayout {
  SkinRect icon;
  SkinRect text;
  unsigned textFormat = 0;
};
IconTextLayout LayOutIconText(std::int32_t iconWidth, std::int32_t iconHeight, std::int32_t textWidth,
                              const SkinRect& rect, unsigned iconFlags, unsigned textFormat);

class CSkinAttributes {
 public:
  explicit CSkinAttributes(std::unique_ptr<ISkinPlatform> platform);
  ~CSkinAttributes();
  CSkinAttributes(const CSkinAttributes&) = delete;
  CSkinAttributes& operator=(const CSkinAttributes&) = delete;

  void RegisterImage(int resource, const std::wstring& definition);
  // The second half of RegisterImage, for an image already decoded.
  void RegisterDecodedImage(SkinImage image, const std::wstring& definition);
  void SetObject(const std::wstring& name, SkinObject object);
  static std::int32_t& IntRef(SkinAttributeBlock& block, const std::wstring& name);
  static void SetString(SkinAttributeBlock& block, const std::wstring& name, const std::wstring& value);

  std::int32_t GetInt(const SkinAttributeBlock& block, const std::wstring& name, const std::wstring& suffix,
                      std::int32_t defaultValue) const;
  std::wstring GetString(const SkinAttributeBlock& block, const std::wstring& name, const std::wstring& suffix,
                         const std::wstring& defaultValue) const;
  SkinObject GetObject(const std::wstring& name, const std::wstring& suffix, SkinObject defaultValue) const;
  const SkinCell& GetCell(const std::wstring& name, const std::wstring& suffix = {}) const;
  const SkinCell& GetCell3(const std::wstring& first, const std::wstring& second, const std::wstring& third) const;

  // Own attributes first, then the global ones under the object's prefix.
  std::int32_t ResolveInt(const SkinAttributeBlock& own, const std::wstring& prefix, const std::wstring& name,
                          const std::wstring& suffix, std::int32_t defaultValue) const;
  std::wstring ResolveString(const SkinAttributeBlock& own, const std::wstring& prefix, const std::wstring& name,
                             const std::wstring& suffix, const std::wstring& defaultValue) const;

  bool DrawCell(SkinSurface surface, const SkinCell& cell, unsigned flags, std::int32_t left, std::int32_t top,
                std::int32_t right, std::int32_t bottom) const;
  bool DrawCellByName(SkinSurface surface, const std::wstring& name, const std::wstring& suffix, unsigned flags,
                      std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom) const;
  void DrawIconText(const SkinCell& cell, SkinSurface surface, const std::wstring& text, const SkinRect& rect,
                    unsigned iconFlags, unsigned textFormat) const;

  SkinAttributeBlock& Global() { return global_; }
  const SkinAttributeBlock& Global() const { return global_; }
  const std::map<std::int32_t, SkinImage>& Images() const { return images_; }
  const std::map<std::wstring, SkinCell>& Cells() const { return cells_; }
  const std::wstring& PanelWindowClass() const { return panelWindowClass_; }
  std::int32_t NextImageIndex() const { return nextImageIndex_; }
  ISkinPlatform& Platform() const { return *platform_; }

 private:
  std::unique_ptr<ISkinPlatform> platform_;
  SkinAttributeBlock global_;
  std::map<std::int32_t, SkinImage> images_;
  std::map<std::wstring, SkinCell> cells_;
  std::map<std::wstring, SkinObject> objects_;
  SkinCell empty_;
  std::wstring panelWindowClass_;
  std::int32_t nextImageIndex_ = 0;
};

// The one registry, made on first use with this build's drawing system.
CSkinAttributes& GetSkinAttributes();

// Parses a definition string into cells of an image of the given size.
void ParseSkinDefinition(const std::wstring& definition, std::int32_t imageIndex, std::int32_t width,
                         std::int32_t height, std::map<std::wstring, SkinCell>& cells);

// The source rectangle actually read from an image: cells may reach past
// its edge (image 170 does by one pixel).
SkinRect ClampToImage(const SkinRect& source, std::int32_t width, std::int32_t height);
