#include "skin/scroll_logic.h"

#include <algorithm>
#include <climits>

#include "platform/strings.h"
#include "platform/text_parse.h"

namespace {

// Ticks wrap; a due time is never more than a few hundred ms away.
std::int32_t TicksPast(Tick now, Tick due) { return static_cast<std::int32_t>(now - due); }

}  // namespace

ScrollBarGeometry LayoutScrollBar(bool vertical, int w, int h, const ScrollInfo* info) {
  ScrollBarGeometry bar;
  bar.vertical = vertical;
  int trackStart = 0;
  int trackEnd = 0;
  if (vertical) {
    bar.upLeft = {0, 0, w, w};
    bar.downRight = {0, h - w, w, h};
    bar.track = {0, w, w, h - w};
    trackStart = bar.track.top;
    trackEnd = bar.track.bottom;
  } else {
    bar.upLeft = {0, 0, h, h};
    bar.downRight = {w - h, 0, w, h};
    bar.track = {h, 0, w - h, h};
    trackStart = bar.track.left;
    trackEnd = bar.track.right;
  }
  if (info == nullptr) return bar;
  const std::int64_t range = static_cast<std::int64_t>(info->maximum) - info->minimum;
  const std::int64_t steps = range - static_cast<std::int64_t>(info->page) + 1;
  if (range >= INT32_MAX || steps <= 0) return bar;
  const std::int64_t trackLength = trackEnd - trackStart;
  const std::int64_t thumbLength =
      std::max<std::int64_t>(kScrollMinThumb, static_cast<std::int64_t>(info->page) * trackLength / (range + 1));
  // Measured from the minimum, so a range that does not start at 0 still
  // puts the thumb inside the track.
  const std::int64_t offset = static_cast<std::int64_t>(info->position) - info->minimum;
  std::int64_t lead = trackStart + (trackLength - thumbLength) * offset / steps;
  lead = std::min<std::int64_t>(lead, trackEnd - thumbLength);
  lead = std::max<std::int64_t>(lead, trackStart);
  const int a = static_cast<int>(lead);
  const int b = static_cast<int>(lead + thumbLength);
  bar.thumb = vertical ? ListRect{0, a, w, b} : ListRect{a, 0, b, h};
  return bar;
}

ScrollPart HitTestScrollBar(const ScrollBarGeometry& bar, int x, int y) {
  if (!bar.thumb.Empty() && bar.thumb.Contains(x, y)) return kScrollPartThumb;
  if (bar.downRight.Contains(x, y)) return kScrollPartDownRight;
  if (bar.upLeft.Contains(x, y)) return kScrollPartUpLeft;
  if (bar.track.Contains(x, y)) return kScrollPartTrack;
  return kScrollPartNone;
}

std::int32_t ThumbDragPosition(const ScrollBarGeometry& bar, const ScrollInfo& info, int pointer, int dragOffset) {
  const std::int64_t range = static_cast<std::int64_t>(info.maximum) - info.minimum;
  const std::int64_t steps = range + 1 - static_cast<std::int64_t>(info.page);
  const int arrow = bar.vertical ? bar.track.top : bar.track.left;
  const std::int64_t trackLength = bar.vertical ? bar.track.Height() : bar.track.Width();
  const std::int64_t thumbLength = bar.vertical ? bar.thumb.Height() : bar.thumb.Width();
  if (steps <= 0 || trackLength <= thumbLength) return info.minimum;
  std::int64_t p = steps * (static_cast<std::int64_t>(pointer) - arrow - dragOffset) / (trackLength - thumbLength);
  p = std::clamp<std::int64_t>(p, 0, steps);
  return static_cast<std::int32_t>(info.minimum + p);
}

bool IsListViewClass(const std::wstring& className) { return EqualsNoCaseAscii(className, L"SysListView32"); }

void CScrollAutoRepeat::Start(Tick now) {
  state_ = State::Delaying;
  due_ = now + kScrollRepeatDelayMs;
}

bool CScrollAutoRepeat::Fire(Tick now) {
  if (state_ == State::Idle || TicksPast(now, due_) < 0) return false;
  state_ = State::Repeating;
  due_ += kScrollRepeatPeriodMs;
  if (TicksPast(now, due_) >= 0) due_ = now + kScrollRepeatPeriodMs;
  return true;
}

std::uint32_t CScrollAutoRepeat::MsUntilDue(Tick now) const {
  if (state_ == State::Idle) return 0;
  const std::int32_t left = -TicksPast(now, due_);
  return left > 0 ? static_cast<std::uint32_t>(left) : 0;
}

void CScrollBarModel::Resize(int w, int h) {
  width_ = w;
  height_ = h;
  Sync();
}

void CScrollBarModel::Sync() {
  hasInfo_ = host_.ReadScrollInfo(info_);
  bar_ = LayoutScrollBar(vertical_, width_, height_, hasInfo_ ? &info_ : nullptr);
  // A held track press that has brought the thumb under the pointer now
  // hovers the thumb; the hit test gives exactly that.
  hovered_ = HitTestScrollBar(bar_, mouseX_, mouseY_);
  host_.Repaint();
}

