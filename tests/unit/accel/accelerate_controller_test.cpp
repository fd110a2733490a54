#include "accel/accelerate_controller.h"

#include <gtest/gtest.h>

#include <optional>

#include "account/reply_document.h"
#include "fakes/temp_dir.h"
#include "platform/strings.h"
#include "platform/text_parse.h"
#include "text/text_table.h"

namespace {

// Rows of the list with their selection; a path is taken when it names a
// program and has a folder, as the real list does for plain programs.
class CFakeApps : public IAcceleratedApps {
 public:
  struct Row {
    std::wstring key;
    bool active = false;
    bool selected = false;
    BindOptions options;
  };
  static Row RowOf(const std::wstring& key) {
    Row row;
    row.key = key;
    return row;
  }

  int AddApplication(const std::wstring& path) override {
    added.push_back(path);
    const bool program = path.size() >= 4 && EqualsNoCaseAscii(std::wstring_view(path).substr(path.size() - 4), L".exe");
    if (!program || path.find(L'\\') == std::wstring::npos) return -1;
    rows.push_back(RowOf(path));
    return static_cast<int>(rows.size()) - 1;
  }
  void RemoveSelectedApplications() override {
    std::erase_if(rows, [](const Row& r) { return r.selected; });
  }
  std::vector<std::wstring> ActivateSelectedApplications() override {
    std::vector<std::wstring> keys;
    for (Row& r : rows)
      if (r.selected) {
        r.active = true;
        keys.push_back(r.key);
      }
    return keys;
  }
  std::wstring ActivateFirstSelected() override {
    for (Row& r : rows)
      if (r.selected) {
        r.active = true;
        return r.key;
      }
    return L"";
  }
  std::vector<std::wstring> SelectedKeys() override {
    std::vector<std::wstring> keys;
    for (const Row& r : rows)
      if (r.selected) keys.push_back(r.key);
    return keys;
  }
  BindOptions ReadBindOptions(const std::wstring& key) override {
    read.push_back(key);
    for (const Row& r : rows)
      if (r.key == key) return r.options;
    return {};
  }
  void SetBindOptions(const BindOptions& options) override {
    for (Row& r : rows)
      if (r.selected) r.options = options;
  }
  void LaunchApplication(const std::wstring& key) override { launched.push_back(key); }

  void Select(std::initializer_list<int> which) {
    for (Row& r : rows) r.selected = false;
    for (int i : which) rows[i].selected = true;
  }

  std::vector<Row> rows;
  std::vector<std::wstring> added;
  std::vector<std::wstring> read;
  std::vector<std::wstring> launched;
};

class CFakeView : public IAccelerateView {
 public:
  void SetTip(const std::wstring& text) override { tips.push_back(text); }
  void ShowMessage(const std::wstring& text, AccelIcon icon) override { messages.push_back({text, icon}); }
  std::wstring FolderPath(AccelFolder folder) override {
    folders.push_back(folder);
    return folderPath;
  }
  bool ChooseFile(const std::wstring& folder, const std::vector<std::wstring>& filter, std::wstring& path) override {
    chooserFolder = folder;
    chooserFilter = filter;
    if (!chosenFile) return false;
    path = *chosenFile;
    return true;
  }
  bool RunBindSettings(BindOptions& options) override {
    shownOptions = options;
    if (!settingsAnswer) return false;
    options = *settingsAnswer;
    return true;
  }
  void RevealRow(int row) override { revealed.push_back(row); }
  void HideWithMainWindow() override { ++hides; }
  int TrackContextMenu(int, int) override { return menuChoice; }
  void ArmTipTimer(std::uint32_t ms) override { timer = ms; }

