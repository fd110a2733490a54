#include "skin/scroll_logic.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr int kBar = 16;  // breadth of a bar; also its arrows' length

// A vertical bar whose track is `track` pixels long.
ScrollBarGeometry Vertical(int track, const ScrollInfo& info) {
  return LayoutScrollBar(true, kBar, track + 2 * kBar, &info);
}

TEST(ScrollLogic, ThumbSizeAndPosition) {
  struct Case {
    const char* name;
    ScrollInfo info;
    int track;
    int thumbLength;  // 0: no thumb
    int leadFromTrackStart;
  } cases[] = {
      {"page 10 of 0-99 at 45", {0, 99, 10, 45}, 200, 20, 90},
      {"at the top", {0, 99, 10, 0}, 200, 20, 0},
      {"at the last position", {0, 99, 10, 90}, 200, 20, 180},
      {"page of 1 in 0-999 is at least 6", {0, 999, 1, 0}, 100, 6, 0},
      {"tiny thumb at the end", {0, 999, 1, 999}, 100, 6, 94},
      {"exactly 6 stays 6", {0, 99, 3, 0}, 200, 6, 0},
      {"position past the end stops at the end", {0, 99, 10, 500}, 200, 20, 180},
      {"page covers the range: no thumb", {0, 99, 100, 0}, 200, 0, 0},
      {"page larger than the range: no thumb", {0, 9, 50, 0}, 200, 0, 0},
      {"range too large: no thumb", {INT32_MIN, INT32_MAX, 10, 0}, 200, 0, 0},
      {"range not starting at 0", {100, 199, 10, 145}, 200, 20, 90},
  };
  for (const Case& c : cases) {
    const ScrollBarGeometry bar = Vertical(c.track, c.info);
    EXPECT_EQ(bar.track, (ListRect{0, kBar, kBar, kBar + c.track})) << c.name;
    if (c.thumbLength == 0) {
      EXPECT_TRUE(bar.thumb.Empty()) << c.name;
      continue;
    }
    EXPECT_EQ(bar.thumb, (ListRect{0, kBar + c.leadFromTrackStart, kBar, kBar + c.leadFromTrackStart + c.thumbLength}))
        << c.name;
  }
}

TEST(ScrollLogic, PartsOfBothOrientations) {
  const ScrollInfo info{0, 99, 10, 0};
  const ScrollBarGeometry v = LayoutScrollBar(true, 16, 100, &info);
  EXPECT_EQ(v.upLeft, (ListRect{0, 0, 16, 16}));
  EXPECT_EQ(v.downRight, (ListRect{0, 84, 16, 100}));
  EXPECT_EQ(v.track, (ListRect{0, 16, 16, 84}));
  const ScrollBarGeometry h = LayoutScrollBar(false, 100, 16, &info);
  EXPECT_EQ(h.upLeft, (ListRect{0, 0, 16, 16}));
  EXPECT_EQ(h.downRight, (ListRect{84, 0, 100, 16}));
  EXPECT_EQ(h.track, (ListRect{16, 0, 84, 16}));
  EXPECT_EQ(h.thumb, (ListRect{16, 0, 22, 16}));  // 10 x 68 / 100 = 6
  EXPECT_TRUE(LayoutScrollBar(true, 16, 100, nullptr).thumb.Empty());
}

TEST(ScrollLogic, HitTestOrder) {
  const ScrollBarGeometry bar = Vertical(200, {0, 99, 10, 45});  // thumb 106..126
  struct Case {
    int y;
    ScrollPart part;
  } cases[] = {{0, kScrollPartUpLeft},   {15, kScrollPartUpLeft},   {16, kScrollPartTrack}, {105, kScrollPartTrack},
               {106, kScrollPartThumb},  {125, kScrollPartThumb},   {126, kScrollPartTrack}, {216, kScrollPartDownRight},
               {231, kScrollPartDownRight}, {232, kScrollPartNone}, {-1, kScrollPartNone}};
  for (const Case& c : cases) EXPECT_EQ(HitTestScrollBar(bar, 5, c.y), c.part) << c.y;
  EXPECT_EQ(HitTestScrollBar(bar, 16, 110), kScrollPartNone);
}

