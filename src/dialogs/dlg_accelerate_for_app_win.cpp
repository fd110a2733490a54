#include "dialogs/dlg_accelerate_for_app_win.h"

#include <commdlg.h>
#include <shlobj.h>

#include "dialogs/vpn_app_list_ctrl_win.h"
#include "skin/skin_window_win.h"
#include "text/text_table.h"
#include "ui/dialog_win.h"

namespace {

constexpr UINT_PTR kTipTimer = 1;

// The application list over the dialog's list control.
class CListAccelApps : public IAcceleratedApps {
 public:
  CListAccelApps(CAppList& list, CVpnAppListCtrl& rows, HWND& owner) : list_(list), rows_(rows), owner_(owner) {}
  int AddApplication(const std::wstring& path) override { return list_.AddApplication(rows_, path, kAppListModeAdd); }
  void RemoveSelectedApplications() override { list_.RemoveSelectedApplications(rows_); }
  std::vector<std::wstring> ActivateSelectedApplications() override {
    return list_.ActivateSelectedApplications(rows_);
  }
  std::wstring ActivateFirstSelected() override { return list_.ActivateFirstSelected(rows_); }
  std::vector<std::wstring> SelectedKeys() override {
    std::vector<std::wstring> keys;
    for (int row = 0; row < rows_.RowCount(); ++row)
      if (rows_.IsSelected(row) && rows_.Item(row)) keys.push_back(rows_.Item(row)->key);
    return keys;
  }
  BindOptions ReadBindOptions(const std::wstring& key) override {
    return ReadBindOptionsFromListFile(list_.Path(), key);
  }
  void SetBindOptions(const BindOptions& options) override {
    list_.SetBindOptions(rows_, options.useAsyncMode, options.forceWspBind);
  }
  void LaunchApplication(const std::wstring& key) override { list_.LaunchApplication(owner_, key); }

 private:
  CAppList& list_;
  CVpnAppListCtrl& rows_;
  HWND& owner_;
};

int MessageBoxIcon(AccelIcon icon) { return icon == AccelIcon::Warning ? MB_ICONWARNING : MB_ICONINFORMATION; }

class CDlgVpnAppBindSetting : public CDialog {
 public:
  explicit CDlgVpnAppBindSetting(BindOptions options) : model_(options) {}
  BindOptions Result(bool ok) const { return model_.Result(ok); }

 protected:
  bool OnInitDialog() override {
    SetText(CBindSettingsModel::Title());
    SetSize(300, 200);
    for (const wchar_t* box : {L"MaximizeBox", L"CloseBox", L"MinimizeBox"})
      CSkinAttributes::IntRef(skinWindow_.attributes, box) = 0;
    skinWindow_.Attach(Handle());
    for (int box = 0; box < 2; ++box) {
      const int top = 60 + 40 * box;
      // Wider than 150 pixels: the texts do not fit in the dialog's font.
      CreateSkinCheckBox(boxes_[box], CBindSettingsModel::BoxText(box), MakeRect(30, top, 280, top + 20), Handle(),
                         1100 + box);
      boxes_[box].SetCheck(model_.Checked(box) ? BST_CHECKED : BST_UNCHECKED);
    }
    CreateSkinButton(ok_, GetText("OK"), MakeRect(110, 150, 190, 180), Handle(), IDOK);
    CreateSkinButton(cancel_, GetText("Cancel"), MakeRect(200, 150, 280, 180), Handle(), IDCANCEL);
    return true;
  }
  void OnOK() override {
    for (int box = 0; box < 2; ++box) model_.SetChecked(box, boxes_[box].GetCheck() == BST_CHECKED);
    EndDialog(IDOK);
  }

 private:
  CBindSettingsModel model_;
  CSkinWindow skinWindow_;
  CSkinCheckBox boxes_[2];
  CSkinButton ok_, cancel_;
};

}  // namespace

