// The application object: the fixed paths, InitInstance's steps (the order
// is RunStartup's) and ExitInstance. The program runs while the main window
// exists.
#pragma once
#include "platform/win32.h"

#include <future>
#include <memory>
#include <string>

#include "account/account_service.h"
#include "account/curl_plus.h"
#include "app/app_routing.h"
#include "app/dlg_vpn_main_win.h"
#include "app/startup.h"

class CVpnApp : public IStartupPorts {
 public:
  CVpnApp();
  ~CVpnApp();

  // `chooser` is what the main window runs after a successful login.
  bool InitInstance(const std::vector<std::wstring>& arguments, ChooserFunction chooser);
  int Run();
  void ExitInstance();

  CDlgVpnMain* MainWindow() const { return mainWindow_.get(); }

  // IStartupPorts
  void SeedRandom() override;
  bool StartSocketLibrary() override;
  void OpenAndCloseSocket() override;
  void StopSocketLibrary() override;
  bool IsBindModuleLoaded() override;
  std::uint32_t RegisterBindModule(bool doRegister) override;
  void LoadTexts() override;
  void InitComAndControls() override;
  void InitFramework() override;
  void RegisterSkin() override;
  void AllowDroppedFiles() override;
  bool RunUpdateSwitch(const std::wstring& target) override;
  void ShowMessage(const std::wstring& text, BoxIcon icon) override;
  bool CreateInstanceMutex() override;
  bool FindFirstInstanceWindow() override;
  void ShowFirstInstanceWindow() override;
  void ReplayRouteJournal() override;
  void DeleteLeftoverDownloads() override;
  void ComputeMachineIdentities() override;
  void StartSockets() override;
  bool CreateMainWindow() override;
  void StepDone(const char* step) override;

 private:
  std::wstring modulePath_;
  std::wstring moduleFolder_;
  std::wstring systemFolder_;
  std::wstring installerDownloadPath_;
  std::wstring clientDownloadPath_;
  std::shared_future<MachineIdentities> identities_;
  std::unique_ptr<CDlgVpnMain> mainWindow_;
  HANDLE instanceMutex_ = nullptr;
  HWND firstInstance_ = nullptr;
  std::unique_ptr<CAppRouting> routing_;
  std::unique_ptr<CCurlGlobal> curl_;
  ChooserFunction chooser_;
  bool comStarted_ = false;
  bool socketsStarted_ = false;
};