  std::vector<std::wstring> tips;
  std::vector<std::pair<std::wstring, AccelIcon>> messages;
  std::vector<AccelFolder> folders;
  std::wstring folderPath = L"C:\\Users\\u\\Start Menu\\Programs";
  std::wstring chooserFolder;
  std::vector<std::wstring> chooserFilter;
  std::optional<std::wstring> chosenFile;
  std::optional<BindOptions> shownOptions;
  std::optional<BindOptions> settingsAnswer;
  std::vector<int> revealed;
  int hides = 0;
  int menuChoice = 0;
  std::uint32_t timer = 0;
};

class AccelerateController : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadTextTable(); }
  void SetUp() override {
    for (const wchar_t* p : {L"C:\\Games\\a.exe", L"C:\\Games\\b.exe", L"C:\\Tools\\c.exe"}) apps_.AddApplication(p);
    apps_.added.clear();
    controller_.SetUp();
  }
  using Message = std::pair<std::wstring, AccelIcon>;
  CFakeApps apps_;
  CFakeView view_;
  CAccelerateController controller_{apps_, view_};
};

TEST_F(AccelerateController, TipsTurnEveryFifteenSecondsWhileVisible) {
  const std::wstring tip1 = GetText("VpnAppUsageTip1"), tip2 = GetText("VpnAppUsageTip2"),
                     tip3 = GetText("VpnAppUsageTip3");
  ASSERT_EQ(view_.tips, (std::vector<std::wstring>{tip1}));
  const Tick t0 = 0xFFFFC000u;  // wraps on the way
  controller_.Shown(t0);
  EXPECT_EQ(view_.timer, 15000u);
  controller_.TipTimer(t0 + 14990);  // a timer a little early shows nothing yet
  EXPECT_EQ(view_.tips.size(), 1u);
  EXPECT_EQ(view_.timer, 10u);
  controller_.TipTimer(t0 + 15000);
  controller_.TipTimer(t0 + 30000);
  controller_.TipTimer(t0 + 45000);
  EXPECT_EQ(view_.tips, (std::vector<std::wstring>{tip1, tip2, tip3, tip1}));
  EXPECT_EQ(controller_.TipIndex(), 0);
  EXPECT_EQ(view_.timer, 15000u);

  controller_.Hidden();
  EXPECT_EQ(view_.timer, 0u);
  controller_.TipTimer(t0 + 60000);  // a tick still queued when hidden
  EXPECT_EQ(view_.tips.size(), 4u);

  // Shown again: the counter goes on, the period starts afresh.
  const Tick t1 = t0 + 100000;
  controller_.Shown(t1);
  controller_.TipTimer(t1 + 15000);
  EXPECT_EQ(view_.tips.back(), tip2);
  // A stalled dialog catches up by one tip, not by many.
  controller_.TipTimer(t1 + 100000);
  EXPECT_EQ(view_.tips.back(), tip3);
  EXPECT_EQ(view_.timer, 15000u);
}