void CScrollBarModel::MouseMove(int x, int y) {
  mouseX_ = x;
  mouseY_ = y;
  const ScrollPart part = HitTestScrollBar(bar_, x, y);
  if (part != hovered_) {
    hovered_ = part;
    host_.Repaint();
  }
  if (pressed_ != kScrollPartThumb || !hasInfo_) return;
  const std::int32_t p = ThumbDragPosition(bar_, info_, Along(x, y), dragOffset_);
  if (!ownerIsListView_) {
    host_.SendScroll(kScrollThumbPosition, p);
  } else {
    const std::int64_t delta = static_cast<std::int64_t>(p) - info_.position;
    if (delta == 0) return;
    if (vertical_)
      host_.ScrollListView(0, static_cast<int>(delta * host_.FirstItemHeight()));
    else
      host_.ScrollListView(static_cast<int>(delta), 0);
  }
  Sync();
}

void CScrollBarModel::ButtonDown(int x, int y, Tick now) {
  host_.SetCapture(true);
  mouseX_ = x;
  mouseY_ = y;
  hovered_ = HitTestScrollBar(bar_, x, y);
  const int along = Along(x, y);
  switch (hovered_) {
    case kScrollPartThumb:
      dragOffset_ = along - Leading(bar_.thumb);
      break;
    case kScrollPartDownRight:
      Request(kScrollLineDown);
      ArmNextRepeat(now);
      break;
    case kScrollPartUpLeft:
      Request(kScrollLineUp);
      ArmNextRepeat(now);
      break;
    case kScrollPartTrack:
      if (PageTowardPointer()) ArmNextRepeat(now);
      break;
    case kScrollPartNone:
      break;
  }
  pressed_ = hovered_;
  host_.Repaint();
}

void CScrollBarModel::ArmNextRepeat(Tick now) {
  if (repeat_.GetState() == CScrollAutoRepeat::State::Idle) repeat_.Start(now);
  host_.ArmRepeatTimer(std::max<std::uint32_t>(1, repeat_.MsUntilDue(now)));
}

bool CScrollBarModel::PageTowardPointer() {
  if (bar_.thumb.Empty()) return false;
  const int along = Along(mouseX_, mouseY_);
  if (along >= Trailing(bar_.thumb))
    Request(kScrollPageDown);
  else if (along < Leading(bar_.thumb))
    Request(kScrollPageUp);
  else
    return false;
  return true;
}

void CScrollBarModel::Request(int code) {
  host_.SendScroll(code, 0);
  Sync();
}

void CScrollBarModel::RepeatTimer(Tick now) {
  if (repeat_.GetState() == CScrollAutoRepeat::State::Idle) return;
  if (!repeat_.Fire(now)) {
    // Woken early: wait out the rest.
    ArmNextRepeat(now);
    return;
  }
  bool keepGoing = true;
  switch (pressed_) {
    case kScrollPartUpLeft:
      Request(kScrollLineUp);
      break;
    case kScrollPartDownRight:
      Request(kScrollLineDown);
      break;
    case kScrollPartTrack: {
      const ScrollPart under = HitTestScrollBar(bar_, mouseX_, mouseY_);
      if (under == kScrollPartThumb)
        keepGoing = false;  // the thumb has reached the pointer
      else if (under == kScrollPartTrack)
        keepGoing = PageTowardPointer();
      break;
    }
    default:
      keepGoing = false;
      break;
  }
  if (keepGoing) {
    ArmNextRepeat(now);
  } else {
    repeat_.Stop();
    host_.ArmRepeatTimer(0);
  }
}

void CScrollBarModel::ButtonUp() {
  repeat_.Stop();
  host_.ArmRepeatTimer(0);
  host_.SetCapture(false);
  pressed_ = kScrollPartNone;
  Sync();
}

void CScrollBarModel::MouseLeave() {
  mouseX_ = -1;
  mouseY_ = -1;
  hovered_ = kScrollPartNone;
  pressed_ = kScrollPartNone;
  host_.Repaint();
}

const char* CScrollBarModel::PartSuffix(ScrollPart part) const {
  if (part == kScrollPartNone) return "";
  if (part == pressed_ && hovered_ != kScrollPartNone) return "Down";
  if (part == hovered_) return "Hovered";
  return "";
}

ScrollBarPaint CScrollBarModel::PaintPlan(int gripLength) const {
  const std::string kind = Kind();
  ScrollBarPaint paint;
  paint.backgroundCell = kind + "Background";
  paint.track = bar_.track;
  auto block = [&](const ListRect& r, ScrollPart part) {
    paint.blocks.push_back({r,
                            {r.left + 1, r.top + 1, r.right - 1, r.bottom - 1},
                            {r.left + 2, r.top + 2, r.right - 2, r.bottom - 2},
                            kind + "ThumbBackground" + PartSuffix(part)});
  };
  block(bar_.upLeft, kScrollPartUpLeft);
  block(bar_.downRight, kScrollPartDownRight);
  paint.upLeftGlyph = kind + "LeftUpArrow";
  paint.downRightGlyph = kind + "RightDownArrow";
  if (bar_.thumb.Empty()) return paint;
  block(bar_.thumb, kScrollPartThumb);
  const int thumbLength = vertical_ ? bar_.thumb.Height() : bar_.thumb.Width();
  paint.drawGrip = thumbLength >= gripLength;
  paint.gripCell = kind + "ThumbHandler";
  paint.gripSuffix = PartSuffix(kScrollPartThumb);
  paint.grip = bar_.thumb;
  return paint;
}
