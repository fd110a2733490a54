// The accelerate dialog's decisions without windows: the rotating tips, the
// buttons, the list's context menu, dropped files and the bind settings
// dialog's content, plus how the application list draws its rows. The Win32
// dialog implements IAccelerateView and hands the application list over
// IAcceleratedApps; both are small so a test can stand in for them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/tick.h"

// Commands of the dialog and of its context menu (menu resource 199).
constexpr int kAccelContextMenu = 199;
constexpr int kCmdAccelActivateAndRun = 1;  // the dialog's OK
constexpr int kCmdAccelDone = 2;            // the dialog's Cancel
constexpr int kCmdAccelActivate = 1024;
constexpr int kCmdAccelHelp = 32783;
constexpr int kCmdAccelModifyRule = 32787;
constexpr int kCmdAccelRemove = 32788;
constexpr int kCmdAccelAddFromUserStartMenu = 32789;
constexpr int kCmdAccelAddFromCommonStartMenu = 32790;
constexpr int kCmdAccelAddFromProgramFiles = 32791;

constexpr std::uint32_t kAccelTipPeriodMs = 15000;
constexpr int kAccelTipCount = 3;

// The two per-application binding options the bind module reads.
struct BindOptions {
  bool useAsyncMode = false;
  bool forceWspBind = false;
  bool operator==(const BindOptions&) const = default;
};

// The accelerated application list as the dialog needs it: the list
// control's rows over the shared list file.
class IAcceleratedApps {
 public:
  virtual ~IAcceleratedApps() = default;
  // Adds a program, or a shortcut to one, exactly as the user named it and
  // with both options off; the new row, or -1 when refused.
  virtual int AddApplication(const std::wstring& path) = 0;
  virtual void RemoveSelectedApplications() = 0;
  // Marks the selected rows active; their keys in row order.
  virtual std::vector<std::wstring> ActivateSelectedApplications() = 0;
  // The same for the first selected row; empty when none is selected.
  virtual std::wstring ActivateFirstSelected() = 0;
  // Keys of the selected rows in row order.
  virtual std::vector<std::wstring> SelectedKeys() = 0;
  virtual BindOptions ReadBindOptions(const std::wstring& key) = 0;
  // Writes both options into every selected row's entry.
  virtual void SetBindOptions(const BindOptions& options) = 0;
  // Starts the entry's file through the desktop shell, owned by the dialog.
  virtual void LaunchApplication(const std::wstring& key) = 0;
};

// The two options of one entry in the list file; a missing value is off and
// any value other than 0 is on.
BindOptions ReadBindOptionsFromListFile(const std::wstring& listPath, const std::wstring& key);

enum class AccelFolder { UserStartMenu, CommonStartMenu, ProgramFiles };
enum class AccelIcon { Information, Warning };

class IAccelerateView {
 public:
  virtual ~IAccelerateView() = default;
  virtual void SetTip(const std::wstring& text) = 0;
  // A message box captioned with the product name.
  virtual void ShowMessage(const std::wstring& text, AccelIcon icon) = 0;
  // Empty when the folder cannot be found.
  virtual std::wstring FolderPath(AccelFolder folder) = 0;
  // The file-open dialog in `folder` (single selection, existing files
  // only); `filter` is pairs of description and patterns. False on cancel.
  virtual bool ChooseFile(const std::wstring& folder, const std::vector<std::wstring>& filter, std::wstring& path) = 0;
  // Runs the bind settings dialog modally over `options`; true on OK.
  virtual bool RunBindSettings(BindOptions& options) = 0;
  // Scrolls a row into view and makes it the selection mark.
  virtual void RevealRow(int row) = 0;
  // Hides this dialog and the main window and trims the working set; the
  // connection stays up.
  virtual void HideWithMainWindow() = 0;
  // Shows the context menu at a screen point; the chosen command or 0.
  virtual int TrackContextMenu(int x, int y) = 0;
  // A one-shot timer for the tips; 0 stops it.
  virtual void ArmTipTimer(std::uint32_t ms) = 0;
};

// A file dialog filter in the "text|patterns|text|patterns||" form, split
// into its pieces; an unpaired last piece is dropped.
std::vector<std::wstring> SplitDialogFilter(const std::wstring& filter);

class CAccelerateController {
 public:
  CAccelerateController(IAcceleratedApps& apps, IAccelerateView& view) : apps_(apps), view_(view) {}

  // The first tip; the counter starts at 0 with each dialog.
  void SetUp();
  // The tips turn every 15 s while the dialog is visible.
  void Shown(Tick now);
  void Hidden();
  void TipTimer(Tick now);
  int TipIndex() const { return tip_; }

  // A button or context-menu command; false for one it does not know.
  bool Command(int id);
  void DoubleClick();
  void ContextMenu(int screenX, int screenY);
  // One batch from one drop, in drop order.
  void FilesDropped(const std::vector<std::wstring>& paths);

 private:
  void AddFromFolder(AccelFolder folder);
  void ModifyRule();
  void ActivateAndRun();

  IAcceleratedApps& apps_;
  IAccelerateView& view_;
  int tip_ = 0;
  bool visible_ = false;
  Tick tipDue_ = 0;
};

// The bind settings dialog's content: its title, the two boxes checked from
// the caller's options, and what it hands back.
class CBindSettingsModel {
 public:
  explicit CBindSettingsModel(BindOptions initial) : initial_(initial), checks_(initial) {}
  static std::wstring Title();
  // Box 0 is the asynchronous mode, box 1 the forced binding.
  static std::wstring BoxText(int box);
  bool Checked(int box) const { return box == 0 ? checks_.useAsyncMode : checks_.forceWspBind; }
  void SetChecked(int box, bool checked) { (box == 0 ? checks_.useAsyncMode : checks_.forceWspBind) = checked; }
  // OK takes the boxes; Cancel leaves the options as they came in.
  BindOptions Result(bool ok) const { return ok ? checks_ : initial_; }

 private:
  BindOptions initial_;
  BindOptions checks_;
};

// How the application list draws (colours 0x00BBGGRR).
struct AppStatusLook {
  std::wstring icon;  // skin cell, at the cell's top-left
  std::wstring text;
  std::uint32_t color = 0;
  int textOffsetY = 16;  // below the icon
};
AppStatusLook LookOfAppStatus(bool active);
// Text colour of a row's cell outside the status column.
std::uint32_t AppCellTextColor(int column, bool active, bool firstSelected);

struct AppListNoticeLine {
  std::wstring text;
  int top = 0;  // centred horizontally, one line
};
constexpr std::uint32_t kAppListNoticeColor = 150 | (150 << 8) | (150 << 16);
// The two lines an empty list shows instead of rows.
std::vector<AppListNoticeLine> AppListEmptyNotice(int listHeight);

struct AppListColumn {
  std::wstring title;
  int width = 0;
};
std::vector<AppListColumn> AppListColumns();

// The application list's sort: column 0 by name, column 1 by key, both
// through `compareNoCase`; other columns compare equal.
using TextCompare = int (*)(const std::wstring&, const std::wstring&);
int CompareAppRows(const std::wstring& nameA, const std::wstring& keyA, const std::wstring& nameB,
                   const std::wstring& keyB, int column, int direction, TextCompare compareNoCase);