TEST_F(AccelerateController, ButtonsAndDoubleClick) {
  struct Case {
    const char* name;
    int command;
    std::vector<int> selected;
    std::vector<std::wstring> launched;
    std::vector<bool> active;
    std::vector<std::wstring> messages;
    int hides;
  } cases[] = {
      {"activate with none selected does nothing", kCmdAccelActivate, {}, {}, {false, false, false}, {}, 0},
      {"activate marks the selection only", kCmdAccelActivate, {0, 2}, {}, {true, false, true}, {}, 0},
      {"activate and run with none selected", kCmdAccelActivateAndRun, {}, {}, {false, false, false},
       {GetText("YouHavenotChosenVpnApp")}, 0},
      {"activate and run starts each in row order", kCmdAccelActivateAndRun, {1, 2},
       {L"C:\\Games\\b.exe", L"C:\\Tools\\c.exe"}, {false, true, true}, {}, 0},
      {"help", kCmdAccelHelp, {0}, {}, {false, false, false}, {GetText("VpnAppUsageHelp")}, 0},
      {"done hides, the list stays", kCmdAccelDone, {0}, {}, {false, false, false}, {}, 1},
  };
  for (const Case& c : cases) {
    CFakeApps apps;
    for (const CFakeApps::Row& r : apps_.rows) apps.rows.push_back(CFakeApps::RowOf(r.key));
    for (int i : c.selected) apps.rows[i].selected = true;
    CFakeView view;
    CAccelerateController controller(apps, view);
    EXPECT_TRUE(controller.Command(c.command)) << c.name;
    EXPECT_EQ(apps.launched, c.launched) << c.name;
    std::vector<bool> active;
    for (const CFakeApps::Row& r : apps.rows) active.push_back(r.active);
    EXPECT_EQ(active, c.active) << c.name;
    std::vector<std::wstring> texts;
    for (const Message& m : view.messages) {
      texts.push_back(m.first);
      EXPECT_EQ(m.second, AccelIcon::Information) << c.name;
    }
    EXPECT_EQ(texts, c.messages) << c.name;
    EXPECT_EQ(view.hides, c.hides) << c.name;
  }
  EXPECT_FALSE(controller_.Command(12345));

  controller_.DoubleClick();  // nothing selected
  EXPECT_TRUE(apps_.launched.empty());
  apps_.Select({1, 2});
  controller_.DoubleClick();
  EXPECT_EQ(apps_.launched, (std::vector<std::wstring>{L"C:\\Games\\b.exe"}));
  EXPECT_TRUE(apps_.rows[1].active);
  EXPECT_FALSE(apps_.rows[2].active);
}

TEST_F(AccelerateController, AddFromTheMenuFolders) {
  struct Case {
    int command;
    AccelFolder folder;
  } cases[] = {{kCmdAccelAddFromUserStartMenu, AccelFolder::UserStartMenu},
               {kCmdAccelAddFromCommonStartMenu, AccelFolder::CommonStartMenu},
               {kCmdAccelAddFromProgramFiles, AccelFolder::ProgramFiles}};
  view_.chosenFile = L"C:\\Apps\\new.EXE";
  for (const Case& c : cases) {
    view_.menuChoice = c.command;
    controller_.ContextMenu(100, 200);
    EXPECT_EQ(view_.folders.back(), c.folder);
  }
  EXPECT_EQ(view_.chooserFolder, view_.folderPath);
  EXPECT_EQ(view_.chooserFilter, (std::vector<std::wstring>{L"Shortcut Links or Executable Files(*.lnk;*.exe)",
                                                            L"*.lnk;*.exe"}));
  EXPECT_EQ(apps_.rows.size(), 6u);
  EXPECT_EQ(view_.revealed, (std::vector<int>{3, 4, 5}));
  EXPECT_TRUE(view_.messages.empty());

  view_.chosenFile = L"C:\\Docs\\notes.txt";
  controller_.Command(kCmdAccelAddFromUserStartMenu);
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0], (Message{GetText("MustBeShortcutOrEXE"), AccelIcon::Warning}));
  EXPECT_EQ(view_.revealed.size(), 3u);

  view_.chosenFile.reset();  // the user cancels the file dialog
  apps_.added.clear();
  controller_.Command(kCmdAccelAddFromProgramFiles);
  EXPECT_TRUE(apps_.added.empty());
  EXPECT_EQ(view_.messages.size(), 1u);

  // A dismissed menu or a command that is not on it does nothing.
  for (int choice : {0, kCmdAccelDone, kCmdAccelActivateAndRun}) {
    view_.menuChoice = choice;
    apps_.Select({0});
    controller_.ContextMenu(1, 1);
  }
  EXPECT_EQ(view_.hides, 0);
  EXPECT_TRUE(apps_.launched.empty());
}

