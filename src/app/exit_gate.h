// The main window runs nested message loops (boxes, transfers, the chooser,
// the update offer) from inside its controllers. A request to close the
// window that arrives in such a loop must not destroy it there: the code
// that started the loop still uses the controllers and the host probe once
// the loop returns. The gate counts the loops, asks them to end when the
// window is to go, refuses new ones from then on, and lets the window go
// only once the last loop has returned.
#pragma once
#include <functional>

class CExitGate {
 public:
  struct Actions {
    std::function<void()> endLoops;      // ask every running loop to end
    std::function<void()> destroyLater;  // destroy from the outermost loop, not from here
  };

  explicit CExitGate(Actions actions) : actions_(std::move(actions)) {}
  CExitGate(const CExitGate&) = delete;
  CExitGate& operator=(const CExitGate&) = delete;

  // Before a nested loop; false once the window is leaving: the caller
  // answers as if the user had cancelled, without a loop.
  bool EnterLoop();
  void LeaveLoop();

  // The user asked to leave (Exit, Escape, close box): running loops end,
  // no new one starts. The window itself goes on DestroyRequested.
  void RequestExit();
  // The window is to be destroyed: true when that may happen now; else it is
  // put off until the last loop has returned, then destroyLater is called.
  bool DestroyRequested();

  bool Leaving() const { return leaving_; }
  int Depth() const { return depth_; }

  class CLoop {
   public:
    explicit CLoop(CExitGate& gate) : gate_(gate), entered_(gate.EnterLoop()) {}
    ~CLoop() {
      if (entered_) gate_.LeaveLoop();
    }
    CLoop(const CLoop&) = delete;
    CLoop& operator=(const CLoop&) = delete;
    bool Entered() const { return entered_; }

   private:
    CExitGate& gate_;
    bool entered_;
  };

 private:
  Actions actions_;
  int depth_ = 0;
  bool leaving_ = false;
  bool destroyPending_ = false;
};
