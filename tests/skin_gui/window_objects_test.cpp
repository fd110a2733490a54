// Every message a bound window gets finds its object by handle: the lookup
// must give the object while the two are bound, and nothing once either has
// gone, or a message would reach freed memory.
#include <gtest/gtest.h>

#include <memory>

#include "skin_gui/skin_test_support.h"
#include "ui/wnd_win.h"

namespace {

HWND CreateStatic(HWND parent) {
  return ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 10, 10, parent, nullptr, ::GetModuleHandleW(nullptr),
                           nullptr);
}

// How a bound pair ends: the window first, the object first, the object
// letting go of the window, or not at all.
enum class End { Nothing, DestroyWindow, DeleteObject, Unsubclass, DestroyWindowThenDeleteObject };

struct Case {
  const char* name;
  End end;
  bool objectFound;  // the handle still leads to the object
};

TEST(WindowObjects, FoundOnlyWhileBound) {
  CTestSkinDialog dialog;
  ASSERT_TRUE(dialog.Create());
  const Case cases[] = {
      {"bound", End::Nothing, true},
      {"window destroyed", End::DestroyWindow, false},
      {"object deleted", End::DeleteObject, false},
      {"unsubclassed", End::Unsubclass, false},
      {"window destroyed, then object deleted", End::DestroyWindowThenDeleteObject, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto object = std::make_unique<CWnd>();
    const HWND window = CreateStatic(dialog.Handle());
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(object->Subclass(window));
    ASSERT_EQ(CWnd::FromHandle(window), object.get());
    const CWnd* const was = object.get();
    switch (c.end) {
      case End::Nothing:
        break;
      case End::DestroyWindow:
        ::DestroyWindow(window);
        break;
      case End::DeleteObject:
        object.reset();
        break;
      case End::Unsubclass:
        object->Unsubclass();
        break;
      case End::DestroyWindowThenDeleteObject:
        ::DestroyWindow(window);
        object.reset();
        break;
    }
    EXPECT_EQ(CWnd::FromHandle(window) == was && was != nullptr, c.objectFound);
    if (!c.objectFound) EXPECT_EQ(CWnd::FromHandle(window), nullptr);
    // The window, where it lives on, still answers through the system's own
    // procedure.
    if (::IsWindow(window)) {
      EXPECT_TRUE(::SetWindowTextW(window, L"still here"));
      ::DestroyWindow(window);
    }
    EXPECT_EQ(CWnd::FromHandle(window), nullptr);
  }
  // A dialog is bound through its dialog procedure, and let go when it is
  // destroyed.
  const HWND dialogWindow = dialog.Handle();
  EXPECT_EQ(CWnd::FromHandle(dialogWindow), &dialog);
  dialog.Destroy();
  EXPECT_EQ(CWnd::FromHandle(dialogWindow), nullptr);
}

}  // namespace
