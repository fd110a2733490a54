// The accelerate dialog and the bind settings dialog under Wine: drops
// delivered in-process, commands as the buttons send them, and the list file
// they change.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <thread>

#include "account/reply_document.h"
#include "dialogs/dlg_accelerate_for_app_win.h"
#include "dialogs_gui/dialog_drive_win.h"
#include "dialogs_gui/dialog_fixtures_win.h"
#include "dialogs_gui/dialogs_test_support.h"
#include "text/text_table.h"

namespace {

// A drop of `paths` as the shell hands it over.
HDROP MakeDrop(const std::vector<std::wstring>& paths) {
  std::size_t chars = 1;
  for (const auto& p : paths) chars += p.size() + 1;
  HGLOBAL block = ::GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
  auto* drop = static_cast<DROPFILES*>(::GlobalLock(block));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  auto* text = reinterpret_cast<wchar_t*>(drop + 1);
  for (const auto& p : paths) {
    std::memcpy(text, p.c_str(), (p.size() + 1) * sizeof(wchar_t));
    text += p.size() + 1;
  }
  ::GlobalUnlock(block);
  return static_cast<HDROP>(block);
}

class AccelerateDialog : public ::testing::Test {
 protected:
  void Open(bool withEntries) {
    EnsureDialogTestEnvironment();
    if (withEntries) WriteAppListFixture(folder);
    AccelerateDialogInputs inputs;
    inputs.appListPath = folder.File(L"applist.ini");
    inputs.messageBox = [this](HWND, const std::wstring& text, UINT type) {
      boxes.emplace_back(text, type);
      return IDOK;
    };
    inputs.runBindSettings = [this](BindOptions& options) {
      shownOptions = options;
      options = answerOptions;
      return true;
    };
    dialog = std::make_unique<CDlgAccelerateForApp>(inputs);
    ASSERT_TRUE(dialog->Create(nullptr));
    list = ::GetDlgItem(dialog->Handle(), kAccelAppList);
  }
  void TearDown() override {
    if (dialog) dialog->Destroy();
  }
  std::wstring Key(const wchar_t* name) { return folder.File(name); }
  int Active(const wchar_t* name) { return IniReadInt(folder.File(L"applist.ini"), Key(name), L"Active", -1); }
  void Command(int id) { ::SendMessageW(dialog->Handle(), WM_COMMAND, id, 0); }
  void SelectOnly(std::initializer_list<int> rows) {
    LVITEMW none{};
    none.stateMask = LVIS_SELECTED;
    ::SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    for (int row : rows) SelectListRow(list, row);
  }
  int RowOf(const wchar_t* name) {
    for (int r = 0; r < ListRowCount(list); ++r)
      if (ListText(list, r, 0) == name) return r;
    return -1;
  }

  CScratchFolder folder;
  std::unique_ptr<CDlgAccelerateForApp> dialog;
  HWND list = nullptr;
  std::vector<std::pair<std::wstring, UINT>> boxes;
  BindOptions shownOptions, answerOptions;
};

TEST_F(AccelerateDialog, DropAddsTheProgramAndRefusesTheDocumentWithOneMessage) {
  Open(false);
  EXPECT_EQ(ListRowCount(list), 0);
  WriteFile(Key(L"tool.exe"), "MZ");
  WriteFile(Key(L"readme.txt"), "text");
  ::SendMessageW(list, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({Key(L"tool.exe"), Key(L"readme.txt")})), 0);
  ASSERT_EQ(ListRowCount(list), 1);
  EXPECT_EQ(ListText(list, 0, 0), L"tool.exe");
  EXPECT_EQ(Active(L"tool.exe"), 0);
  EXPECT_EQ(Active(L"readme.txt"), -1);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].first, GetText("MustBeShortcutOrEXE"));
  EXPECT_EQ(boxes[0].second & MB_ICONWARNING, static_cast<UINT>(MB_ICONWARNING));
}

TEST_F(AccelerateDialog, ActivateModifyRuleAndRemoveChangeTheListFile) {
  Open(true);
  ASSERT_EQ(ListRowCount(list), 3);
  // Sorted by name at set-up.
  EXPECT_EQ(ListColumn(list, 0), (std::vector<std::wstring>{L"browser.exe", L"game client.exe", L"mail.exe"}));
  SelectOnly({RowOf(L"game client.exe")});
  Command(kCmdAccelActivate);
  EXPECT_EQ(Active(L"game client.exe"), 1);
  EXPECT_EQ(Active(L"mail.exe"), 0);
  EXPECT_EQ(ListText(list, RowOf(L"game client.exe"), 1), GetText("VpnAppStatusActive"));

  answerOptions = {true, false};
  IniWriteInt(folder.File(L"applist.ini"), Key(L"mail.exe"), L"ForceWSPBind", 5);
  SelectOnly({RowOf(L"mail.exe"), RowOf(L"browser.exe")});
  Command(kCmdAccelModifyRule);
  // The first selected row's options, any non-zero value counting as on.
  EXPECT_EQ(shownOptions, (BindOptions{false, false})) << "browser.exe comes first in row order";
  for (const wchar_t* name : {L"mail.exe", L"browser.exe"}) {
    EXPECT_EQ(IniReadInt(folder.File(L"applist.ini"), Key(name), L"UseAsyncMode", -1), 1) << name;
    EXPECT_EQ(IniReadInt(folder.File(L"applist.ini"), Key(name), L"ForceWSPBind", -1), 0) << name;
  }

  SelectOnly({RowOf(L"mail.exe")});
  Command(kCmdAccelRemove);
  EXPECT_EQ(ListRowCount(list), 2);
  EXPECT_EQ(Active(L"mail.exe"), -1);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(AccelerateDialog, ActivateWithoutSelectionDoesNothingAndRunAsksForOne) {
  Open(true);
  SelectOnly({});
  Command(kCmdAccelActivate);
  EXPECT_TRUE(boxes.empty());
  Command(IDOK);  // Activate && Run
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].first, GetText("YouHavenotChosenVpnApp"));
  for (const wchar_t* name : {L"browser.exe", L"game client.exe", L"mail.exe"}) EXPECT_EQ(Active(name), 0);
}

// The modal bind settings dialog: OK takes the boxes, Cancel keeps the options.
TEST(BindSettingDialog, OkTakesTheBoxesCancelKeepsTheOptions) {
  EnsureDialogTestEnvironment();
  for (const bool ok : {true, false}) {
    BindOptions options{false, true};
    std::thread driver([&] {
      const std::wstring title = L"Quillnet" + GetText("AcceleratedAppSetting");
      HWND dialog = nullptr;
      WaitUntil(20000, [&] { return (dialog = ::FindWindowW(nullptr, title.c_str())) && ::IsWindowVisible(dialog); });
      if (!dialog) return;
      // The space bar toggles a box as a click does.
      for (int id : {1100, 1101}) {
        ::SendMessageW(FindDescendant(dialog, id), WM_KEYDOWN, VK_SPACE, 0);
        ::SendMessageW(FindDescendant(dialog, id), WM_KEYUP, VK_SPACE, 0xC0000000);
      }
      ::PostMessageW(dialog, WM_COMMAND, ok ? IDOK : IDCANCEL, 0);
    });
    const bool returned = RunVpnAppBindSettingDialog(nullptr, options);
    driver.join();
    EXPECT_EQ(returned, ok);
    EXPECT_EQ(options, ok ? (BindOptions{true, false}) : (BindOptions{false, true})) << "ok " << ok;
  }
}

}  // namespace
