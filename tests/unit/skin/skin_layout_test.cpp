#include "skin/skin_layout.h"

#include <gtest/gtest.h>

#include "fakes/fake_skin_platform.h"
#include "skin/registered_skin.h"

namespace {

// Where each piece lands once DrawCell has applied its flags.
std::map<std::wstring, SkinRect> Drawn(int width, int height) {
  auto fake = std::make_shared<CFakeSkinPlatform::Shared>();
  fake->resources[170] = {339, 71};
  CSkinAttributes skin(std::make_unique<CFakeSkinPlatform>(fake));
  RegisterSkin(skin);
  std::map<std::wstring, SkinRect> drawn;
  for (const FramePiece& piece : LayOutFrame(skin, width, height)) {
    const std::size_t before = fake->draws.size();
    skin.DrawCellByName(nullptr, piece.cell, L"", piece.flags, piece.destination.left, piece.destination.top,
                        piece.destination.right, piece.destination.bottom);
    if (fake->draws.size() > before) drawn[piece.cell] = fake->draws.back().destination;
  }
  return drawn;
}

TEST(SkinFrame, PiecesMeetWithoutGapsForSeveralWidths) {
  for (int width : {340, 425, 327, 600}) {
    const int height = 90 + width % 7;
    auto d = Drawn(width, height);
    ASSERT_EQ(d.size(), 9u) << width;
    EXPECT_EQ(d[L"WindowPictureBackground"], (SkinRect{0, 0, width, height}));
    EXPECT_EQ(d[L"WindowPictureTopLeft"], (SkinRect{0, 0, 300, 47}));
    EXPECT_EQ(d[L"WindowPictureTop"], (SkinRect{300, 0, width - 10, 47})) << width;
    // The right-hand cells reach one pixel past their image: that column is
    // left out, and the window region cuts it.
    EXPECT_EQ(d[L"WindowPictureTopRight"], (SkinRect{width - 10, 0, width - 1, 47})) << width;
    EXPECT_EQ(d[L"WindowPictureLeft"], (SkinRect{0, 47, 9, height - 11})) << width;
    EXPECT_EQ(d[L"WindowPictureRight"], (SkinRect{width - 15, 47, width - 1, height - 11})) << width;
    EXPECT_EQ(d[L"WindowPictureBottomLeft"], (SkinRect{0, height - 11, 10, height})) << width;
    EXPECT_EQ(d[L"WindowPictureBottom"], (SkinRect{10, height - 11, width - 15, height})) << width;
    EXPECT_EQ(d[L"WindowPictureBottomRight"], (SkinRect{width - 15, height - 11, width - 1, height})) << width;
  }
}

TEST(SkinFrame, NarrowerThanTheTopLeftPieceDrawsNoTop) {
  auto d = Drawn(200, 90);
  EXPECT_EQ(d.count(L"WindowPictureTop"), 0u);  // negative width: nothing
  EXPECT_EQ(d[L"WindowPictureTopRight"], (SkinRect{190, 0, 199, 47}));
}

TEST(SkinFrame, MissingFramePiecesLeaveOnlyTheBackgroundRequests) {
  auto fake = std::make_shared<CFakeSkinPlatform::Shared>();
  CSkinAttributes skin(std::make_unique<CFakeSkinPlatform>(fake));
  for (const FramePiece& piece : LayOutFrame(skin, 340, 90))
    EXPECT_FALSE(skin.DrawCellByName(nullptr, piece.cell, L"", piece.flags, piece.destination.left,
                                     piece.destination.top, piece.destination.right, piece.destination.bottom));
}

TEST(SkinFrame, CustomBackground) {
  struct Case {
    std::wstring spec;
    bool valid;
    std::wstring cell;
    SkinRect destination;
  };
  const std::vector<Case> cases = {
      {L"DlgVpnMain,0,0", true, L"WindowPictureDlgVpnMain", {0, 0, 0, 0}},
      {L"DlgVpnMain, 12", true, L"WindowPictureDlgVpnMain", {12, 0, 12, 0}},
      {L" Logo , 5 , 6 , 30 , 40 ", true, L"WindowPictureLogo", {5, 6, 35, 46}},
      {L"", false, L"", {}},
      {L",3,4", false, L"", {}},
  };
  for (const Case& c : cases) {
    auto piece = ParseCustomBackground(c.spec);
    ASSERT_EQ(piece.has_value(), c.valid);
    if (!piece) continue;
    EXPECT_EQ(piece->cell, c.cell);
    EXPECT_EQ(piece->destination, c.destination);
    EXPECT_EQ(piece->flags, unsigned{kCellNaturalSize});
  }
}

TEST(SkinCaption, ButtonsFromTheRightAndTheTitleUpToThem) {
  struct Case {
    const char* what;
    int width;
    std::vector<CaptionButtonSlot> slots;  // minimize, maximize/restore, close
    std::vector<SkinRect> buttons;
    SkinRect title;
  };
  const std::vector<Case> cases = {
      {"main window: minimize and close",
       327,
       {{27, 19, true}, {10, 10, false}, {29, 19, true}},
       {{263, 0, 290, 19}, {}, {290, 0, 319, 19}},
       {0, 0, 263, 25}},
      {"no caption buttons", 425, {{27, 19, false}, {10, 10, false}, {29, 19, false}}, {{}, {}, {}}, {0, 0, 417, 25}},
      {"unskinned maximize keeps 10x10",
       340,
       {{27, 19, true}, {10, 10, true}, {29, 19, true}},
       {{266, 0, 293, 19}, {293, 0, 303, 10}, {303, 0, 332, 19}},
       {0, 0, 266, 25}},
  };
  for (const Case& c : cases) {
    const CaptionLayout layout = LayOutCaption(c.width, c.slots, 0, 8, 0, 25);
    EXPECT_EQ(layout.buttons, c.buttons) << c.what;
    EXPECT_EQ(layout.title, c.title) << c.what;
  }
  // Margins and spacing move everything.
  const CaptionLayout spaced = LayOutCaption(300, {{20, 15, true}, {20, 15, true}}, 3, 5, 2, 30);
  EXPECT_EQ(spaced.buttons[1], (SkinRect{275, 3, 295, 18}));
  EXPECT_EQ(spaced.buttons[0], (SkinRect{253, 3, 273, 18}));
  EXPECT_EQ(spaced.title, (SkinRect{0, 0, 251, 30}));
}

TEST(SkinButtonItem, IconTextAlignmentAndPush) {
  struct Case {
    const char* what;
    ButtonItemInput in;
    std::optional<SkinRect> icon;
    SkinRect text;
    unsigned format;
  };
  const SkinRect r{0, 0, 120, 27};
  const std::vector<Case> cases = {
      {"plain centred", {r, false, false, 0, 0, 40, L"Center", L""}, std::nullopt, r,
       kTextSingleLine | kTextCenter | kTextVCenter},
      {"pushed shifts the text by one", {r, true, false, 0, 0, 40, L"Center", L""}, std::nullopt, {1, 1, 121, 28},
       kTextSingleLine | kTextCenter | kTextVCenter},
      {"link buttons align left", {r, false, false, 0, 0, 40, L"Left", L""}, std::nullopt, r,
       kTextSingleLine | kTextVCenter},
      {"icon: text left-aligned after it even when centred", {r, false, true, 18, 18, 50, L"Center", L""},
       SkinRect{26, 4, 44, 22}, {48, 0, 120, 27}, kTextSingleLine | kTextVCenter},
      {"icon pushed: both move by one", {r, true, true, 18, 18, 50, L"Center", L""}, SkinRect{27, 5, 45, 23},
       {49, 1, 121, 28}, kTextSingleLine | kTextVCenter},
      {"bottom: two pixels inside", {{0, 0, 55, 50}, false, false, 0, 0, 20, L"Center", L"Bottom"}, std::nullopt,
       {2, 2, 53, 48}, kTextSingleLine | kTextCenter | kTextBottom},
  };
  for (const Case& c : cases) {
    const ButtonItemLayout layout = LayOutButtonItem(c.in);
    EXPECT_EQ(layout.icon, c.icon) << c.what;
    EXPECT_EQ(layout.text, c.text) << c.what;
    EXPECT_EQ(layout.format, c.format) << c.what;
  }
}

TEST(SkinButtonItem, StateSuffixPrecedence) {
  EXPECT_EQ(ButtonStateSuffix(true, true, true), L"Disabled");
  EXPECT_EQ(ButtonStateSuffix(false, true, true), L"Pushed");
  EXPECT_EQ(ButtonStateSuffix(false, false, true), L"Hovered");
  EXPECT_EQ(ButtonStateSuffix(false, false, false), L"");
}

}  // namespace
