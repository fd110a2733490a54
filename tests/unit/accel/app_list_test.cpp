#include "accel/app_list.h"

#include <gtest/gtest.h>

#include "account/reply_document.h"
#include "fakes/fake_app_rows.h"
#include "fakes/temp_dir.h"

namespace {

class AppList : public ::testing::Test {
 protected:
  void SetUp() override {
    shortcuts.targets[L"C:\\Users\\u\\Desktop\\Editor.lnk"] = L"C:\\Apps\\editor.exe";
    shortcuts.targets[L"C:\\Users\\u\\Desktop\\Notes.LNK"] = L"C:\\Docs\\notes.txt";
    shortcuts.targets[L"C:\\Users\\u\\Desktop\\Upper.LNK"] = L"C:\\Apps\\UPPER.EXE";
    shortcuts.targets[L"C:\\Users\\u\\Desktop\\Empty.lnk"] = L"";
    list = std::make_unique<CAppList>(shortcuts, launcher, images, dir.File(L"applist.ini"));
  }
  std::wstring Read(const std::wstring& section, const wchar_t* key) {
    return IniReadString(list->Path(), section, key, L"<none>");
  }

  CTempDir dir;
  CFakeShortcuts shortcuts;
  CFakeLauncher launcher;
  CFakeImageList images;
  CFakeAppRows rows;
  std::unique_ptr<CAppList> list;
};

TEST_F(AppList, AddAcceptsProgramsAndShortcutsToPrograms) {
  struct Case {
    const wchar_t* path;
    bool accepted;
    const wchar_t* fullname;  // AppFullname written
    const wchar_t* name;      // column 0
  } cases[] = {
      {L"C:\\Users\\u\\Desktop\\Editor.lnk", true, L"C:\\Apps\\editor.exe", L"Editor.lnk"},
      {L"C:\\Users\\u\\Desktop\\Notes.LNK", false, nullptr, nullptr},      // a document
      {L"C:\\Users\\u\\Desktop\\Upper.LNK", true, L"C:\\Apps\\UPPER.EXE", L"Upper.LNK"},
      {L"C:\\Users\\u\\Desktop\\Empty.lnk", false, nullptr, nullptr},      // resolves to nothing
      {L"C:\\Users\\u\\Desktop\\Gone.lnk", false, nullptr, nullptr},       // does not resolve
      {L"C:\\Games\\GAME.EXE", true, L"C:\\Games\\GAME.EXE", L"GAME.EXE"},
      {L"game.exe", false, nullptr, nullptr},                                // no backslash
      {L"C:\\Games\\readme.txt", false, nullptr, nullptr},
      {L"C:\\Games\\exe", false, nullptr, nullptr},
      {L"C:\\Weird [x]\\100%.exe", true, L"C:\\Weird [x]\\100%.exe", L"100%.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::string(c.path, c.path + wcslen(c.path)));
    const int before = rows.RowCount();
    const int row = list->AddApplication(rows, c.path, kAppListModeAdd);
    if (!c.accepted) {
      EXPECT_EQ(row, -1);
      EXPECT_EQ(rows.RowCount(), before);
      EXPECT_EQ(Read(c.path, L"AppFullname"), L"<none>");
      continue;
    }
    ASSERT_EQ(row, before);
    EXPECT_EQ(Read(c.path, L"AppFullname"), c.fullname);
    EXPECT_EQ(Read(c.path, L"UseAsyncMode"), L"0");
    EXPECT_EQ(Read(c.path, L"ForceWSPBind"), L"0");
    EXPECT_EQ(Read(c.path, L"Active"), L"0");
    const VpnAppItem* item = rows.Item(row);
    EXPECT_EQ(item->name, c.name);
    EXPECT_EQ(item->key, c.path);
    EXPECT_EQ(item->active, 0);
    EXPECT_EQ(rows.rows[row].cells[2], c.fullname);
    EXPECT_EQ(rows.rows[row].image, static_cast<int>(item->name.size()));
    EXPECT_EQ(images.asked.back(), c.name);
  }
  // Only the shortcuts went to the resolver.
  EXPECT_EQ(shortcuts.asked.size(), 5u);
}

TEST_F(AppList, SpecialCharactersAreEscapedInTheFileAndShownPlain) {
  const std::wstring path = L"C:\\Weird [x]\\100%.exe";
  ASSERT_EQ(list->AddApplication(rows, path, kAppListModeAdd), 0);
  const std::string bytes = dir.Read(L"applist.ini");
  EXPECT_NE(bytes.find("[C:\\Weird %5bx%5d\\100%25.exe]"), std::string::npos) << bytes;
  CFakeAppRows loaded;
  list->LoadAppList(loaded);
  ASSERT_EQ(loaded.RowCount(), 1);
  EXPECT_EQ(loaded.Item(0)->key, path);
  EXPECT_EQ(loaded.Item(0)->name, L"100%.exe");
  EXPECT_EQ(loaded.rows[0].cells[2], path);
}

TEST_F(AppList, AddingTheSamePathAgainResetsItAndShowsASecondRow) {
  const std::wstring path = L"C:\\Games\\game.exe";
  ASSERT_EQ(list->AddApplication(rows, path, kAppListModeAdd), 0);
  rows.Select({0});
  list->SetBindOptions(rows, true, true);
  list->ActivateSelectedApplications(rows);
  ASSERT_EQ(Read(path, L"Active"), L"1");
  EXPECT_EQ(list->AddApplication(rows, path, kAppListModeAdd), 1);
  EXPECT_EQ(Read(path, L"UseAsyncMode"), L"0");
  EXPECT_EQ(Read(path, L"ForceWSPBind"), L"0");
  EXPECT_EQ(Read(path, L"Active"), L"0");
  EXPECT_EQ(IniListSections(list->Path()).size(), 1u);
}

TEST_F(AppList, LoadingResetsActiveAndSkipsWhatNoLongerResolves) {
  ASSERT_EQ(list->AddApplication(rows, L"C:\\Users\\u\\Desktop\\Editor.lnk", kAppListModeAdd), 0);
  ASSERT_EQ(list->AddApplication(rows, L"C:\\Games\\game.exe", kAppListModeAdd), 1);
  rows.Select({0, 1});
  list->SetBindOptions(rows, true, false);
  list->ActivateSelectedApplications(rows);
  shortcuts.targets.erase(L"C:\\Users\\u\\Desktop\\Editor.lnk");  // the shortcut went away

  CFakeAppRows loaded;
  list->LoadAppList(loaded);
  ASSERT_EQ(loaded.RowCount(), 1);
  EXPECT_EQ(loaded.Item(0)->key, L"C:\\Games\\game.exe");
  EXPECT_EQ(loaded.Item(0)->active, 0);
  EXPECT_EQ(Read(L"C:\\Games\\game.exe", L"Active"), L"0");
  // Loading keeps the options and the skipped entry.
  EXPECT_EQ(Read(L"C:\\Games\\game.exe", L"UseAsyncMode"), L"1");
  EXPECT_EQ(Read(L"C:\\Users\\u\\Desktop\\Editor.lnk", L"AppFullname"), L"C:\\Apps\\editor.exe");
  EXPECT_EQ(Read(L"C:\\Users\\u\\Desktop\\Editor.lnk", L"Active"), L"1");
}

TEST_F(AppList, LoadingAMissingFileAddsNothing) {
  list->LoadAppList(rows);
  EXPECT_EQ(rows.RowCount(), 0);
}

TEST_F(AppList, RemoveDeletesTheSelectedSectionsAndRows) {
  const wchar_t* paths[] = {L"C:\\A\\a.exe", L"C:\\B\\b.exe", L"C:\\C\\c.exe", L"C:\\D\\d.exe"};
  for (const wchar_t* p : paths) list->AddApplication(rows, p, kAppListModeAdd);
  rows.Select({1, 3});
  list->RemoveSelectedApplications(rows);
  ASSERT_EQ(rows.RowCount(), 2);
  EXPECT_EQ(rows.Item(0)->key, L"C:\\A\\a.exe");
  EXPECT_EQ(rows.Item(1)->key, L"C:\\C\\c.exe");
  EXPECT_EQ(IniListSections(list->Path()), (std::vector<std::wstring>{L"C:\\A\\a.exe", L"C:\\C\\c.exe"}));
  EXPECT_EQ(rows.repaints, 1);
}

TEST_F(AppList, ActivateMarksSelectedRowsInOrder) {
  const wchar_t* paths[] = {L"C:\\A\\a.exe", L"C:\\B\\b.exe", L"C:\\C\\c.exe"};
  for (const wchar_t* p : paths) list->AddApplication(rows, p, kAppListModeAdd);

  EXPECT_EQ(list->ActivateFirstSelected(rows), L"");
  EXPECT_EQ(Read(L"C:\\A\\a.exe", L"Active"), L"0");

  rows.Select({0, 2});
  EXPECT_EQ(list->ActivateFirstSelected(rows), L"C:\\A\\a.exe");
  EXPECT_EQ(rows.Item(0)->active, 1);
  EXPECT_EQ(rows.Item(2)->active, 0);
  EXPECT_EQ(rows.rows[0].redraws, 1);

  EXPECT_EQ(list->ActivateSelectedApplications(rows), (std::vector<std::wstring>{L"C:\\A\\a.exe", L"C:\\C\\c.exe"}));
  EXPECT_EQ(Read(L"C:\\A\\a.exe", L"Active"), L"1");
  EXPECT_EQ(Read(L"C:\\B\\b.exe", L"Active"), L"0");
  EXPECT_EQ(Read(L"C:\\C\\c.exe", L"Active"), L"1");
  EXPECT_EQ(rows.Item(2)->active, 1);
}

TEST_F(AppList, BindOptionsGoToEverySelectedSection) {
  const wchar_t* paths[] = {L"C:\\A\\a.exe", L"C:\\B\\b.exe"};
  for (const wchar_t* p : paths) list->AddApplication(rows, p, kAppListModeAdd);
  rows.Select({1});
  struct Case {
    bool async, force;
    const wchar_t *a, *f;
  } cases[] = {{true, false, L"1", L"0"}, {false, true, L"0", L"1"}, {true, true, L"1", L"1"}, {false, false, L"0", L"0"}};
  for (const Case& c : cases) {
    list->SetBindOptions(rows, c.async, c.force);
    EXPECT_EQ(Read(L"C:\\B\\b.exe", L"UseAsyncMode"), c.a);
    EXPECT_EQ(Read(L"C:\\B\\b.exe", L"ForceWSPBind"), c.f);
    EXPECT_EQ(Read(L"C:\\A\\a.exe", L"UseAsyncMode"), L"0");
  }
}

TEST_F(AppList, LaunchFallsBackToShellExecuteOwnedByTheWindow) {
  int owner = 0;
  list->LaunchApplication(&owner, L"C:\\A\\a.exe");
  EXPECT_EQ(launcher.calls, (std::vector<std::wstring>{L"shell:C:\\A\\a.exe"}));
  launcher.shellWorks = false;
  launcher.calls.clear();
  list->LaunchApplication(&owner, L"C:\\A\\a.exe");
  EXPECT_EQ(launcher.calls, (std::vector<std::wstring>{L"shell:C:\\A\\a.exe", L"direct:C:\\A\\a.exe"}));
  EXPECT_EQ(launcher.lastOwner, &owner);
}

}  // namespace