TEST(ScrollLogic, DragPosition) {
  const ScrollInfo info{0, 99, 10, 0};
  const ScrollBarGeometry bar = Vertical(200, info);  // thumb 20 long, 180 pixels of travel for 90 positions
  struct Case {
    int pointer, offset;
    std::int32_t position;
  } cases[] = {{16, 0, 0}, {106, 0, 45}, {116, 10, 45}, {196, 0, 90}, {400, 0, 90}, {0, 0, 0}, {17, 0, 0}, {18, 0, 1}};
  for (const Case& c : cases) EXPECT_EQ(ThumbDragPosition(bar, info, c.pointer, c.offset), c.position) << c.pointer;
}

TEST(ScrollLogic, ListViewClassName) {
  EXPECT_TRUE(IsListViewClass(L"SysListView32"));
  EXPECT_TRUE(IsListViewClass(L"syslistview32"));
  EXPECT_FALSE(IsListViewClass(L"ListBox"));
  EXPECT_FALSE(IsListViewClass(L"SysListView321"));
}

TEST(ScrollLogic, AutoRepeatTiming) {
  CScrollAutoRepeat repeat;
  const Tick start = 0xFFFFFF00u;  // wraps during the test
  EXPECT_FALSE(repeat.Fire(start));
  repeat.Start(start);
  EXPECT_EQ(repeat.GetState(), CScrollAutoRepeat::State::Delaying);
  EXPECT_EQ(repeat.MsUntilDue(start), 250u);
  EXPECT_FALSE(repeat.Fire(start + 249));
  EXPECT_EQ(repeat.MsUntilDue(start + 249), 1u);
  EXPECT_TRUE(repeat.Fire(start + 250));
  EXPECT_EQ(repeat.GetState(), CScrollAutoRepeat::State::Repeating);
  EXPECT_FALSE(repeat.Fire(start + 299));
  EXPECT_TRUE(repeat.Fire(start + 300));
  // A timer two periods late gives one repeat and the next 50 ms on.
  EXPECT_TRUE(repeat.Fire(start + 460));
  EXPECT_FALSE(repeat.Fire(start + 461));
  EXPECT_EQ(repeat.MsUntilDue(start + 461), 49u);
  repeat.Stop();
  EXPECT_FALSE(repeat.Fire(start + 2000));
  EXPECT_EQ(repeat.MsUntilDue(start + 2000), 0u);
}

// The owner: a list box or list view whose position the requests move.
class CFakeOwner : public IScrollBarHost {
 public:
  explicit CFakeOwner(ScrollInfo info) : info_(info) {}
  bool ReadScrollInfo(ScrollInfo& info) override {
    info = info_;
    return hasInfo_;
  }
  void SendScroll(int code, std::int32_t position) override {
    requests.push_back(code);
    const std::int32_t last = info_.maximum - static_cast<std::int32_t>(info_.page) + 1;
    std::int32_t& p = info_.position;
    switch (code) {
      case kScrollLineUp: --p; break;
      case kScrollLineDown: ++p; break;
      case kScrollPageUp: p -= static_cast<std::int32_t>(info_.page); break;
      case kScrollPageDown: p += static_cast<std::int32_t>(info_.page); break;
      case kScrollThumbPosition: p = position; break;
    }
    p = std::max(info_.minimum, std::min(p, last));
  }
  void ScrollListView(int dx, int dy) override {
    scrolls.push_back({dx, dy});
    info_.position += dy / kRowHeight;
  }
  int FirstItemHeight() override { return kRowHeight; }
  void Repaint() override { ++repaints; }
  void SetCapture(bool captured) override { this->captured = captured; }
  void ArmRepeatTimer(std::uint32_t ms) override { timer = ms; }

  static constexpr int kRowHeight = 17;
  ScrollInfo info_;
  bool hasInfo_ = true;
  std::vector<int> requests;
  std::vector<std::pair<int, int>> scrolls;
  int repaints = 0;
  bool captured = false;
  std::uint32_t timer = 0;
};

class ScrollBarModel : public ::testing::Test {
 protected:
  // 0-99, page 10, 200-pixel track: thumb 20 long at 16 + 2 x position.
  CFakeOwner owner_{{0, 99, 10, 0}};
  CScrollBarModel bar_{true, false, owner_};
  void SetUp() override { bar_.Resize(16, 232); }
};

