#include "skin/skin_layout.h"
#include "platform/text_parse.h"

#include <cwchar>
#include <cwctype>

namespace {

std::wstring Trim(const std::wstring& s) { return std::wstring(TrimAsciiSpace(std::wstring_view(s))); }

}  // namespace

std::vector<FramePiece> LayOutFrame(const CSkinAttributes& skin, std::int32_t w, std::int32_t h) {
  auto cell = [&](const wchar_t* part) -> const SkinCell& { return skin.GetCell(L"WindowPicture", part); };
  const SkinCell& topLeft = cell(L"TopLeft");
  const SkinCell& topRight = cell(L"TopRight");
  const SkinCell& bottomLeft = cell(L"BottomLeft");
  const SkinCell& bottomRight = cell(L"BottomRight");
  const SkinCell& bottom = cell(L"Bottom");
  const SkinCell& right = cell(L"Right");
  std::vector<FramePiece> pieces;
  pieces.push_back({L"WindowPictureBackground", {0, 0, w, h}, 0});
  pieces.push_back({L"WindowPictureTopLeft", {0, 0, 0, 0}, kCellNaturalSize});
  pieces.push_back({L"WindowPictureTopRight", {w - topRight.Width(), 0, w - topRight.Width(), 0}, kCellNaturalSize});
  pieces.push_back({L"WindowPictureBottomLeft", {0, h - bottomLeft.Height(), 0, h - bottomLeft.Height()},
                    kCellNaturalSize});
  pieces.push_back({L"WindowPictureBottomRight",
                    {w - bottomRight.Width(), h - bottomRight.Height(), w - bottomRight.Width(), h - bottomRight.Height()},
                    kCellNaturalSize});
  pieces.push_back({L"WindowPictureTop", {topLeft.Width(), 0, w - topRight.Width(), 0}, kCellNaturalHeight});
  pieces.push_back({L"WindowPictureBottom", {bottomLeft.Width(), h - bottom.Height(), w - bottomRight.Width(), h}, 0});
  pieces.push_back({L"WindowPictureLeft", {0, topLeft.Height(), 0, h - bottomLeft.Height()}, kCellNaturalWidth});
  pieces.push_back({L"WindowPictureRight", {w - right.Width(), topRight.Height(), w, h - bottomRight.Height()}, 0});
  return pieces;
}

std::optional<FramePiece> ParseCustomBackground(const std::wstring& definition) {
  std::vector<std::wstring> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = definition.find(L',', start);
    parts.push_back(Trim(definition.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start)));
    if (comma == std::wstring::npos) break;
    start = comma + 1;
  }
  if (parts.empty() || parts[0].empty()) return std::nullopt;
  auto number = [&](std::size_t k) -> std::int32_t {
    if (k >= parts.size()) return 0;
    return static_cast<std::int32_t>(ParseIntDecimal(parts[k], INT32_MIN, INT32_MAX));
  };
  const std::int32_t x = number(1), y = number(2), width = number(3), height = number(4);
  return FramePiece{L"WindowPicture" + parts[0], {x, y, x + width, y + height}, kCellNaturalSize};
}

CaptionLayout LayOutCaption(std::int32_t width, const std::vector<CaptionButtonSlot>& slots, std::int32_t marginTop,
                            std::int32_t marginRight, std::int32_t space, std::int32_t titleHeight) {
  CaptionLayout out;
  out.buttons.resize(slots.size());
  std::int32_t x = width - marginRight;
  for (std::size_t k = slots.size(); k-- > 0;) {
    if (!slots[k].shown) continue;
    x -= slots[k].width;
    out.buttons[k] = {x, marginTop, x + slots[k].width, marginTop + slots[k].height};
    x -= space;
  }
  out.title = {0, 0, x, titleHeight};
  return out;
}

ButtonItemLayout LayOutButtonItem(const ButtonItemInput& in) {
  ButtonItemLayout out;
  const SkinRect& r = in.item;
  out.text = r;
  if (in.hasIcon) {
    SkinRect icon;
    icon.left = r.left + (r.Width() - in.iconWidth - in.textWidth) / 2;
    icon.top = r.top + (r.Height() - in.iconHeight) / 2;
    icon.right = icon.left + in.iconWidth;
    icon.bottom = icon.top + in.iconHeight;
    out.text.left = icon.right + 4;
    // Pushed moves icon and text together by one pixel.
    if (in.pushed) icon = {icon.left + 1, icon.top + 1, icon.right + 1, icon.bottom + 1};
    out.icon = icon;
  }
  if (in.pushed) {
    out.text.left += 1;
    out.text.right += 1;
    out.text.top += 1;
    out.text.bottom += 1;
  }
  out.format = kTextSingleLine;
  if (!out.icon && in.align == L"Center") out.format |= kTextCenter;
  if (in.valign == L"Bottom") {
    out.format |= kTextBottom;
    out.text.left += 2;
    out.text.top += 2;
    out.text.right -= 2;
    out.text.bottom -= 2;
  } else {
    out.format |= kTextVCenter;
  }
  return out;
}

std::wstring ButtonStateSuffix(bool disabled, bool pushed, bool hovered) {
  if (disabled) return L"Disabled";
  if (pushed) return L"Pushed";
  if (hovered) return L"Hovered";
  return L"";
}