TEST_F(AccelerateController, ModifyRuleAndRemove) {
  apps_.rows[1].options = {true, false};
  apps_.Select({1, 0, 2});
  view_.settingsAnswer = BindOptions{false, true};
  view_.menuChoice = kCmdAccelModifyRule;
  controller_.ContextMenu(0, 0);
  // The first selected row in row order shows its options...
  EXPECT_EQ(apps_.read, (std::vector<std::wstring>{L"C:\\Games\\a.exe"}));
  EXPECT_EQ(view_.shownOptions, (BindOptions{false, false}));
  // ...and OK writes the same two values into every selected entry.
  for (const CFakeApps::Row& r : apps_.rows) EXPECT_EQ(r.options, (BindOptions{false, true}));

  apps_.Select({1});
  view_.settingsAnswer.reset();  // Cancel
  controller_.Command(kCmdAccelModifyRule);
  EXPECT_EQ(view_.shownOptions, (BindOptions{false, true}));
  EXPECT_EQ(apps_.rows[1].options, (BindOptions{false, true}));

  apps_.Select({});
  view_.shownOptions.reset();
  controller_.Command(kCmdAccelModifyRule);
  EXPECT_FALSE(view_.shownOptions.has_value());

  apps_.Select({0, 2});
  view_.menuChoice = kCmdAccelRemove;
  controller_.ContextMenu(0, 0);
  ASSERT_EQ(apps_.rows.size(), 1u);
  EXPECT_EQ(apps_.rows[0].key, L"C:\\Games\\b.exe");
}

TEST_F(AccelerateController, DroppedFilesAreOneBatch) {
  const std::wstring program = L"C:\\Games\\new.exe", text = L"C:\\Docs\\readme.txt", bare = L"tool.exe";
  struct Case {
    const char* name;
    std::vector<std::wstring> files;
    std::size_t rowsAdded;
    std::vector<int> revealed;
    std::size_t messages;
  } cases[] = {
      {"a program, then a document", {program, text}, 1, {}, 1},
      {"a document, then a program", {text, program}, 1, {3}, 1},
      {"two programs", {program, program}, 2, {4}, 0},
      {"only refused files", {text, bare, text}, 0, {}, 1},
      {"nothing", {}, 0, {}, 0},
  };
  for (const Case& c : cases) {
    CFakeApps apps;
    for (const CFakeApps::Row& r : apps_.rows) apps.rows.push_back(CFakeApps::RowOf(r.key));
    CFakeView view;
    CAccelerateController controller(apps, view);
    controller.FilesDropped(c.files);
    EXPECT_EQ(apps.added, c.files) << c.name;  // every file tried, in drop order
    EXPECT_EQ(apps.rows.size(), 3 + c.rowsAdded) << c.name;
    EXPECT_EQ(view.revealed, c.revealed) << c.name;
    ASSERT_EQ(view.messages.size(), c.messages) << c.name;
    if (c.messages != 0) {
      EXPECT_EQ(view.messages[0], (Message{GetText("MustBeShortcutOrEXE"), AccelIcon::Warning})) << c.name;
    }
  }
}