class CAccelerateDialogImpl : public CDialog, public IAccelerateView {
 public:
  explicit CAccelerateDialogImpl(AccelerateDialogInputs inputs)
      : inputs_(std::move(inputs)),
        resolver_(CreateSystemShortcutResolver()),
        systemLauncher_(CreateSystemAppLauncher()),
        images_(CreateSystemImageList()),
        appList_(*resolver_, inputs_.launcher ? *inputs_.launcher : *systemLauncher_, *images_, inputs_.appListPath),
        apps_(appList_, list_, window_),  // the dialog's own handle, once it has one
        controller_(apps_, *this) {}

  HWND mainWindow = nullptr;

  // IAccelerateView
  void SetTip(const std::wstring& text) override {
    tip_.SetText(text);
    tip_.Invalidate(false);
  }
  void ShowMessage(const std::wstring& text, AccelIcon icon) override {
    const UINT type = MB_OK | static_cast<UINT>(MessageBoxIcon(icon));
    if (inputs_.messageBox)
      inputs_.messageBox(Handle(), text, type);
    else
      ::MessageBoxW(Handle(), text.c_str(), L"Quillnet", type);
  }
  std::wstring FolderPath(AccelFolder folder) override {
    const int id = folder == AccelFolder::UserStartMenu     ? CSIDL_PROGRAMS
                   : folder == AccelFolder::CommonStartMenu ? CSIDL_COMMON_PROGRAMS
                                                            : CSIDL_PROGRAM_FILES;
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, id, nullptr, SHGFP_TYPE_CURRENT, path))) return L"";
    return path;
  }
  bool ChooseFile(const std::wstring& folder, const std::vector<std::wstring>& filter, std::wstring& path) override {
    if (inputs_.chooseFile) return inputs_.chooseFile(folder, path);
    std::wstring pieces;
    for (const std::wstring& piece : filter) pieces += piece + L'\0';
    pieces += L'\0';
    wchar_t file[MAX_PATH] = {};
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = Handle();
    ofn.lpstrFilter = pieces.c_str();
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrInitialDir = folder.c_str();
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_EXPLORER;
    // Loaded when first asked for: importing the common dialogs cost every
    // start of the client about 8 ms under Wine, for a box few users open.
    static HMODULE dialogs = ::LoadLibraryExW(L"comdlg32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    using OpenFileFunction = BOOL(WINAPI*)(OPENFILENAMEW*);
    const auto open = dialogs ? reinterpret_cast<OpenFileFunction>(
                                    reinterpret_cast<void*>(::GetProcAddress(dialogs, "GetOpenFileNameW")))
                              : nullptr;
    if (!open || !open(&ofn)) return false;
    path = file;
    return true;
  }
  bool RunBindSettings(BindOptions& options) override {
    if (inputs_.runBindSettings) return inputs_.runBindSettings(options);
    return RunVpnAppBindSettingDialog(Handle(), options);
  }
  void RevealRow(int row) override {
    ::SendMessageW(list_.Handle(), LVM_ENSUREVISIBLE, row, FALSE);
    ::SendMessageW(list_.Handle(), LVM_SETSELECTIONMARK, 0, row);
  }
  void HideWithMainWindow() override {
    Show(false);
    if (mainWindow) ::ShowWindow(mainWindow, SW_HIDE);
    ::SetProcessWorkingSetSize(::GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
  }
  int TrackContextMenu(int x, int y) override {
    HMENU menu = ::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kAccelContextMenu));
    if (!menu) return 0;
    const int chosen = static_cast<int>(::TrackPopupMenu(::GetSubMenu(menu, 0), TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y,
                                                         0, Handle(), nullptr));
    ::DestroyMenu(menu);
    return chosen;
  }
  void ArmTipTimer(std::uint32_t ms) override {
    if (ms == 0)
      KillTimer(kTipTimer);
    else
      SetTimer(kTipTimer, ms);
  }

 protected:
  bool OnInitDialog() override {
    SetText(L"Quillnet");
    SetSize(500, 464, false);
    CSkinAttributes::IntRef(skinWindow_.attributes, L"MaximizeBox") = 0;
    CSkinAttributes::IntRef(skinWindow_.attributes, L"MinimizeBox") = 0;
    skinWindow_.Attach(Handle());
    // The frame's top band is cut away; the skin keeps a region it did not set.
    ::SetWindowRgn(Handle(), ::CreateRectRgn(0, 34, 500, 464), FALSE);

    CreateSkinStatic(tip_, GetText("VpnAppUsageTip1"), MakeRect(12, 45, 492, 87), Handle(), kAccelTip);
    tip_.OwnInt(L"TextColor") = static_cast<std::int32_t>(RGB(0, 106, 146));
    tip_.SetOwnString(L"Icon", L"IconTipInfo");
    list_.Create(Handle(), MakeRect(10, 90, 490, 410), kAccelAppList);
    list_.onFilesDropped = [this](const std::vector<std::wstring>& paths) { controller_.FilesDropped(paths); };
    appList_.LoadAppList(list_);
    list_.ResetSort();
    // Done first: made last, Wine leaves it unpainted in this dialog.
    CreateSkinButton(done_, GetText("VpnAppButtonDone"), MakeRect(400, 420, 490, 450), Handle(), IDCANCEL);
    CreateSkinButton(help_, GetText("Help"), MakeRect(10, 420, 100, 450), Handle(), kCmdAccelHelp);
    CreateSkinButton(activate_, GetText("VpnAppButtonActivateOnly"), MakeRect(150, 420, 250, 450), Handle(),
                     kCmdAccelActivate);
    CreateSkinButton(activateAndRun_, GetText("VpnAppButtonActivateAndRun"), MakeRect(260, 420, 390, 450), Handle(),
                     IDOK);
    controller_.SetUp();
    return true;
  }
  void OnOK() override { controller_.Command(kCmdAccelActivateAndRun); }
  void OnCancel() override { controller_.Command(kCmdAccelDone); }
  void OnCommand(int id, int code, HWND control) override {
    if (id == IDOK || id == IDCANCEL) {
      CDialog::OnCommand(id, code, control);
      return;
    }
    controller_.Command(id);
  }
  void OnTimer(UINT_PTR id) override {
    if (id != kTipTimer) return;
    KillTimer(kTipTimer);
    controller_.TipTimer(GetTickMs());
  }
  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
    switch (message) {
      case WM_SHOWWINDOW:
        if (wParam)
          controller_.Shown(GetTickMs());
        else
          controller_.Hidden();
        return false;
      case WM_NOTIFY: {
        const auto* nm = reinterpret_cast<const NMHDR*>(lParam);
        if (nm && nm->hwndFrom == list_.Handle()) {
          if (nm->code == NM_DBLCLK) {
            controller_.DoubleClick();
            result = 0;
            return true;
          }
          if (nm->code == NM_RCLICK) {
            POINT p{};
            ::GetCursorPos(&p);
            controller_.ContextMenu(p.x, p.y);
            result = 0;
            return true;
          }
        }
        return ReflectListNotify(lParam, result);
      }
    }
    return false;
  }

 private:
  AccelerateDialogInputs inputs_;
  std::unique_ptr<IShortcutResolver> resolver_;
  std::unique_ptr<IAppLauncher> systemLauncher_;
  std::unique_ptr<ISystemImageList> images_;
  CAppList appList_;
  CVpnAppListCtrl list_;
  CListAccelApps apps_;
  CAccelerateController controller_;
  CSkinWindow skinWindow_;
  CSkinStatic tip_;
  CSkinButton help_, activate_, activateAndRun_, done_;
};

CDlgAccelerateForApp::CDlgAccelerateForApp(AccelerateDialogInputs inputs)
    : impl_(std::make_unique<CAccelerateDialogImpl>(std::move(inputs))) {}

CDlgAccelerateForApp::~CDlgAccelerateForApp() = default;

bool CDlgAccelerateForApp::Create(HWND mainWindow) {
  impl_->mainWindow = mainWindow;
  return impl_->Create(mainWindow);
}

void CDlgAccelerateForApp::Show(bool visible) { impl_->Show(visible); }
void CDlgAccelerateForApp::Destroy() { impl_->Destroy(); }
HWND CDlgAccelerateForApp::Handle() const { return impl_->Handle(); }

bool RunVpnAppBindSettingDialog(HWND owner, BindOptions& options) {
  CDlgVpnAppBindSetting dialog(options);
  if (dialog.DoModal(owner) != IDOK) return false;
  options = dialog.Result(true);
  return true;
}
