#include "app/exit_gate.h"

bool CExitGate::EnterLoop() {
  if (leaving_) return false;
  ++depth_;
  return true;
}

void CExitGate::LeaveLoop() {
  if (depth_ > 0) --depth_;
  if (depth_ == 0 && destroyPending_) {
    destroyPending_ = false;
    if (actions_.destroyLater) actions_.destroyLater();
  }
}

void CExitGate::RequestExit() {
  const bool first = !leaving_;
  leaving_ = true;
  if (first && depth_ > 0 && actions_.endLoops) actions_.endLoops();
}

bool CExitGate::DestroyRequested() {
  RequestExit();
  if (depth_ == 0) return true;
  destroyPending_ = true;
  return false;
}
