// The window resources every skinned program carries: the two menus with
// their command numbers and the one empty dialog template.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/win32.h"
#include "resource.h"

namespace {

std::vector<std::pair<UINT, std::wstring>> Items(HMENU menu) {
  std::vector<std::pair<UINT, std::wstring>> items;
  for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
    wchar_t text[64] = {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_ID | MIIM_STRING | MIIM_FTYPE | MIIM_SUBMENU;
    info.dwTypeData = text;
    info.cch = 64;
    ::GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
    items.emplace_back((info.fType & MFT_SEPARATOR) ? 0 : (info.hSubMenu ? 1 : info.wID), text);
  }
  return items;
}

using Rows = std::vector<std::pair<UINT, std::wstring>>;

TEST(WindowResources, TrayMenu) {
  HMENU menu = ::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(128));
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(Items(::GetSubMenu(menu, 0)),
            (Rows{{32772, L"&Show"}, {0, L""}, {32779, L"&Homepage"}, {32781, L"&Purchase"}, {0, L""},
                  {32775, L"&About ..."}, {0, L""}, {32774, L"E&xit"}}));
  ::DestroyMenu(menu);
}

TEST(WindowResources, ApplicationListMenu) {
  HMENU menu = ::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(199));
  ASSERT_NE(menu, nullptr);
  HMENU first = ::GetSubMenu(menu, 0);
  EXPECT_EQ(Items(first), (Rows{{1, L"Add Applications"}, {32787, L"Modify Rule"}, {32788, L"Remove"}}));
  EXPECT_EQ(Items(::GetSubMenu(first, 0)),
            (Rows{{32789, L"From my Start Menu"}, {32790, L"From public Start Menu"},
                  {32791, L"From application folder"}}));
  ::DestroyMenu(menu);
}

TEST(WindowResources, EmptyDialogTemplate) {
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(201), MAKEINTRESOURCEW(5));  // RT_DIALOG
  ASSERT_NE(found, nullptr);
  const auto* words = static_cast<const WORD*>(::LockResource(::LoadResource(module, found)));
  ASSERT_EQ(words[0], 1);       // DIALOGEX
  ASSERT_EQ(words[1], 0xFFFF);
  DWORD style = 0;
  std::memcpy(&style, words + 6, sizeof style);
  const WORD controls = words[8];
  EXPECT_EQ(controls, 0);
  EXPECT_TRUE(style & WS_POPUP);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & DS_SETFONT);
  EXPECT_FALSE(style & WS_CAPTION);
  // After the menu, class and title (all empty): point size, weight, italic,
  // charset, then the face name.
  const WORD* p = words + 13;
  for (int k = 0; k < 3; ++k) {
    if (*p == 0xFFFF) p += 2;
    else while (*p++) {}
  }
  EXPECT_EQ(p[0], 8);
  EXPECT_STREQ(reinterpret_cast<const wchar_t*>(p + 3), L"MS Shell Dlg");
}

}  // namespace
