// The skin the client registers at start-up: twenty compiled-in images with
// their cells, the fonts, brushes, pens, colours and strings.
#pragma once
#include <string>
#include <vector>

class CSkinAttributes;

struct SkinImageEntry {
  int resource;
  std::wstring definition;
};

// The twenty images in registration order (the position is the image index).
const std::vector<SkinImageEntry>& RegisteredSkinImages();

void RegisterSkin(CSkinAttributes& skin);
