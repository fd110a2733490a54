// Geometry of the skinned window and controls, kept apart from the drawing so
// that it can be checked without a window system.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "skin/skin_attributes.h"

// One frame piece: the cell "WindowPicture" + part, drawn with DrawCell.
struct FramePiece {
  std::wstring cell;
  SkinRect destination;
  unsigned flags = 0;
};
// The background, four corners and four edges of a W×H window, in drawing order.
std::vector<FramePiece> LayOutFrame(const CSkinAttributes& skin, std::int32_t width, std::int32_t height);

// "Name,x,y[,width,height]" → the cell "WindowPicture" + name and where it goes.
std::optional<FramePiece> ParseCustomBackground(const std::wstring& definition);

// Caption buttons, placed from the right edge leftwards.
struct CaptionButtonSlot {
  std::int32_t width = 10, height = 10;
  bool shown = false;
};
struct CaptionLayout {
  std::vector<SkinRect> buttons;  // one per slot; empty rectangle when not shown
  SkinRect title;
};
CaptionLayout LayOutCaption(std::int32_t width, const std::vector<CaptionButtonSlot>& slots,
                            std::int32_t marginTop, std::int32_t marginRight, std::int32_t space,
                            std::int32_t titleHeight);

// A push button's item: where the icon and the text go and how the text is set.
struct ButtonItemInput {
  SkinRect item;
  bool pushed = false;
  bool hasIcon = false;
  std::int32_t iconWidth = 0, iconHeight = 0;
  std::int32_t textWidth = 0;
  std::wstring align = L"Center";
  std::wstring valign;
};
struct ButtonItemLayout {
  std::optional<SkinRect> icon;
  SkinRect text;
  unsigned format = 0;
};
ButtonItemLayout LayOutButtonItem(const ButtonItemInput& in);

// The state suffix of a push button or box.
std::wstring ButtonStateSuffix(bool disabled, bool pushed, bool hovered);