TEST_F(ScrollBarModel, TrackPressPagesUntilThumbReachesPointer) {
  const Tick t0 = 1000;
  bar_.ButtonDown(5, 200, t0);  // well below the thumb at 16..36
  EXPECT_TRUE(owner_.captured);
  EXPECT_EQ(owner_.requests, (std::vector<int>{kScrollPageDown}));
  EXPECT_EQ(owner_.info_.position, 10);
  EXPECT_EQ(bar_.Pressed(), kScrollPartTrack);
  EXPECT_EQ(owner_.timer, 250u);

  bar_.RepeatTimer(t0 + 240);  // early: nothing yet, wait the rest
  EXPECT_EQ(owner_.requests.size(), 1u);
  EXPECT_EQ(owner_.timer, 10u);

  Tick t = t0 + 250;
  bar_.RepeatTimer(t);
  EXPECT_EQ(owner_.info_.position, 20);
  EXPECT_EQ(owner_.timer, 50u);
  // At position 80 the thumb spans 176..196, still above the pointer at 200;
  // at 90 it spans 196..216 and covers it.
  while (owner_.timer != 0 && t < t0 + 5000) {
    t += 50;
    bar_.RepeatTimer(t);
  }
  EXPECT_EQ(owner_.info_.position, 90);
  EXPECT_EQ(bar_.Hovered(), kScrollPartThumb);
  EXPECT_EQ(bar_.AutoRepeat().GetState(), CScrollAutoRepeat::State::Idle);
  // One immediate page, then one at 250 ms, then every 50 ms: eight more.
  EXPECT_EQ(owner_.requests.size(), 9u);
  EXPECT_EQ(t, t0 + 250 + 7 * 50 + 50);  // the last tick found the thumb there

  bar_.ButtonUp();
  EXPECT_FALSE(owner_.captured);
  EXPECT_EQ(bar_.Pressed(), kScrollPartNone);
}

TEST_F(ScrollBarModel, TrackAbovePagesUpAndArrowsRepeatLines) {
  owner_.info_.position = 50;
  bar_.Sync();               // thumb 116..136
  bar_.ButtonDown(5, 20, 0);  // above it
  EXPECT_EQ(owner_.requests.back(), kScrollPageUp);
  bar_.ButtonUp();
  owner_.requests.clear();

  bar_.ButtonDown(5, 225, 0);  // down arrow
  bar_.RepeatTimer(250);
  bar_.RepeatTimer(300);
  EXPECT_EQ(owner_.requests, (std::vector<int>{kScrollLineDown, kScrollLineDown, kScrollLineDown}));
  EXPECT_STREQ(bar_.PartSuffix(kScrollPartDownRight), "Down");
  bar_.ButtonUp();
  EXPECT_EQ(owner_.timer, 0u);
  bar_.RepeatTimer(350);
  EXPECT_EQ(owner_.requests.size(), 3u);

  bar_.ButtonDown(5, 3, 0);  // up arrow
  EXPECT_EQ(owner_.requests.back(), kScrollLineUp);
  bar_.MouseLeave();
  bar_.RepeatTimer(250);  // pressed part gone: the repeat ends
  EXPECT_EQ(owner_.requests.size(), 4u);
  EXPECT_EQ(owner_.timer, 0u);
}

TEST_F(ScrollBarModel, ThumbDragSendsPositions) {
  bar_.ButtonDown(5, 20, 0);  // on the thumb, 4 below its top
  EXPECT_EQ(bar_.Pressed(), kScrollPartThumb);
  EXPECT_TRUE(owner_.requests.empty());
  EXPECT_EQ(owner_.timer, 0u);
  bar_.MouseMove(5, 110);  // thumb top at 106 = position 45
  EXPECT_EQ(owner_.requests, (std::vector<int>{kScrollThumbPosition}));
  EXPECT_EQ(owner_.info_.position, 45);
  EXPECT_EQ(bar_.Geometry().thumb.top, 106);
  bar_.MouseMove(5, 500);
  EXPECT_EQ(owner_.info_.position, 90);
}

TEST(ScrollBarModelListView, DragScrollsByWholeRows) {
  CFakeOwner owner({0, 99, 10, 3});
  CScrollBarModel bar(true, true, owner);
  bar.Resize(16, 232);                 // thumb at 22..42
  bar.ButtonDown(5, 22, 0);            // drag offset 0
  bar.MouseMove(5, 16 + 2 * 40);       // position 40: 37 rows down
  ASSERT_EQ(owner.scrolls.size(), 1u);
  EXPECT_EQ(owner.scrolls[0], std::make_pair(0, 37 * CFakeOwner::kRowHeight));
  EXPECT_TRUE(owner.requests.empty());
  bar.MouseMove(5, 16 + 2 * 40);  // no change: nothing sent
  EXPECT_EQ(owner.scrolls.size(), 1u);

  CFakeOwner wide({0, 499, 100, 0});
  CScrollBarModel hbar(false, true, wide);
  hbar.Resize(216, 16);  // track 184, thumb 100 x 184 / 500 = 36
  hbar.ButtonDown(16, 5, 0);
  hbar.MouseMove(16 + 74, 5);  // 400 x 74 / 148 = 200 pixels
  ASSERT_EQ(wide.scrolls.size(), 1u);
  EXPECT_EQ(wide.scrolls[0], std::make_pair(200, 0));
}

