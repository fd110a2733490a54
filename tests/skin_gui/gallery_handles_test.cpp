// A thousand repaints of every control in every state leave the process's
// GDI and USER object counts where they were.
#include <gtest/gtest.h>

#include <cstdio>

#include "skin_gallery/gallery_dialog_win.h"
#include "skin_gui/skin_test_support.h"

namespace {

// GetGuiResources answers 0 under Wine (a stub). There the GDI handle table
// that the process maps, laid out as on Windows, tells how many objects live.
struct GdiHandleEntry {
  UINT64 object;
  ULONG owner;
  USHORT unique;
  UCHAR type;
  UCHAR flags;
  UINT64 userPointer;
};
static_assert(sizeof(GdiHandleEntry) == 24);

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"  // NtCurrentTeb reads the thread block through a segment
DWORD GdiObjects() {
  if (DWORD n = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS)) return n;
  const auto* teb = reinterpret_cast<const char*>(NtCurrentTeb());
#ifdef _WIN64
  const auto* peb = *reinterpret_cast<const char* const*>(teb + 0x60);
  const auto* table = *reinterpret_cast<const GdiHandleEntry* const*>(peb + 0xF8);
#else
  const auto* peb = *reinterpret_cast<const char* const*>(teb + 0x30);
  const auto* table = *reinterpret_cast<const GdiHandleEntry* const*>(peb + 0x94);
#endif
  if (!table) return 0;
  DWORD live = 0;
  for (int i = 0; i < 0x10000; ++i) live += table[i].type != 0;
  return live;
}
#pragma GCC diagnostic pop

BOOL CALLBACK CountChild(HWND, LPARAM count) {
  ++*reinterpret_cast<DWORD*>(count);
  return TRUE;
}

BOOL CALLBACK CountWindow(HWND window, LPARAM count) {
  ++*reinterpret_cast<DWORD*>(count);
  ::EnumChildWindows(window, CountChild, count);  // all descendants
  return TRUE;
}

// Under Wine the USER count is the windows of this thread, the only USER
// objects painting could create.
DWORD UserObjects() {
  if (DWORD n = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS)) return n;
  DWORD count = 0;
  ::EnumThreadWindows(::GetCurrentThreadId(), CountWindow, reinterpret_cast<LPARAM>(&count));
  return count;
}

TEST(GalleryHandles, CountersSeeObjectsComeAndGo) {
  auto popup = [] {
    return ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  };
  // The thread's first window brings helpers of its own; start after it.
  HWND first = popup();
  const DWORD gdi = GdiObjects(), user = UserObjects();
  HBRUSH brushes[10];
  for (HBRUSH& b : brushes) b = ::CreateSolidBrush(RGB(1, 2, 3));
  HWND more[2] = {popup(), popup()};
  HWND child = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 5, 5, more[0], nullptr, nullptr, nullptr);
  EXPECT_NE(child, nullptr);
  EXPECT_EQ(GdiObjects(), gdi + 10);
  EXPECT_EQ(UserObjects(), user + 3);
  for (HBRUSH b : brushes) ::DeleteObject(b);
  for (HWND w : more) ::DestroyWindow(w);
  EXPECT_EQ(GdiObjects(), gdi);
  EXPECT_EQ(UserObjects(), user);
  ::DestroyWindow(first);
}

TEST(GalleryHandles, ThousandRepaintsKeepCountsFlat) {
  EnsureSkin();
  CDlgSkinGallery gallery;
  ASSERT_TRUE(gallery.Create());
  gallery.Show(true);
  auto repaint = [&] {
    ::RedrawWindow(gallery.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  };
  for (int i = 0; i < 10; ++i) repaint();
  PumpFor(100);
  const DWORD gdiBefore = GdiObjects(), userBefore = UserObjects();
  std::printf("GDI objects %lu, USER objects %lu before\n", gdiBefore, userBefore);
  for (int i = 0; i < 1000; ++i) {
    repaint();
    if (i % 100 == 0) {
      // Layout rebuilds the background surface too.
      ::SendMessageW(gallery.Handle(), WM_SIZE, SIZE_RESTORED, MAKELPARAM(CDlgSkinGallery::kWidth, CDlgSkinGallery::kHeight));
      gallery.ForceStates();
    }
  }
  PumpFor(100);
  const DWORD gdiAfter = GdiObjects(), userAfter = UserObjects();
  std::printf("GDI objects %lu, USER objects %lu after 1000 repaints\n", gdiAfter, userAfter);
  EXPECT_GT(gdiBefore, 0u);
  EXPECT_EQ(gdiAfter, gdiBefore);
  EXPECT_EQ(userAfter, userBefore);
  gallery.Destroy();
  PumpFor(50);
}

}  // namespace
