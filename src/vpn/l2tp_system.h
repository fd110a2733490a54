// Preparing the system for L2TP/IPSec through the dial-up service: the two
// registry values that must agree with the server's pre-shared key, the
// question whether to apply a change now (reboot or restart the services),
// and the service helpers the connect flow uses.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "account/machine_registry_port.h"
#include "platform/blocked_operation.h"
#include "platform/clock.h"
#include "vpn/l2tp_ports.h"

constexpr wchar_t kRasManParametersKey[] = L"SYSTEM\\CurrentControlSet\\Services\\RasMan\\Parameters";
constexpr wchar_t kPolicyAgentKey[] = L"SYSTEM\\CurrentControlSet\\Services\\PolicyAgent";
constexpr wchar_t kIpSecKey[] = L"SYSTEM\\CurrentControlSet\\Services\\IPSec";
constexpr wchar_t kProhibitIpSecValue[] = L"ProhibitIpSec";
constexpr wchar_t kUdpEncapsulationValue[] = L"AssumeUDPEncapsulationContextOnSendRule";
constexpr std::uint32_t kRebootReasonApplication = 0x40000;

// Everything of the system the preparation touches.
struct L2tpSystem {
  IMachineRegistry& registry;
  IServiceControl& services;
  IProcessControl& processes;
  IPrivileges& privileges;
  ISystemPower& power;
  IClock& clock;
  std::uint32_t majorVersion;
};

// How the preparation talks to the user.
class IL2tpPrompt {
 public:
  virtual bool AskYesNo(const std::wstring& text) = 0;
  // Runs `operation` behind the blocked-operation dialog and returns when
  // it has finished.
  virtual void RunBlocked(IOperation& operation) = 0;

 protected:
  ~IL2tpPrompt() = default;
};

// What the registry values tell, decided apart from the system.
struct L2tpRegistryPlan {
  const wchar_t* encapsulationKey;
  bool rebootNeeded;
};
L2tpRegistryPlan PlanL2tpRegistry(std::uint32_t majorVersion);
std::uint32_t WantedProhibitIpSec(const std::wstring& preSharedKey);

void PrepareSystemForL2tp(L2tpSystem& system, IL2tpPrompt& prompt, const std::wstring& preSharedKey);

// 1 when the service's state number has a bit of `mask`, 0 when not, 2 when
// the state cannot be read.
int ServiceStateMatches(IServiceManager* manager, std::wstring_view name, std::uint32_t mask);
// Starts the service unless it runs or is starting, turning a disabled one
// to automatic start first; waits up to 10 s while it reports start-pending.
void EnsureServiceRunning(std::wstring_view name, IServiceManager* manager, IClock& clock);
void EnsureDialupServices(L2tpSystem& system);
bool EnableDebugPrivilege(IPrivileges& privileges);
bool RebootSystem(IPrivileges& privileges, ISystemPower& power);
// Ends the dial-up manager's host process, restarts what it took down, and
// restarts the policy agent. Blocks for seconds.
void RestartVpnRelatedServices(L2tpSystem& system);

class CBlockedOperation_RestartVpnRelatedServices_L2TP : public IOperation {
 public:
  // The dialog stays at least `minimumShowMs`, so that it does not flash by.
  explicit CBlockedOperation_RestartVpnRelatedServices_L2TP(L2tpSystem& system, std::uint32_t minimumShowMs = 3000)
      : system_(system), minimumShowMs_(minimumShowMs) {}
  void Run(IBlockedOperationHost& dialog) override;
  void OnTimer() override {}

 private:
  L2tpSystem& system_;
  std::uint32_t minimumShowMs_;
};

// The system's own ports with their L2tpSystem, for the main window.
// Windows only.
class CSystemL2tp {
 public:
  CSystemL2tp();
  ~CSystemL2tp();
  L2tpSystem& Get() { return *system_; }

 private:
  std::unique_ptr<IMachineRegistry> registry_;
  std::unique_ptr<IServiceControl> services_;
  std::unique_ptr<IProcessControl> processes_;
  std::unique_ptr<IPrivileges> privileges_;
  std::unique_ptr<ISystemPower> power_;
  std::unique_ptr<L2tpSystem> system_;
};