TEST(AccelerateHelpers, DialogFilter) {
  struct Case {
    std::wstring filter;
    std::vector<std::wstring> pieces;
  } cases[] = {
      {L"Programs(*.exe)|*.exe||", {L"Programs(*.exe)", L"*.exe"}},
      {L"A|*.a|B|*.b||", {L"A", L"*.a", L"B", L"*.b"}},
      {L"A|*.a|B|*.b", {L"A", L"*.a", L"B", L"*.b"}},
      {L"A|*.a|B", {L"A", L"*.a"}},
      {L"", {}},
      {L"||", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitDialogFilter(c.filter), c.pieces);
}

TEST(AccelerateHelpers, BindOptionsFromTheListFile) {
  CTempDir dir;
  IniForgetCache();
  const std::wstring path = dir.Write(L"applist.ini",
                                      "[C:\\a.exe]\r\nUseAsyncMode=1\r\nForceWSPBind=0\r\n"
                                      "[C:\\b.exe]\r\nUseAsyncMode=7\r\nForceWSPBind=-1\r\n"
                                      "[C:\\c.exe]\r\nAppFullname=C:\\c.exe\r\n");
  EXPECT_EQ(ReadBindOptionsFromListFile(path, L"C:\\a.exe"), (BindOptions{true, false}));
  EXPECT_EQ(ReadBindOptionsFromListFile(path, L"C:\\b.exe"), (BindOptions{true, true}));
  EXPECT_EQ(ReadBindOptionsFromListFile(path, L"C:\\c.exe"), (BindOptions{false, false}));
  EXPECT_EQ(ReadBindOptionsFromListFile(path, L"C:\\missing.exe"), (BindOptions{false, false}));
}

TEST(AccelerateHelpers, BindSettingsModel) {
  LoadTextTable();
  EXPECT_EQ(CBindSettingsModel::Title(), L"QuillnetAccelerated Application Setting");
  EXPECT_EQ(CBindSettingsModel::BoxText(0), L"Use Asynchronously Binding Mode");
  EXPECT_EQ(CBindSettingsModel::BoxText(1), L"Force to use VPN IP Binding");
  CBindSettingsModel model({true, false});
  EXPECT_TRUE(model.Checked(0));
  EXPECT_FALSE(model.Checked(1));
  model.SetChecked(0, false);
  model.SetChecked(1, true);
  EXPECT_EQ(model.Result(true), (BindOptions{false, true}));
  EXPECT_EQ(model.Result(false), (BindOptions{true, false}));
}

TEST(AccelerateHelpers, ListLook) {
  LoadTextTable();
  const std::uint32_t green = 79 | (125 << 8) | (78 << 16), grey = 102 | (102 << 8) | (102 << 16);
  const AppStatusLook on = LookOfAppStatus(true), off = LookOfAppStatus(false);
  EXPECT_EQ(on.icon, L"IconVpnAppStatusActive");
  EXPECT_EQ(on.text, L"Active");
  EXPECT_EQ(on.color, green);
  EXPECT_EQ(off.icon, L"IconVpnAppStatusInactive");
  EXPECT_EQ(off.text, L"Inactive");
  EXPECT_EQ(off.color, grey);

  struct Case {
    int column;
    bool active, firstSelected;
    std::uint32_t color;
  } cases[] = {{0, true, false, 0},     {0, false, true, 0},       {1, true, true, green},  {1, false, false, grey},
               {2, true, false, green}, {2, false, false, grey},   {2, true, true, 0},      {3, false, true, 0}};
  for (const Case& c : cases)
    EXPECT_EQ(AppCellTextColor(c.column, c.active, c.firstSelected), c.color) << c.column << c.active << c.firstSelected;

  const std::vector<AppListNoticeLine> lines = AppListEmptyNotice(320);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, L"Please drag the applications/games which need VPN to this list,");
  EXPECT_EQ(lines[0].top, 140);
  EXPECT_EQ(lines[1].text, L"or right-click to add them from Start Menu");
  EXPECT_EQ(lines[1].top, 160);

  const std::vector<AppListColumn> columns = AppListColumns();
  ASSERT_EQ(columns.size(), 3u);
  EXPECT_EQ(columns[0].title, L"Application");
  EXPECT_EQ(columns[1].width, 60);
  EXPECT_EQ(columns[2].width, 370);

  auto byLength = [](const std::wstring& a, const std::wstring& b) {
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
  };
  EXPECT_EQ(CompareAppRows(L"ab", L"zzzz", L"abc", L"z", 0, 1, byLength), -1);
  EXPECT_EQ(CompareAppRows(L"ab", L"zzzz", L"abc", L"z", 0, -1, byLength), 1);
  EXPECT_EQ(CompareAppRows(L"ab", L"zzzz", L"abc", L"z", 1, 1, byLength), 1);
  EXPECT_EQ(CompareAppRows(L"ab", L"zzzz", L"abc", L"z", 2, 1, byLength), 0);
}

}  // namespace
