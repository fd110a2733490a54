// Double-buffered painting and the background hand-over between a skinned
// parent and its children, which is what lets children look transparent.
#pragma once
#include "platform/win32.h"

// wParam: the child's drawing surface; lParam: the child window. Nonzero when
// the parent painted the background into the surface.
constexpr UINT WM_SKINBACKGROUND = WM_USER + 1021;

// Asks the parent for the background under `child`; falls back to WM_ERASEBKGND.
void RequestParentBackground(HWND child, HDC surface);

// All drawing goes to a memory surface; destroying it copies the rectangle
// to the same place on the target.
class CAutoBufferDC {
 public:
  CAutoBufferDC(const RECT& rect, HDC target);
  ~CAutoBufferDC();
  CAutoBufferDC(const CAutoBufferDC&) = delete;
  CAutoBufferDC& operator=(const CAutoBufferDC&) = delete;
  operator HDC() const { return memory_; }
  HDC Surface() const { return memory_; }

 private:
  HDC memory_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  bool shared_ = false;  // the thread's reusable surface, not our own
  HDC target_ = nullptr;
  HGDIOBJ previousBitmap_ = nullptr;
  RECT rect_{};
};