TEST(ScrollBarModelListView, NoInformationMeansNoThumbAndNoPaging) {
  CFakeOwner owner({0, 99, 10, 0});
  owner.hasInfo_ = false;
  CScrollBarModel bar(true, false, owner);
  bar.Resize(16, 232);
  EXPECT_TRUE(bar.Geometry().thumb.Empty());
  bar.ButtonDown(5, 100, 0);
  EXPECT_TRUE(owner.requests.empty());
  EXPECT_EQ(owner.timer, 0u);
  bar.MouseMove(5, 150);
  EXPECT_TRUE(owner.requests.empty());
}

TEST_F(ScrollBarModel, HoverSuffixes) {
  bar_.MouseMove(5, 100);
  EXPECT_EQ(bar_.Hovered(), kScrollPartTrack);
  EXPECT_STREQ(bar_.PartSuffix(kScrollPartTrack), "Hovered");
  EXPECT_STREQ(bar_.PartSuffix(kScrollPartThumb), "");
  bar_.MouseMove(5, 20);
  EXPECT_STREQ(bar_.PartSuffix(kScrollPartThumb), "Hovered");
  bar_.ButtonDown(5, 20, 0);
  EXPECT_STREQ(bar_.PartSuffix(kScrollPartThumb), "Down");
  bar_.MouseLeave();
  EXPECT_STREQ(bar_.PartSuffix(kScrollPartThumb), "");
  EXPECT_EQ(bar_.Pressed(), kScrollPartNone);
}

TEST_F(ScrollBarModel, PaintPlan) {
  bar_.MouseMove(5, 20);  // over the thumb
  ScrollBarPaint paint = bar_.PaintPlan(16);
  EXPECT_EQ(paint.backgroundCell, "VScrollBarBackground");
  EXPECT_EQ(paint.track, (ListRect{0, 16, 16, 216}));
  ASSERT_EQ(paint.blocks.size(), 3u);
  EXPECT_EQ(paint.blocks[0].faceCell, "VScrollBarThumbBackground");
  EXPECT_EQ(paint.blocks[0].outer, (ListRect{0, 0, 16, 16}));
  EXPECT_EQ(paint.blocks[0].inner, (ListRect{1, 1, 15, 15}));
  EXPECT_EQ(paint.blocks[0].face, (ListRect{2, 2, 14, 14}));
  EXPECT_EQ(paint.blocks[2].faceCell, "VScrollBarThumbBackgroundHovered");
  EXPECT_EQ(paint.blocks[2].outer, (ListRect{0, 16, 16, 36}));
  EXPECT_EQ(paint.upLeftGlyph, "VScrollBarLeftUpArrow");
  EXPECT_EQ(paint.downRightGlyph, "VScrollBarRightDownArrow");
  EXPECT_TRUE(paint.drawGrip);
  EXPECT_EQ(paint.gripCell, "VScrollBarThumbHandler");
  EXPECT_EQ(paint.gripSuffix, "Hovered");
  EXPECT_FALSE(bar_.PaintPlan(21).drawGrip);  // a thumb shorter than the grip

  bar_.ButtonDown(5, 225, 0);
  paint = bar_.PaintPlan(16);
  EXPECT_EQ(paint.blocks[1].faceCell, "VScrollBarThumbBackgroundDown");
  EXPECT_EQ(paint.gripSuffix, "");
  bar_.ButtonUp();

  owner_.hasInfo_ = false;
  bar_.Sync();
  paint = bar_.PaintPlan(16);
  EXPECT_EQ(paint.blocks.size(), 2u);
  EXPECT_FALSE(paint.drawGrip);

  CFakeOwner wide({0, 9, 1, 0});
  CScrollBarModel hbar(false, false, wide);
  hbar.Resize(100, 16);
  EXPECT_EQ(hbar.PaintPlan(16).backgroundCell, "HScrollBarBackground");
  EXPECT_EQ(hbar.PaintPlan(16).blocks.back().faceCell, "HScrollBarThumbBackground");
}

}  // namespace
