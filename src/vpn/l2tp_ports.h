// The system services, privileges and power control that the L2TP
// preparation and the dial-up service checks drive. Win32 implementations
// in l2tp_ports_win.cpp; tests use fakes.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Service state numbers, the system's own.
constexpr std::uint32_t kServiceStopped = 1;
constexpr std::uint32_t kServiceStartPending = 2;
constexpr std::uint32_t kServiceStopPending = 3;
constexpr std::uint32_t kServiceRunning = 4;
// Start types.
constexpr std::uint32_t kServiceAutoStart = 2;
constexpr std::uint32_t kServiceDisabled = 4;

struct ServiceStatus {
  std::uint32_t state = 0;
  std::uint32_t waitHintMs = 0;
};

// One row of a snapshot of every Win32 service.
struct ServiceEntry {
  std::wstring name;
  std::uint32_t state = 0;
  std::uint32_t processId = 0;
};

// An open service, closed with the object.
class IService {
 public:
  virtual ~IService() = default;
  virtual bool QueryStatus(ServiceStatus& status) = 0;
  virtual bool QueryStartType(std::uint32_t& startType) = 0;
  // Changes the start type only, leaving the rest of the configuration.
  virtual bool ChangeStartType(std::uint32_t startType) = 0;
  virtual bool Start() = 0;
  // Asks it to stop; `status` is what the service answered.
  virtual bool Stop(ServiceStatus& status) = 0;
};

// An open service manager (full access), closed with the object.
class IServiceManager {
 public:
  virtual ~IServiceManager() = default;
  virtual std::unique_ptr<IService> Open(std::wstring_view name) = 0;
  virtual bool EnumServices(std::vector<ServiceEntry>& services) = 0;
};

class IServiceControl {
 public:
  virtual ~IServiceControl() = default;
  virtual std::unique_ptr<IServiceManager> OpenManager() = 0;  // null when it fails
};

class IProcessControl {
 public:
  virtual ~IProcessControl() = default;
  virtual bool Terminate(std::uint32_t processId) = 0;
};

class IPrivileges {
 public:
  virtual ~IPrivileges() = default;
  // Enables a privilege ("SeDebugPrivilege") in the process's token.
  virtual bool Enable(const std::wstring& name) = 0;
};

class ISystemPower {
 public:
  virtual ~ISystemPower() = default;
  virtual bool Reboot(std::uint32_t reason) = 0;
};

// Windows only: the system's own.
std::unique_ptr<IServiceControl> CreateSystemServiceControl();
std::unique_ptr<IProcessControl> CreateSystemProcessControl();
std::unique_ptr<IPrivileges> CreateSystemPrivileges();
std::unique_ptr<ISystemPower> CreateSystemPower();
