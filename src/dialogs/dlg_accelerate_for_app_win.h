// The accelerate dialog beside the main window while a per-application
// connection is up, its application list, and the small bind settings
// dialog. The decisions are the accelerate controller's.
#pragma once
#include "platform/win32.h"

#include <functional>
#include <memory>
#include <string>

#include "accel/accelerate_controller.h"
#include "accel/app_list.h"

struct AccelerateDialogInputs {
  std::wstring appListPath = AppListPath();
  // Not owned; null: the system's desktop-shell launcher.
  IAppLauncher* launcher = nullptr;
  // A message box stand-in (tests); empty: the system's, captioned "Quillnet".
  std::function<int(HWND owner, const std::wstring& text, UINT type)> messageBox;
  // Stands in for the bind settings dialog (tests); empty: the real one.
  std::function<bool(BindOptions& options)> runBindSettings;
  // Stands in for the file-open dialog (tests); empty: the system's.
  std::function<bool(const std::wstring& folder, std::wstring& path)> chooseFile;
};

class CAccelerateDialogImpl;

// Created once per per-application connection, hidden; shown and hidden any
// number of times; destroyed on disconnect. Its tips turn while visible.
class CDlgAccelerateForApp {
 public:
  explicit CDlgAccelerateForApp(AccelerateDialogInputs inputs);
  ~CDlgAccelerateForApp();
  CDlgAccelerateForApp(const CDlgAccelerateForApp&) = delete;
  CDlgAccelerateForApp& operator=(const CDlgAccelerateForApp&) = delete;

  // The main window is not owned; "Done" hides it with this dialog.
  bool Create(HWND mainWindow);
  void Show(bool visible);
  void Destroy();
  HWND Handle() const;

 private:
  std::unique_ptr<CAccelerateDialogImpl> impl_;
};

// The bind settings dialog over `options`; true (and the new options) on OK.
bool RunVpnAppBindSettingDialog(HWND owner, BindOptions& options);

constexpr int kAccelAppList = 1030;
constexpr int kAccelTip = 1031;
