// The skinned scroll bar without drawing: where the arrows, track and thumb
// are, which part the pointer is over, what a press, a drag or a held button
// asks the owner list to do, and the press-and-hold repeat timing. The Win32
// bar forwards its mouse messages and timer here and paints what it is told.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/tick.h"
#include "skin/list_logic.h"

enum ScrollPart : int {
  kScrollPartNone = 0,
  kScrollPartUpLeft = 1,
  kScrollPartDownRight = 2,
  kScrollPartThumb = 3,
  kScrollPartTrack = 4,
};

// The platform's scroll request codes, sent to the owner.
constexpr int kScrollLineUp = 0;
constexpr int kScrollLineDown = 1;
constexpr int kScrollPageUp = 2;
constexpr int kScrollPageDown = 3;
constexpr int kScrollThumbPosition = 4;

constexpr int kScrollMinThumb = 6;
constexpr std::uint32_t kScrollRepeatDelayMs = 250;
constexpr std::uint32_t kScrollRepeatPeriodMs = 50;

// The owner's scroll information for one orientation.
struct ScrollInfo {
  std::int32_t minimum = 0;
  std::int32_t maximum = 0;
  std::uint32_t page = 0;
  std::int32_t position = 0;
};

struct ScrollBarGeometry {
  bool vertical = true;
  ListRect upLeft;
  ListRect track;
  ListRect downRight;
  ListRect thumb;  // empty: no thumb
};

// Arrows, track and thumb of a bar whose client area is w by h. Without
// scroll information, or with nothing to scroll, the thumb is empty.
ScrollBarGeometry LayoutScrollBar(bool vertical, int w, int h, const ScrollInfo* info);
// Thumb, then down/right arrow, then up/left arrow, then track.
ScrollPart HitTestScrollBar(const ScrollBarGeometry& bar, int x, int y);
// The position a thumb drag asks for: `pointer` along the bar's axis in the
// bar's client coordinates, `dragOffset` from the press to the thumb's
// leading edge. Kept within the positions the owner can take.
std::int32_t ThumbDragPosition(const ScrollBarGeometry& bar, const ScrollInfo& info, int pointer, int dragOffset);

// A list view is scrolled by pixels, not by position: report view by whole
// rows of the first item's height.
bool IsListViewClass(const std::wstring& className);

// Press-and-hold timing: idle -> delaying (250 ms) -> repeating (every
// 50 ms) -> idle on release. A late timer gives one repeat, not a burst.
class CScrollAutoRepeat {
 public:
  enum class State { Idle, Delaying, Repeating };

  void Start(Tick now);
  void Stop() { state_ = State::Idle; }
  State GetState() const { return state_; }
  // True when a repeat is due at `now`; schedules the next one.
  bool Fire(Tick now);
  // Milliseconds until the next repeat is due (0 when due or idle).
  std::uint32_t MsUntilDue(Tick now) const;

 private:
  State state_ = State::Idle;
  Tick due_ = 0;
};

// What painting a bar draws, back to front. Cell names are complete except
// the grip's, which the registry resolves with its suffix and a fallback to
// the bare name.
struct ScrollBarBlock {
  ListRect outer;       // border pen, white brush
  ListRect inner;       // grey pen, one pixel inside
  ListRect face;        // two pixels inside, the face cell stretched
  std::string faceCell;
};
struct ScrollBarPaint {
  std::string backgroundCell;  // stretched over the track
  ListRect track;
  std::vector<ScrollBarBlock> blocks;  // up/left arrow, down/right arrow, thumb
  std::string upLeftGlyph;             // centred at natural size
  std::string downRightGlyph;
  bool drawGrip = false;
  std::string gripCell;
  std::string gripSuffix;
  ListRect grip;  // the thumb, the grip centred in it
};

// What the bar needs from its owner list and its own window.
class IScrollBarHost {
 public:
  virtual ~IScrollBarHost() = default;
  // The owner's scroll information for the bar's orientation; false when the
  // owner has none.
  virtual bool ReadScrollInfo(ScrollInfo& info) = 0;
  // The scroll message (vertical or horizontal) with a request code; for
  // kScrollThumbPosition `position` goes in the high word.
  virtual void SendScroll(int code, std::int32_t position) = 0;
  // The list view's own scroll request, in pixels.
  virtual void ScrollListView(int dx, int dy) = 0;
  virtual int FirstItemHeight() = 0;
  virtual void Repaint() = 0;
  virtual void SetCapture(bool captured) = 0;
  // Arms the bar's one-shot repeat timer; 0 cancels it.
  virtual void ArmRepeatTimer(std::uint32_t ms) = 0;
};

// One skinned scroll bar's state: its parts, what the pointer hovers and
// presses, the drag and the repeat.
class CScrollBarModel {
 public:
  CScrollBarModel(bool vertical, bool ownerIsListView, IScrollBarHost& host)
      : vertical_(vertical), ownerIsListView_(ownerIsListView), host_(host) {}

  // The bar's client size changed.
  void Resize(int w, int h);
  // Re-reads the owner's information, lays the parts out and repaints.
  void Sync();

  void MouseMove(int x, int y);
  void ButtonDown(int x, int y, Tick now);
  void ButtonUp();
  void MouseLeave();
  // The repeat timer fired.
  void RepeatTimer(Tick now);

  const ScrollBarGeometry& Geometry() const { return bar_; }
  ScrollPart Hovered() const { return hovered_; }
  ScrollPart Pressed() const { return pressed_; }
  const CScrollAutoRepeat& AutoRepeat() const { return repeat_; }
  // "Down", "Hovered" or empty: the cell suffix a part is drawn with.
  const char* PartSuffix(ScrollPart part) const;
  // "VScrollBar" or "HScrollBar": the prefix of every cell the bar draws.
  const char* Kind() const { return vertical_ ? "VScrollBar" : "HScrollBar"; }
  // `gripLength`: the grip cell's size along the bar; a shorter thumb has
  // no grip.
  ScrollBarPaint PaintPlan(int gripLength) const;

 private:
  int Along(int x, int y) const { return vertical_ ? y : x; }
  int Leading(const ListRect& r) const { return vertical_ ? r.top : r.left; }
  int Trailing(const ListRect& r) const { return vertical_ ? r.bottom : r.right; }
  // Pages toward the last mouse position; false when there is no thumb or
  // the pointer is on it.
  bool PageTowardPointer();
  void Request(int code);
  void ArmNextRepeat(Tick now);

  bool vertical_;
  bool ownerIsListView_;
  IScrollBarHost& host_;
  int width_ = 0;
  int height_ = 0;
  bool hasInfo_ = false;
  ScrollInfo info_;
  ScrollBarGeometry bar_;
  int dragOffset_ = 0;
  int mouseX_ = -1;
  int mouseY_ = -1;
  ScrollPart hovered_ = kScrollPartNone;
  ScrollPart pressed_ = kScrollPartNone;
  CScrollAutoRepeat repeat_;
};
