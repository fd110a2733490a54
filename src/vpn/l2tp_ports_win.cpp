#include "vpn/l2tp_ports.h"

#include <vector>

#include "platform/win32.h"

namespace {

constexpr DWORD kConfigBufferBytes = 8192;

class CWin32Service : public IService {
 public:
  explicit CWin32Service(SC_HANDLE handle) : handle_(handle) {}
  ~CWin32Service() override { ::CloseServiceHandle(handle_); }

  bool QueryStatus(ServiceStatus& status) override {
    SERVICE_STATUS_PROCESS raw{};
    DWORD needed = 0;
    if (!::QueryServiceStatusEx(handle_, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&raw), sizeof raw,
                                &needed)) {
      return false;
    }
    status = {raw.dwCurrentState, raw.dwWaitHint};
    return true;
  }
  bool QueryStartType(std::uint32_t& startType) override {
    // Aligned room for the record and the texts after it.
    std::vector<std::uint64_t> buffer(kConfigBufferBytes / sizeof(std::uint64_t));
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    DWORD needed = 0;
    if (!::QueryServiceConfigW(handle_, config, kConfigBufferBytes, &needed)) return false;
    startType = config->dwStartType;
    return true;
  }
  bool ChangeStartType(std::uint32_t startType) override {
    return ::ChangeServiceConfigW(handle_, SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr) != FALSE;
  }
  bool Start() override { return ::StartServiceW(handle_, 0, nullptr) != FALSE; }
  bool Stop(ServiceStatus& status) override {
    SERVICE_STATUS raw{};
    if (!::ControlService(handle_, SERVICE_CONTROL_STOP, &raw)) return false;
    status = {raw.dwCurrentState, raw.dwWaitHint};
    return true;
  }

 private:
  SC_HANDLE handle_;
};

class CWin32ServiceManager : public IServiceManager {
 public:
  explicit CWin32ServiceManager(SC_HANDLE handle) : handle_(handle) {}
  ~CWin32ServiceManager() override { ::CloseServiceHandle(handle_); }

  std::unique_ptr<IService> Open(std::wstring_view name) override {
    SC_HANDLE service = ::OpenServiceW(handle_, std::wstring(name).c_str(), SERVICE_ALL_ACCESS);
    if (!service) return nullptr;
    return std::make_unique<CWin32Service>(service);
  }

  bool EnumServices(std::vector<ServiceEntry>& services) override {
    DWORD needed = 0, count = 0, resume = 0;
    // First the size, then the list; a service installed in between makes
    // the second call short, so the size is asked again a few times.
    for (int attempt = 0; attempt < 4; ++attempt) {
      ::EnumServicesStatusExW(handle_, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, 0, &needed,
                              &count, &resume, nullptr);
      if (::GetLastError() != ERROR_MORE_DATA) return false;
      std::vector<std::uint64_t> buffer(needed / sizeof(std::uint64_t) + 1);
      const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t));
      resume = 0;
      if (!::EnumServicesStatusExW(handle_, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL,
                                   reinterpret_cast<BYTE*>(buffer.data()), bytes, &needed, &count, &resume,
                                   nullptr)) {
        if (::GetLastError() == ERROR_MORE_DATA) continue;
        return false;
      }
      const auto* rows = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
      services.clear();
      for (DWORD i = 0; i < count; ++i) {
        services.push_back({rows[i].lpServiceName ? rows[i].lpServiceName : L"",
                            rows[i].ServiceStatusProcess.dwCurrentState, rows[i].ServiceStatusProcess.dwProcessId});
      }
      return true;
    }
    return false;
  }

 private:
  SC_HANDLE handle_;
};

class CWin32ServiceControl : public IServiceControl {
 public:
  std::unique_ptr<IServiceManager> OpenManager() override {
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return nullptr;
    return std::make_unique<CWin32ServiceManager>(manager);
  }
};

class CWin32ProcessControl : public IProcessControl {
 public:
  bool Terminate(std::uint32_t processId) override {
    HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, processId);
    if (!process) return false;
    const bool ok = ::TerminateProcess(process, 0) != FALSE;
    ::CloseHandle(process);
    return ok;
  }
};

class CWin32Privileges : public IPrivileges {
 public:
  bool Enable(const std::wstring& name) override {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    bool ok = ::LookupPrivilegeValueW(nullptr, name.c_str(), &privileges.Privileges[0].Luid) != FALSE;
    // Success with ERROR_NOT_ALL_ASSIGNED means the token lacks it.
    ok = ok && ::AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr) != FALSE &&
         ::GetLastError() == ERROR_SUCCESS;
    ::CloseHandle(token);
    return ok;
  }
};

class CWin32SystemPower : public ISystemPower {
 public:
  bool Reboot(std::uint32_t reason) override { return ::ExitWindowsEx(EWX_REBOOT, reason) != FALSE; }
};

}  // namespace

std::unique_ptr<IServiceControl> CreateSystemServiceControl() { return std::make_unique<CWin32ServiceControl>(); }
std::unique_ptr<IProcessControl> CreateSystemProcessControl() { return std::make_unique<CWin32ProcessControl>(); }
std::unique_ptr<IPrivileges> CreateSystemPrivileges() { return std::make_unique<CWin32Privileges>(); }
std::unique_ptr<ISystemPower> CreateSystemPower() { return std::make_unique<CWin32SystemPower>(); }
