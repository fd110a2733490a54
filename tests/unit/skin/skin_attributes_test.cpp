#include "skin/skin_attributes.h"

#include <gtest/gtest.h>

#include <set>

#include "fakes/fake_skin_platform.h"
#include "skin/registered_skin.h"

namespace {

struct Skin {
  std::shared_ptr<CFakeSkinPlatform::Shared> fake = std::make_shared<CFakeSkinPlatform::Shared>();
  std::unique_ptr<CSkinAttributes> attrs;
  Skin() { attrs = std::make_unique<CSkinAttributes>(std::make_unique<CFakeSkinPlatform>(fake)); }
  CSkinAttributes& operator*() { return *attrs; }
  CSkinAttributes* operator->() { return attrs.get(); }
};

// Sizes of the compiled-in images, by resource number.
const std::map<int, std::pair<int, int>> kImageSizes = {
    {162, {108, 19}}, {163, {116, 19}}, {167, {326, 464}}, {170, {339, 71}}, {161, {352, 56}},
    {192, {64, 80}},  {191, {64, 80}},  {169, {165, 250}}, {172, {24, 24}},  {175, {12, 20}},
    {176, {9, 27}},   {174, {26, 52}},  {178, {48, 24}},   {171, {48, 16}},  {173, {36, 36}},
    {177, {60, 16}},  {179, {14, 14}},  {181, {36, 36}},   {180, {60, 12}},  {193, {32, 16}},
};

void ExpectCell(const SkinCell& cell, const SkinRect& r, std::int32_t index, const std::wstring& what) {
  EXPECT_EQ(cell.Rect(), r) << std::string(what.begin(), what.end()) << " got " << cell.left << ',' << cell.top
                            << '-' << cell.right << ',' << cell.bottom;
  EXPECT_EQ(cell.imageIndex, index) << std::string(what.begin(), what.end());
}

struct GrammarCase {
  const char* what;
  std::wstring definition;
  std::int32_t width, height;
  std::vector<std::pair<std::wstring, SkinRect>> cells;  // exactly the cells that must exist
};

TEST(SkinDefinition, GrammarGivesTheCells) {
  const std::vector<GrammarCase> cases = {
      {"one fraction picks a column", L"HeaderCtrlColumnMiddle,1/3\n", 12, 20, {{L"HeaderCtrlColumnMiddle", {4, 0, 8, 20}}}},
      {"eighths", L"TabButtonMiddleInactive,1/8\n", 24, 24, {{L"TabButtonMiddleInactive", {3, 0, 6, 24}}}},
      {"plain numbers move left and top only", L"A,2,3\n", 10, 10, {{L"A", {2, 3, 10, 10}}}},
      {"fraction then plain top", L"A,1/2,5\n", 20, 20, {{L"A", {10, 5, 20, 20}}}},
      {"hex, plain width and height", L"A,0x10,0,8,8\n", 100, 100, {{L"A", {16, 0, 24, 8}}}},
      {"octal", L"A,010\n", 100, 100, {{L"A", {8, 0, 100, 100}}}},
      {"zero denominator is plain", L"A,1/0\n", 100, 100, {{L"A", {1, 0, 100, 100}}}},
      {"name alone is the whole image", L"A\n", 30, 40, {{L"A", {0, 0, 30, 40}}}},
      {"fraction width and height", L"A,0,0,1/2,1/4\n", 20, 40, {{L"A", {0, 0, 10, 10}}}},
      {"two fractions pick column and row", L"A,1/4,0/2\n", 352, 56, {{L"A", {88, 0, 176, 28}}}},
      {"negative plain number", L"A,-3\n", 10, 10, {{L"A", {-3, 0, 10, 10}}}},
      {"CR LF lines all register", L"A,0/2\r\nB,1/2\r\n", 10, 10, {{L"A", {0, 0, 5, 10}}, {L"B", {5, 0, 10, 10}}}},
      {"a line of only CR ends the definition", L"A,0/2\n\r\nB,1/2\n", 10, 10, {{L"A", {0, 0, 5, 10}}}},
      {"runs of line feeds are one, leading ones skipped", L"\n\nA\n\n\nB,1/2", 10, 10,
       {{L"A", {0, 0, 10, 10}}, {L"B", {5, 0, 10, 10}}}},
      {"runs of commas are one, blanks trimmed", L"A,, 1/2 ,,  3 \n", 10, 10, {{L"A", {5, 3, 10, 10}}}},
      {"a blank field ends the line", L"A,1/2, ,3\n", 10, 10, {{L"A", {5, 0, 10, 10}}}},
      {"fields after the fifth are ignored", L"A,1,2,3,4,1/2,7\n", 10, 10, {{L"A", {1, 2, 4, 6}}}},
      {"the later definition wins", L"A,0/2\nA,1/2\n", 10, 10, {{L"A", {5, 0, 10, 10}}}},
      {"reading stops at a stray character", L"A,5px,2q\n", 10, 10, {{L"A", {5, 2, 10, 10}}}},
      {"nothing after the last line feed", L"A", 10, 10, {{L"A", {0, 0, 10, 10}}}},
  };
  for (const GrammarCase& c : cases) {
    std::map<std::wstring, SkinCell> cells;
    ParseSkinDefinition(c.definition, 7, c.width, c.height, cells);
    EXPECT_EQ(cells.size(), c.cells.size()) << c.what;
    for (const auto& [name, rect] : c.cells) {
      auto it = cells.find(name);
      ASSERT_NE(it, cells.end()) << c.what;
      EXPECT_EQ(it->second.Rect(), rect) << c.what << ": " << it->second.left << ',' << it->second.top << '-'
                                         << it->second.right << ',' << it->second.bottom;
      EXPECT_EQ(it->second.imageIndex, 7) << c.what;
    }
  }
}

TEST(SkinDefinition, FirstImageStringIsExactlyAsRegistered) {
  EXPECT_EQ(RegisteredSkinImages().at(0).definition,
            L"SystemButtonMinimize,0/4\nSystemButtonMinimizePushed,2/4\nSystemButtonMinimizeHovered,1/4\n");
}

// Every cell of the registered skin, written from the image table rather than
// from the definition strings, so a mistyped line shows up here.
std::vector<std::tuple<std::wstring, SkinRect, int>> ExpectedRegisteredCells() {
  std::vector<std::tuple<std::wstring, SkinRect, int>> e = {
      {L"SystemButtonMinimize", {0, 0, 27, 19}, 0}, {L"SystemButtonMinimizePushed", {54, 0, 81, 19}, 0},
      {L"SystemButtonMinimizeHovered", {27, 0, 54, 19}, 0},
      {L"SystemButtonClose", {0, 0, 29, 19}, 1}, {L"SystemButtonClosePushed", {58, 0, 87, 19}, 1},
      {L"SystemButtonCloseHovered", {29, 0, 58, 19}, 1},
      {L"WindowPictureDlgVpnMain", {0, 0, 326, 464}, 2},
      {L"WindowPictureTopLeft", {0, 0, 300, 47}, 3}, {L"WindowPictureTop", {300, 0, 330, 47}, 3},
      {L"WindowPictureTopRight", {330, 0, 340, 47}, 3}, {L"WindowPictureLeft", {0, 47, 9, 61}, 3},
      {L"WindowPictureRight", {325, 47, 340, 61}, 3}, {L"WindowPictureBottomLeft", {0, 60, 10, 71}, 3},
      {L"WindowPictureBottom", {14, 60, 114, 71}, 3}, {L"WindowPictureBottomRight", {325, 60, 340, 71}, 3},
      {L"WindowPictureBackground", {14, 50, 19, 55}, 3},
      {L"Button", {0, 0, 88, 28}, 4}, {L"ButtonHovered", {88, 0, 176, 28}, 4}, {L"ButtonPushed", {176, 0, 264, 28}, 4},
      {L"ButtonDisabled", {264, 0, 352, 28}, 4}, {L"CancelButton", {0, 28, 88, 56}, 4},
      {L"CancelButtonHovered", {88, 28, 176, 56}, 4}, {L"CancelButtonPushed", {176, 28, 264, 56}, 4},
      {L"CancelButtonDisabled", {264, 28, 352, 56}, 4},
      {L"TabButtonLeftInactive", {0, 0, 6, 24}, 8}, {L"TabButtonMiddleInactive", {3, 0, 6, 24}, 8},
      {L"TabButtonRightInactive", {6, 0, 12, 24}, 8}, {L"TabButtonLeftActive", {12, 0, 18, 24}, 8},
      {L"TabButtonMiddleActive", {15, 0, 18, 24}, 8}, {L"TabButtonRightActive", {18, 0, 24, 24}, 8},
      {L"HeaderCtrlColumnLeft", {0, 0, 4, 20}, 9}, {L"HeaderCtrlColumnMiddle", {4, 0, 8, 20}, 9},
      {L"HeaderCtrlColumnRight", {8, 0, 12, 20}, 9},
      {L"HeaderPanelTitleLeft", {0, 0, 3, 27}, 10}, {L"HeaderPanelTitleMiddle", {3, 0, 6, 27}, 10},
      {L"HeaderPanelTitleRight", {6, 0, 9, 27}, 10},
      {L"CheckBoxChecked", {0, 0, 13, 13}, 11}, {L"CheckBoxCheckedHovered", {0, 13, 13, 26}, 11},
      {L"CheckBoxCheckedPushed", {0, 26, 13, 39}, 11}, {L"CheckBoxCheckedDisabled", {0, 39, 13, 52}, 11},
      {L"CheckBoxUnchecked", {13, 0, 26, 13}, 11}, {L"CheckBoxUncheckedHovered", {13, 13, 26, 26}, 11},
      {L"CheckBoxUncheckedPushed", {13, 13, 26, 26}, 11}, {L"CheckBoxUncheckedDisabled", {13, 0, 26, 13}, 11},
      {L"CheckBoxIndeterminate", {13, 26, 26, 39}, 11}, {L"CheckBoxIndeterminateHovered", {13, 13, 26, 26}, 11},
      {L"CheckBoxIndeterminatePushed", {13, 26, 26, 39}, 11},
      {L"CheckBoxIndeterminateDisabled", {13, 0, 26, 13}, 11},
      {L"FlagChina", {0, 0, 16, 16}, 13}, {L"FlagAsia", {16, 0, 32, 16}, 13}, {L"FlagUSA", {32, 0, 48, 16}, 13},
      {L"IconConnect", {0, 0, 18, 18}, 14}, {L"IconDisconnect", {18, 0, 36, 18}, 14},
      {L"IconConnectDisabled", {0, 18, 18, 36}, 14}, {L"IconDisconnectDisabled", {18, 18, 36, 36}, 14},
      {L"IconVpnPolicyRoute", {0, 0, 20, 16}, 15}, {L"IconVpnPolicyType", {20, 0, 40, 16}, 15},
      {L"IconVpnPolicyRefresh", {40, 0, 60, 16}, 15},
      {L"IconTipInfo", {0, 0, 14, 14}, 16}, {L"IconOnlineUpdate", {0, 0, 36, 36}, 17},
      {L"IconSpeedTestGood", {0, 0, 12, 12}, 18}, {L"IconSpeedTestNormal", {12, 0, 24, 12}, 18},
      {L"IconSpeedTestBad", {24, 0, 36, 12}, 18}, {L"IconSpeedTestTimeout", {36, 0, 48, 12}, 18},
      {L"IconSpeedTestTesting", {48, 0, 60, 12}, 18},
      {L"IconVpnAppStatusActive", {0, 0, 16, 16}, 19}, {L"IconVpnAppStatusInactive", {16, 0, 32, 16}, 19},
  };
  const wchar_t* const scrollRows[] = {L"LeftUpArrow", L"RightDownArrow", L"ThumbBackground", L"ThumbHandler"};
  for (int bar = 0; bar < 2; ++bar) {
    const std::wstring prefix = bar == 0 ? L"VScrollBar" : L"HScrollBar";
    for (int k = 0; k < 4; ++k) {
      const wchar_t* const states[] = {L"", L"Hovered", L"Down"};
      for (int j = 0; j < 3; ++j)
        e.emplace_back(prefix + scrollRows[k] + states[j], SkinRect{16 * j, 16 * k, 16 * j + 16, 16 * k + 16}, 5 + bar);
    }
    e.emplace_back(prefix + L"Background", SkinRect{0, 64, 16, 80}, 5 + bar);
  }
  const wchar_t* const web[] = {L"ButtonReg", L"ButtonPurchase", L"ButtonFreeTrial", L"ButtonHelp", L"ButtonSupport"};
  for (int k = 0; k < 5; ++k) {
    const wchar_t* const states[] = {L"", L"Hovered", L"Pushed"};
    for (int j = 0; j < 3; ++j)
      e.emplace_back(std::wstring(web[k]) + states[j], SkinRect{55 * j, 50 * k, 55 * j + 55, 50 * k + 50}, 7);
  }
  const wchar_t* const radioStates[] = {L"", L"Hovered", L"Pushed", L"Disabled"};
  for (int k = 0; k < 2; ++k)
    for (int j = 0; j < 4; ++j)
      e.emplace_back(std::wstring(k == 0 ? L"RadioBoxUnchecked" : L"RadioBoxChecked") + radioStates[j],
                     SkinRect{12 * j, 12 * k, 12 * j + 12, 12 * k + 12}, 12);
  return e;
}

Skin RegisteredSkin() {
  Skin skin;
  for (const auto& [resource, size] : kImageSizes) skin.fake->resources[resource] = size;
  RegisterSkin(*skin);
  return skin;
}

TEST(RegisteredSkin, EveryLineGivesItsCell) {
  Skin skin = RegisteredSkin();
  const auto expected = ExpectedRegisteredCells();
  EXPECT_EQ(skin->Cells().size(), expected.size());
  for (const auto& [name, rect, index] : expected) ExpectCell(skin->GetCell(name), rect, index, name);
  ASSERT_EQ(skin->Images().size(), 20u);
  EXPECT_EQ(skin->NextImageIndex(), 20);
  int index = 0;
  for (const SkinImageEntry& entry : RegisteredSkinImages()) {
    EXPECT_EQ(skin->Images().at(index).width, kImageSizes.at(entry.resource).first) << entry.resource;
    ++index;
  }
}

TEST(RegisteredSkin, ColoursStringsAndCursor) {
  Skin skin = RegisteredSkin();
  const SkinAttributeBlock& g = skin->Global();
  EXPECT_EQ(g.ints.at(L"ButtonTextColor"), 0x00FFFFFF);
  EXPECT_EQ(g.ints.at(L"CancelButtonTextColor"), 0x00865600);
  EXPECT_EQ(g.ints.at(L"LinkButtonTextColorHovered"), 0x000453EA);
  EXPECT_EQ(g.ints.at(L"LinkButtonTextColorPushed"), 0x000453EA);
  EXPECT_EQ(g.ints.at(L"LinkButtonCursor"), 0x10013);
  EXPECT_EQ(g.strings.at(L"LinkButtonAlign"), L"Left");
  // Sizes the skin window reads are left to their defaults.
  EXPECT_EQ(g.ints.count(L"WindowTitleHeight"), 0u);
  EXPECT_EQ(g.ints.count(L"SystemButtonMarginRight"), 0u);
}

TEST(RegisteredSkin, MissingImageTakesNoIndexAndUndecodableKeepsIt) {
  Skin skin;
  skin.fake->resources[163] = {116, 19};
  skin.fake->resources[170] = {-1, -1};  // there, but does not decode
  skin->RegisterImage(162, L"SystemButtonMinimize,0/4\n");
  skin->RegisterImage(163, L"SystemButtonClose,0/4\n");
  skin->RegisterImage(170, L"WindowPictureTop,300,0,30,47\n");
  EXPECT_FALSE(skin->GetCell(L"SystemButtonMinimize").Drawable());
  EXPECT_EQ(skin->GetCell(L"SystemButtonMinimize").Rect(), (SkinRect{0, 0, 0, 0}));
  ExpectCell(skin->GetCell(L"SystemButtonClose"), {0, 0, 29, 19}, 0, L"close takes index 0");
  const SkinCell& top = skin->GetCell(L"WindowPictureTop");
  EXPECT_EQ(top.imageIndex, 1);
  EXPECT_EQ(skin->Images().at(1).width, 0);
  EXPECT_EQ(skin->NextImageIndex(), 2);
  // An undecodable image's cell draws nothing.
  EXPECT_FALSE(skin->DrawCell(nullptr, top, kCellNaturalSize, 0, 0, 0, 0));
  EXPECT_TRUE(skin.fake->draws.empty());
}

TEST(SkinLookup, FallbackChains) {
  Skin skin;
  SkinAttributeBlock& g = skin->Global();
  CSkinAttributes::IntRef(g, L"LinkButtonTextColorHovered") = 11;
  CSkinAttributes::IntRef(g, L"LinkButtonTextColor") = 12;
  CSkinAttributes::SetString(g, L"LinkButtonAlign", L"Left");
  CSkinAttributes::SetString(g, L"LinkButtonAlign", L"Right");  // replaced

  EXPECT_EQ(skin->GetInt(g, L"LinkButtonTextColor", L"Hovered", -1), 11);
  EXPECT_EQ(skin->GetInt(g, L"LinkButtonTextColor", L"Pushed", -1), 12);
  EXPECT_EQ(skin->GetInt(g, L"Nothing", L"Pushed", -1), -1);
  EXPECT_EQ(skin->GetString(g, L"LinkButtonAlign", L"Hovered", L"x"), L"Right");
  EXPECT_EQ(skin->GetString(g, L"linkbuttonalign", L"", L"x"), L"x");  // names are case-sensitive

  SkinAttributeBlock own;
  // Nothing own: the global prefix+name+suffix, then prefix+name, then the default.
  EXPECT_EQ(skin->ResolveInt(own, L"LinkButton", L"TextColor", L"Hovered", -1), 11);
  EXPECT_EQ(skin->ResolveInt(own, L"LinkButton", L"TextColor", L"", -1), 12);
  EXPECT_EQ(skin->ResolveInt(own, L"Button", L"TextColor", L"Hovered", -1), -1);
  // An own stateless value gives way to the global value of the state (a
  // hovered link is orange whatever its own colour), but wins otherwise.
  CSkinAttributes::IntRef(own, L"TextColor") = 5375;
  EXPECT_EQ(skin->ResolveInt(own, L"LinkButton", L"TextColor", L"Hovered", -1), 11);
  EXPECT_EQ(skin->ResolveInt(own, L"LinkButton", L"TextColor", L"", -1), 5375);
  EXPECT_EQ(skin->ResolveInt(own, L"LinkButton", L"TextColor", L"Disabled", -1), 5375);
  CSkinAttributes::IntRef(own, L"TextColorHovered") = 7;
  EXPECT_EQ(skin->ResolveInt(own, L"LinkButton", L"TextColor", L"Hovered", -1), 7);
  EXPECT_EQ(skin->ResolveString(own, L"LinkButton", L"Align", L"", L"Center"), L"Right");
  CSkinAttributes::SetString(own, L"Align", L"Center");
  EXPECT_EQ(skin->ResolveString(own, L"LinkButton", L"Align", L"", L""), L"Center");

  // IntRef inserts 0 for an absent name.
  SkinAttributeBlock b;
  EXPECT_EQ(CSkinAttributes::IntRef(b, L"MinimizeBox"), 0);
  EXPECT_EQ(b.ints.count(L"MinimizeBox"), 1u);

  SkinObject font = static_cast<CFakeSkinPlatform&>(skin->Platform()).Make();
  skin->SetObject(L"LinkButtonFontHovered", font);
  int fallback = 0;
  EXPECT_EQ(skin->GetObject(L"LinkButtonFont", L"Hovered", &fallback), font);
  EXPECT_EQ(skin->GetObject(L"LinkButtonFont", L"Pushed", &fallback), &fallback);
}

TEST(SkinLookup, CellsHaveNoPlainFallbackButGetCell3Has) {
  Skin skin = RegisteredSkin();
  EXPECT_EQ(skin->GetCell3(L"CheckBox", L"Unchecked", L"Disabled").name, L"CheckBoxUncheckedDisabled");
  EXPECT_EQ(skin->GetCell3(L"CheckBox", L"Unchecked", L"Sideways").name, L"CheckBoxUnchecked");
  EXPECT_FALSE(skin->GetCell3(L"Nope", L"Unchecked", L"").Drawable());
  EXPECT_EQ(skin->GetCell(L"Button", L"Hovered").name, L"ButtonHovered");
  EXPECT_FALSE(skin->GetCell(L"LinkButton", L"Hovered").Drawable());
  const SkinCell& empty = skin->GetCell(L"SystemButtonMaximize");
  EXPECT_EQ(empty.imageIndex, -1);
  EXPECT_TRUE(empty.name.empty());
  EXPECT_EQ(&empty, &skin->GetCell(L"SystemButtonRestore"));  // the one empty cell
}

TEST(SkinObjects, SharedObjectsAreReleasedOnce) {
  auto fake = std::make_shared<CFakeSkinPlatform::Shared>();
  SkinObject buttonFont = nullptr;
  {
    CSkinAttributes skin(std::make_unique<CFakeSkinPlatform>(fake));
    RegisterSkin(skin);
    buttonFont = skin.GetObject(L"ButtonFont", L"", nullptr);
    ASSERT_NE(buttonFont, nullptr);
    EXPECT_EQ(skin.GetObject(L"CancelButtonFont", L"", nullptr), buttonFont);
    EXPECT_EQ(skin.GetObject(L"ButtonHelpFont", L"", nullptr), skin.GetObject(L"ButtonRegFont", L"", nullptr));
    EXPECT_TRUE(fake->releases.empty());
  }
  // Six fonts, five brushes, five pens: each released exactly once.
  EXPECT_EQ(fake->created.size(), 16u);
  EXPECT_EQ(fake->releases.size(), 16u);
  for (SkinObject created : fake->created) EXPECT_EQ(fake->releases[created], 1);
  EXPECT_EQ(fake->releases[buttonFont], 1);
}

TEST(SkinObjects, ReplacingAnObjectReleasesTheOldOneUnlessShared) {
  auto fake = std::make_shared<CFakeSkinPlatform::Shared>();
  CSkinAttributes skin(std::make_unique<CFakeSkinPlatform>(fake));
  auto& platform = static_cast<CFakeSkinPlatform&>(skin.Platform());
  SkinObject a = platform.Make(), b = platform.Make(), c = platform.Make();
  skin.SetObject(L"One", a);
  skin.SetObject(L"Two", a);
  skin.SetObject(L"One", b);  // "Two" still holds a
  EXPECT_EQ(fake->releases.count(a), 0u);
  skin.SetObject(L"Two", c);  // now nobody holds a
  EXPECT_EQ(fake->releases[a], 1);
  skin.SetObject(L"Two", c);  // the same object again is no release
  EXPECT_EQ(fake->releases.count(c), 0u);
}

struct DrawCase {
  const char* what;
  SkinRect cell;
  unsigned flags;
  SkinRect destination;
  bool drawn;
  SkinRect drawnInto;
  SkinRect source;
};

TEST(SkinDrawCell, Geometry) {
  const std::vector<DrawCase> cases = {
      {"centred horizontally loses the odd pixel", {0, 0, 27, 19}, kCellCentreHorizontally, {0, 0, 100, 19}, true,
       {37, 0, 63, 19}, {0, 0, 27, 19}},
      {"centred vertically", {0, 0, 20, 11}, kCellCentreVertically, {0, 0, 20, 30}, true, {0, 10, 20, 20}, {0, 0, 20, 11}},
      {"natural size from a point", {10, 5, 30, 20}, kCellNaturalSize, {7, 8, 7, 8}, true, {7, 8, 27, 23}, {10, 5, 30, 20}},
      {"natural width only when left equals right", {0, 0, 20, 10}, kCellNaturalWidth, {5, 0, 9, 40}, true,
       {5, 0, 9, 40}, {0, 0, 20, 10}},
      {"stretched", {0, 0, 5, 5}, 0, {0, 0, 200, 100}, true, {0, 0, 200, 100}, {0, 0, 5, 5}},
      {"negative width draws nothing", {0, 0, 5, 5}, 0, {10, 0, 9, 5}, false, {}, {}},
      {"negative height draws nothing", {0, 0, 5, 5}, 0, {0, 10, 5, 9}, false, {}, {}},
      {"a cell past the image edge reads only the image", {330, 0, 340, 47}, kCellNaturalSize, {330, 0, 330, 0}, true,
       {330, 0, 339, 47}, {330, 0, 339, 47}},
      {"stretched past the edge loses its share", {325, 47, 340, 61}, 0, {0, 0, 30, 140}, true, {0, 0, 28, 140},
       {325, 47, 339, 61}},
      {"past the bottom and the left", {-2, 60, 10, 72}, kCellNaturalSize, {0, 0, 0, 0}, true, {2, 0, 12, 11},
       {0, 60, 10, 71}},
  };
  for (const DrawCase& c : cases) {
    Skin skin;
    skin.fake->resources[1] = {339, 71};
    skin->RegisterImage(1, L"X\n");
    SkinCell cell = skin->GetCell(L"X");
    cell.left = c.cell.left, cell.top = c.cell.top, cell.right = c.cell.right, cell.bottom = c.cell.bottom;
    const bool ok =
        skin->DrawCell(nullptr, cell, c.flags, c.destination.left, c.destination.top, c.destination.right,
                       c.destination.bottom);
    EXPECT_EQ(ok, c.drawn) << c.what;
    if (!c.drawn) {
      EXPECT_TRUE(skin.fake->draws.empty()) << c.what;
      continue;
    }
    ASSERT_EQ(skin.fake->draws.size(), 1u) << c.what;
    EXPECT_EQ(skin.fake->draws[0].destination, c.drawnInto) << c.what;
    EXPECT_EQ(skin.fake->draws[0].source, c.source) << c.what;
  }
}

TEST(SkinDrawCell, EmptyCellDrawsNothing) {
  Skin skin;
  EXPECT_FALSE(skin->DrawCellByName(nullptr, L"Button", L"", kCellNaturalSize, 0, 0, 0, 0));
  SkinCell nameless;
  nameless.imageIndex = 0;
  EXPECT_FALSE(skin->DrawCell(nullptr, nameless, 0, 0, 0, 10, 10));
}

TEST(SkinDrawIconText, IconBesideText) {
  struct Case {
    const char* what;
    unsigned iconFlags, format;
    SkinRect rect;
    SkinRect icon, text;
    unsigned drawnFormat;
  };
  // A 14×14 icon and a 5-character text 30 pixels wide.
  const std::vector<Case> cases = {
      {"top left, word-wrapped", kIconLeft | kIconTop, kTextWordBreak, {10, 20, 200, 60}, {10, 20, 24, 34},
       {28, 20, 200, 60}, kTextWordBreak},
      {"centred both ways", kIconCentreHorizontally | kIconCentreVertically, 0, {0, 0, 100, 27}, {26, 6, 40, 20},
       {44, 0, 100, 27}, kTextSingleLine | kTextVCenter},
  };
  for (const Case& c : cases) {
    Skin skin;
    skin.fake->resources[1] = {14, 14};
    skin->RegisterImage(1, L"IconTipInfo,0/1\n");
    skin->DrawIconText(skin->GetCell(L"IconTipInfo"), nullptr, L"Hello", c.rect, c.iconFlags, c.format);
    ASSERT_EQ(skin.fake->texts.size(), 1u) << c.what;
    EXPECT_EQ(skin.fake->texts[0].area, c.text) << c.what;
    EXPECT_EQ(skin.fake->texts[0].format, c.drawnFormat) << c.what;
    ASSERT_EQ(skin.fake->draws.size(), 1u) << c.what;
    EXPECT_EQ(skin.fake->draws[0].destination, c.icon) << c.what;
  }
}

TEST(SkinRegistry, PanelClassIsRegisteredAtConstruction) {
  Skin skin;
  EXPECT_EQ(skin->PanelWindowClass(), L"FakePanel");
  EXPECT_EQ(skin->NextImageIndex(), 0);
}

}  // namespace
