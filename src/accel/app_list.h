// The accelerated application list: one INI section per application the user
// named, shared by every user and read by the bind module in other
// processes. The rows live in the accelerate dialog's list control; the rules
// here see it only through IAppRows, and the shell only through small ports.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct VpnAppItem {
  std::wstring name;  // the key after its last backslash
  std::int32_t active = 0;
  std::wstring key;  // the section name: the path as the user gave it
};

// The list control as the rules see it. A row owns its item.
class IAppRows {
 public:
  virtual ~IAppRows() = default;
  virtual int RowCount() const = 0;
  // The new row's index, or -1.
  virtual int AppendRow(std::unique_ptr<VpnAppItem> item, int image) = 0;
  virtual void SetCellText(int row, int column, const std::wstring& text) = 0;
  virtual VpnAppItem* Item(int row) = 0;
  virtual bool IsSelected(int row) const = 0;
  virtual void DeleteRow(int row) = 0;
  virtual void RedrawRow(int row) = 0;
  virtual void Repaint() = 0;
};

class IShortcutResolver {
 public:
  virtual ~IShortcutResolver() = default;
  virtual bool ResolveShortcutTarget(const std::wstring& shortcut, std::wstring& target) = 0;
};

class IAppLauncher {
 public:
  virtual ~IAppLauncher() = default;
  // Runs the file as a child of the desktop shell's own process.
  virtual bool LaunchThroughDesktopShell(const std::wstring& file) = 0;
  // The system's shell-execute, owned by `owner`.
  virtual bool LaunchDirect(void* owner, const std::wstring& file) = 0;
};

class ISystemImageList {
 public:
  virtual ~ISystemImageList() = default;
  // By name and extension only; the file is never opened.
  virtual int ImageIndexFor(const std::wstring& fileName) = 0;
};

constexpr int kAppListModeLoad = 0;
constexpr int kAppListModeAdd = 1;

// ProgramDataFolder() + "applist.ini", worked out once per process.
std::wstring AppListPath();

class CAppList {
 public:
  CAppList(IShortcutResolver& resolver, IAppLauncher& launcher, ISystemImageList& images,
           std::wstring path = AppListPath());

  const std::wstring& Path() const { return path_; }

  // The new row's index, or -1 for anything but a program or a shortcut to one.
  int AddApplication(IAppRows& rows, const std::wstring& path, int mode);
  void LoadAppList(IAppRows& rows);
  void RemoveSelectedApplications(IAppRows& rows);
  std::vector<std::wstring> ActivateSelectedApplications(IAppRows& rows);
  // Empty when nothing is selected.
  std::wstring ActivateFirstSelected(IAppRows& rows);
  void SetBindOptions(IAppRows& rows, bool useAsyncMode, bool forceWspBind);
  void LaunchApplication(void* owner, const std::wstring& key);

 private:
  void Activate(IAppRows& rows, int row);

  IShortcutResolver& resolver_;
  IAppLauncher& launcher_;
  ISystemImageList& images_;
  std::wstring path_;
};

// The installer service's advertised shortcuts (a product code and a
// component behind the shortcut instead of a path).
class IInstallerShortcuts {
 public:
  virtual ~IInstallerShortcuts() = default;
  // True only for a component installed locally; `target` is its path.
  virtual bool ResolveAdvertised(const std::wstring& shortcut, std::wstring& target) = 0;
};

// Windows: the installer step first, then the shell link object.
std::unique_ptr<IShortcutResolver> CreateShellShortcutResolver(std::unique_ptr<IInstallerShortcuts> installer);
std::unique_ptr<IInstallerShortcuts> CreateSystemInstallerShortcuts();

// The platform's ports (Win32: shell link and installer, desktop shell, system
// image list; elsewhere: what the platform has, or nothing).
std::unique_ptr<IShortcutResolver> CreateSystemShortcutResolver();
std::unique_ptr<IAppLauncher> CreateSystemAppLauncher();
std::unique_ptr<ISystemImageList> CreateSystemImageList();
