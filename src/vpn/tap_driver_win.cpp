#include "platform/win32.h"

#include <cfgmgr32.h>
#include <rpc.h>
#include <setupapi.h>
#include <shellapi.h>

#include "platform/file_io.h"
#include "vpn/console_redirector.h"
#include "vpn/open_vpn.h"
#include "vpn/tap_driver.h"
#include "vpn/tap_driver_platform.h"

namespace {

constexpr wchar_t kNetClassGuid[] = L"4D36E972-E325-11CE-BFC1-08002BE10318";

void EnableDebugPrivilege() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
  TOKEN_PRIVILEGES tp{};
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (::LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &tp.Privileges[0].Luid))
    ::AdjustTokenPrivileges(token, FALSE, &tp, sizeof tp, nullptr, nullptr);
  ::CloseHandle(token);
}

// The adapter gets its address from the DHCP client service.
void EnsureDhcpRuns() {
  SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return;
  if (SC_HANDLE service = ::OpenServiceW(manager, L"Dhcp", SERVICE_QUERY_STATUS | SERVICE_START)) {
    SERVICE_STATUS status{};
    if (::QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED)
      ::StartServiceW(service, 0, nullptr);
    ::CloseServiceHandle(service);
  }
  ::CloseServiceHandle(manager);
}

std::string RunAndCollect(const std::wstring& commandLine) {
  CCConsoleRedirectorSimple child;
  if (!child.StartChild(commandLine)) return {};
  child.WaitReaderIdle(INFINITE);
  return child.GetOutput();
}

class CWinTapSystem : public ITapSystem {
 public:
  ~CWinTapSystem() override {
    if (devices_ != INVALID_HANDLE_VALUE) ::SetupDiDestroyDeviceInfoList(devices_);
  }
  std::string ShowAdapters() override {
    return RunAndCollect(L"\"" + OpenVpnDirectory() + L"openvpn.exe\" --show-adapters");
  }
  bool ListNetworkDevices(std::vector<TapDevice>& out) override {
    GUID netClass;
    if (::UuidFromStringW(reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(kNetClassGuid)), &netClass) != RPC_S_OK)
      return false;
    devices_ = ::SetupDiGetClassDevsW(&netClass, nullptr, nullptr, DIGCF_PRESENT);
    if (devices_ == INVALID_HANDLE_VALUE) return false;
    for (DWORD i = 0;; ++i) {
      SP_DEVINFO_DATA info{};
      info.cbSize = sizeof info;
      if (!::SetupDiEnumDeviceInfo(devices_, i, &info)) break;
      TapDevice device;
      wchar_t description[2048] = {}, hardwareId[2048] = {};
      device.propertiesRead =
          ::SetupDiGetDeviceRegistryPropertyW(devices_, &info, SPDRP_DEVICEDESC, nullptr,
                                              reinterpret_cast<BYTE*>(description), sizeof description, nullptr) &&
          ::SetupDiGetDeviceRegistryPropertyW(devices_, &info, SPDRP_HARDWAREID, nullptr,
                                              reinterpret_cast<BYTE*>(hardwareId), sizeof hardwareId, nullptr);
      description[2047] = 0;
      device.description = description;
      infos_.push_back(info);
      out.push_back(device);
    }
    return true;
  }
  std::optional<DevNodeStatus> ReadStatus(std::size_t device) override {
    ULONG status = 0, problem = 0;
    if (device >= infos_.size() || ::CM_Get_DevNode_Status(&status, &problem, infos_[device].DevInst, 0) != CR_SUCCESS)
      return std::nullopt;
    return DevNodeStatus{status, problem};
  }
  void EnableTapAdapters() override {
    RunAndCollect(L"\"" + OpenVpnDriverDirectory() + L"tapinstall.exe\" enable *tap0901_openvpn_accl*");
  }

 private:
  HDEVINFO devices_ = INVALID_HANDLE_VALUE;
  std::vector<SP_DEVINFO_DATA> infos_;
};

BOOL CALLBACK RaiseInstallerWindow(HWND window, LPARAM processId) {
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner == static_cast<DWORD>(processId) && ::IsWindowVisible(window)) {
    ::ShowWindow(window, SW_SHOWNORMAL);
    ::SetForegroundWindow(window);
    ::BringWindowToTop(window);
    ::SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  }
  return TRUE;
}

}  // namespace

bool RunsOn64BitWindows() {
#ifdef _WIN64
  return true;
#else
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32");
  auto isWow64 = kernel ? reinterpret_cast<IsWow64ProcessFn>(
                              reinterpret_cast<void*>(::GetProcAddress(kernel, "IsWow64Process")))
                        : nullptr;
  BOOL wow64 = FALSE;
  return isWow64 && isWow64(::GetCurrentProcess(), &wow64) && wow64;
#endif
}

// The signed driver package ships only where the operator has one: without
// it the component still runs, and the driver installation reports that it
// cannot install the driver instead of the client asking for an upgrade
// that would bring no driver either.
std::vector<std::wstring> OpenVpnComponentFiles(const std::wstring& openVpnDir, const std::wstring&) {
  return {openVpnDir + L"openvpn.exe", openVpnDir + L"ca.crt"};
}

bool OpenVpnProgramAvailable(const std::wstring&) { return true; }  // openvpn.exe is one of the files

bool IsTapAdapterReady() {
  EnableDebugPrivilege();
  EnsureDhcpRuns();
  CWinTapSystem system;
  return IsTapAdapterReady(system);
}

bool CBlockedOperation_InstallOpenVpnDriver::RunInstaller() {
  const std::wstring driverDir = OpenVpnDriverDirectory();
  const std::wstring program = driverDir + L"tapinstall.exe";
  const std::wstring parameters = L"install \"" + driverDir + L"OemWin2k.inf\" tap0901_openvpn_accl";
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpFile = program.c_str();
  info.lpParameters = parameters.c_str();
  info.lpDirectory = L"";
  info.nShow = SW_HIDE;
  if (!::ShellExecuteExW(&info) || !info.hProcess) return false;
  installerProcess = info.hProcess;
  installerProcessId = ::GetProcessId(info.hProcess);
  ::WaitForSingleObject(info.hProcess, INFINITE);
  ::CloseHandle(info.hProcess);
  installerProcess = nullptr;
  return true;
}

void CBlockedOperation_InstallOpenVpnDriver::OnTimer() {
  const std::uint32_t id = installerProcessId.load();
  if (id) ::EnumWindows(RaiseInstallerWindow, static_cast<LPARAM>(id));
}
