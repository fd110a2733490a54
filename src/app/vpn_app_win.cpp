#include "app/vpn_app_win.h"

#include <commctrl.h>
#include <objbase.h>
#include <winsock2.h>

#include "accel/bind_module.h"
#include "account/machine_identity.h"
#include "account/settings.h"
#include "app/dlg_download_win.h"
#include "app/leak_guard_win.h"
#include "app/server_chooser_win.h"
#include "app/shell_launch.h"
#include "app/startup_win.h"
#include "platform/file_io.h"
#include "routing/route_table.h"
#include "skin/registered_skin.h"
#include "skin/skin_platform_win.h"
#include "skin/skin_attributes.h"
#include "text/text_table.h"
#include "ui/message_loop_win.h"

CVpnApp::CVpnApp() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  modulePath_.assign(path, n);
  moduleFolder_ = ModuleFolder();
  wchar_t system[MAX_PATH] = {};
  const UINT s = ::GetSystemDirectoryW(system, MAX_PATH);
  systemFolder_.assign(system, s);
  systemFolder_ += L"\\";
  // Downloads live where only administrators can write, not beside the
  // documents every user can read.
  const std::wstring download = UpdateDownloadFolder();
  installerDownloadPath_ = download + L"QuillnetInstaller.exe";
  clientDownloadPath_ = download + L"Quillnet.exe";
}

CVpnApp::~CVpnApp() { ExitInstance(); }

bool CVpnApp::InitInstance(const std::vector<std::wstring>& arguments, ChooserFunction chooser) {
  chooser_ = std::move(chooser);
  return RunStartup(*this, ParseCommandLine(arguments));
}

int CVpnApp::Run() { return RunMessageLoop(); }

void CVpnApp::ExitInstance() {
  mainWindow_.reset();
  curl_.reset();
  if (instanceMutex_) ::CloseHandle(instanceMutex_);
  instanceMutex_ = nullptr;
  if (socketsStarted_) ::WSACleanup();
  socketsStarted_ = false;
  if (comStarted_) ::CoUninitialize();
  comStarted_ = false;
}

void CVpnApp::SeedRandom() { SeedRandomFromClock(); }

bool CVpnApp::StartSocketLibrary() {
  WSADATA data{};
  return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void CVpnApp::OpenAndCloseSocket() {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s != INVALID_SOCKET) ::closesocket(s);
}

void CVpnApp::StopSocketLibrary() { ::WSACleanup(); }

bool CVpnApp::IsBindModuleLoaded() { return ::GetModuleHandleW(L"QuillnetBind.dll") != nullptr; }

std::uint32_t CVpnApp::RegisterBindModule(bool doRegister) {
  const std::unique_ptr<IModuleLoader> loader = CreateSystemModuleLoader();
  return static_cast<std::uint32_t>(doRegister ? ::RegisterBindModule(*loader) : ::UnregisterBindModule(*loader));
}

void CVpnApp::LoadTexts() { LoadTextTable(); }

void CVpnApp::InitComAndControls() {
  comStarted_ = SUCCEEDED(::CoInitialize(nullptr));
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&controls);
}

void CVpnApp::InitFramework() { RegisterBusyBarClass(); }

void CVpnApp::RegisterSkin() {
  DecodeSkinImagesWhenDrawn();
  ::RegisterSkin(GetSkinAttributes());
}

void CVpnApp::AllowDroppedFiles() { AllowDroppedFilesWin(); }

bool CVpnApp::RunUpdateSwitch(const std::wstring& target) {
  CWinUpdateSwitchPorts ports;
  return ::RunUpdateSwitch(ports, modulePath_, target);
}

void CVpnApp::ShowMessage(const std::wstring& text, BoxIcon icon) { ShowClientMessage(nullptr, text, icon); }

bool CVpnApp::CreateInstanceMutex() {
  bool existed = false;
  instanceMutex_ = static_cast<HANDLE>(CreateSingleInstanceMutex(kSingleInstanceMutexName, existed));
  return existed;
}

bool CVpnApp::FindFirstInstanceWindow() {
  firstInstance_ = FindMainWindowOfOtherInstance();
  return firstInstance_ != nullptr;
}

void CVpnApp::ShowFirstInstanceWindow() {
  // The first instance may still have been starting when we looked.
  if (!firstInstance_) firstInstance_ = FindMainWindowOfOtherInstance();
  if (firstInstance_) ::PostMessageW(firstInstance_, kShowMainWindowMessage, 0, 0);
}

void CVpnApp::ReplayRouteJournal() {
  routing_ = std::make_unique<CAppRouting>(CreateSystemForwardTable(), ProgramDataFolder());
  routing_->ReplayAtStart();
  LiftLeftoverLeakBlock();
}

void CVpnApp::DeleteLeftoverDownloads() {
  RemoveFile(installerDownloadPath_);
  RemoveFile(clientDownloadPath_);
}

void CVpnApp::ComputeMachineIdentities() {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  ::GetVersionExW(&version);
  identities_ = ComputeMachineIdentitiesLater(&MakePlatformMachineInfoSource, static_cast<int>(version.dwMajorVersion),
                                              static_cast<int>(version.dwMinorVersion));
}

void CVpnApp::StartSockets() {
  WSADATA data{};
  socketsStarted_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void CVpnApp::StepDone(const char* step) { TraceStartupStep(step); }

bool CVpnApp::CreateMainWindow() {
  curl_ = std::make_unique<CCurlGlobal>();
  TraceStartupStep("curl");
  MainWindowContext context;
  context.places.update.modulePath = modulePath_;
  context.places.update.moduleFolder = moduleFolder_;
  context.places.update.installerDownloadPath = installerDownloadPath_;
  context.places.update.clientDownloadPath = clientDownloadPath_;
  context.places.update.overridePath = OverrideFilePath();
  context.places.programDataFolder = ProgramDataFolder();
  context.places.announcementsPath = context.places.programDataFolder + L"QuillnetAnns.ini";
  context.identities = identities_;
  context.routes = routing_ ? &routing_->Table() : nullptr;
  context.chooser = chooser_;
  if (!context.chooser)
    context.chooser = [this](HWND owner, const std::wstring& replyPath) {
      return RunServerChooser(owner, replyPath, [this, replyPath] { mainWindow_->StartFullUpdateAndExit(replyPath); });
    };
  mainWindow_ = std::make_unique<CDlgVpnMain>(std::move(context));
  if (!mainWindow_->Create()) return false;
  TraceStartupStep("dialog-created");
  mainWindow_->ShowMainWindow();
  return true;
}
