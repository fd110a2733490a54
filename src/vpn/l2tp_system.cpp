#include "vpn/l2tp_system.h"

#include <algorithm>
#include <cwctype>

#include "text/text_table.h"

namespace {

constexpr int kStartPendingPolls = 10;
constexpr std::uint32_t kStartPendingPollMs = 1000;
constexpr int kRasManStopPolls = 100;
constexpr std::uint32_t kRasManStopPollMs = 100;
constexpr std::uint32_t kPolicyAgentStopLimitMs = 3000;
constexpr std::uint32_t kMinimumStopPollMs = 10;

bool SameNameIgnoringCase(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
           return std::towlower(static_cast<wint_t>(x)) == std::towlower(static_cast<wint_t>(y));
         });
}

const ServiceEntry* FindService(const std::vector<ServiceEntry>& services, std::wstring_view name) {
  for (const ServiceEntry& s : services) {
    if (SameNameIgnoringCase(s.name, name)) return &s;
  }
  return nullptr;
}

// Reads a value that counts as 0 when missing, unreadable or of another type.
std::uint32_t ReadOrZero(IRegistryKey& key, std::wstring_view name) {
  std::uint32_t value = 0;
  return key.ReadDword(name, value) == 0 ? value : 0;
}

void StopPolicyAgent(IServiceManager& manager, IClock& clock) {
  std::unique_ptr<IService> agent = manager.Open(L"PolicyAgent");
  if (!agent) return;
  const Tick asked = clock.Now();
  ServiceStatus status;
  if (!agent->Stop(status)) return;
  while (status.state != kServiceStopped) {
    // A wait hint of 0 would spin and a long one would outlast the limit.
    const std::uint32_t spent = TickElapsed(clock.Now(), asked);
    const std::uint32_t left = spent < kPolicyAgentStopLimitMs ? kPolicyAgentStopLimitMs - spent + 1 : 1;
    clock.Sleep(std::clamp(status.waitHintMs, kMinimumStopPollMs, std::max(left, kMinimumStopPollMs)));
    if (!agent->QueryStatus(status)) return;
    if (TickElapsed(clock.Now(), asked) > kPolicyAgentStopLimitMs) return;
  }
}

}  // namespace

L2tpRegistryPlan PlanL2tpRegistry(std::uint32_t majorVersion) {
  if (majorVersion < 6) return {kIpSecKey, true};
  return {kPolicyAgentKey, false};
}

std::uint32_t WantedProhibitIpSec(const std::wstring& preSharedKey) { return preSharedKey.empty() ? 1 : 0; }

void PrepareSystemForL2tp(L2tpSystem& system, IL2tpPrompt& prompt, const std::wstring& preSharedKey) {
  bool changed = false;
  if (std::unique_ptr<IRegistryKey> key = system.registry.Open(kRasManParametersKey)) {
    const std::uint32_t wanted = WantedProhibitIpSec(preSharedKey);
    if (ReadOrZero(*key, kProhibitIpSecValue) != wanted && key->WriteDword(kProhibitIpSecValue, wanted) == 0) {
      changed = true;
    }
  }
  const L2tpRegistryPlan plan = PlanL2tpRegistry(system.majorVersion);
  if (std::unique_ptr<IRegistryKey> key = system.registry.Open(plan.encapsulationKey)) {
    if (!preSharedKey.empty() && ReadOrZero(*key, kUdpEncapsulationValue) != 2 &&
        key->WriteDword(kUdpEncapsulationValue, 2) == 0) {
      changed = true;
    }
  }
  if (changed) {
    const char* question = plan.rebootNeeded ? "FirstL2TPTipForceYesOrNo_Reboot" : "FirstL2TPTipForceYesOrNo_Force";
    if (prompt.AskYesNo(GetText(question))) {
      if (plan.rebootNeeded) {
        RebootSystem(system.privileges, system.power);
      } else {
        CBlockedOperation_RestartVpnRelatedServices_L2TP operation(system);
        prompt.RunBlocked(operation);
      }
    }
  }
  EnableDebugPrivilege(system.privileges);
  std::unique_ptr<IServiceManager> manager = system.services.OpenManager();
  EnsureServiceRunning(L"PolicyAgent", manager.get(), system.clock);
}

int ServiceStateMatches(IServiceManager* manager, std::wstring_view name, std::uint32_t mask) {
  if (!manager) return 2;
  std::unique_ptr<IService> service = manager->Open(name);
  ServiceStatus status;
  if (!service || !service->QueryStatus(status)) return 2;
  return (status.state & mask) ? 1 : 0;
}

void EnsureServiceRunning(std::wstring_view name, IServiceManager* manager, IClock& clock) {
  if (!manager) return;
  std::unique_ptr<IService> service = manager->Open(name);
  if (!service) return;
  ServiceStatus status;
  if (!service->QueryStatus(status) || status.state == kServiceRunning || status.state == kServiceStartPending) return;
  std::uint32_t startType = 0;
  if (!service->QueryStartType(startType)) return;
  if (startType == kServiceDisabled && !service->ChangeStartType(kServiceAutoStart)) return;
  if (!service->Start()) return;
  for (int i = 0; i < kStartPendingPolls; ++i) {
    if (!service->QueryStatus(status) || status.state != kServiceStartPending) return;
    clock.Sleep(kStartPendingPollMs);
  }
}

void EnsureDialupServices(L2tpSystem& system) {
  std::unique_ptr<IServiceManager> manager = system.services.OpenManager();
  if (ServiceStateMatches(manager.get(), L"TapiSrv", kServiceRunning) == 0 ||
      ServiceStateMatches(manager.get(), L"RasMan", kServiceRunning) == 0) {
    EnsureServiceRunning(L"TapiSrv", manager.get(), system.clock);
    EnsureServiceRunning(L"RasMan", manager.get(), system.clock);
  }
}

bool EnableDebugPrivilege(IPrivileges& privileges) { return privileges.Enable(L"SeDebugPrivilege"); }

bool RebootSystem(IPrivileges& privileges, ISystemPower& power) {
  privileges.Enable(L"SeShutdownPrivilege");
  return power.Reboot(kRebootReasonApplication);
}

void RestartVpnRelatedServices(L2tpSystem& system) {
  EnableDebugPrivilege(system.privileges);
  std::unique_ptr<IServiceManager> manager = system.services.OpenManager();
  if (!manager) return;
  std::vector<ServiceEntry> before;
  if (manager->EnumServices(before)) {
    const ServiceEntry* rasMan = FindService(before, L"RasMan");
    const ServiceEntry* tapiSrv = FindService(before, L"TapiSrv");
    if (rasMan && tapiSrv) {
      // The dial-up manager shares its host process; the others in it end too
      // and are started again below.
      if (rasMan->processId != 0) system.processes.Terminate(rasMan->processId);
      for (int i = 0; i < kRasManStopPolls; ++i) {
        manager.reset();
        manager = system.services.OpenManager();
        if (!manager) break;
        if (ServiceStateMatches(manager.get(), L"RasMan", kServiceStopped) != 0) break;
        system.clock.Sleep(kRasManStopPollMs);
      }
      if (tapiSrv->processId == 0) EnsureServiceRunning(L"TapiSrv", manager.get(), system.clock);
      EnsureServiceRunning(L"RasMan", manager.get(), system.clock);
      for (int round = 0; round < 2 && manager; ++round) {
        std::vector<ServiceEntry> now;
        if (!manager->EnumServices(now)) continue;
        for (const ServiceEntry& was : before) {
          if (was.state != kServiceRunning) continue;
          const ServiceEntry* is = FindService(now, was.name);
          if (is && is->state != kServiceRunning && is->state != kServiceStartPending) {
            EnsureServiceRunning(was.name, manager.get(), system.clock);
          }
        }
      }
    }
  }
  if (!manager) return;
  StopPolicyAgent(*manager, system.clock);
  EnsureServiceRunning(L"PolicyAgent", manager.get(), system.clock);
}

void CBlockedOperation_RestartVpnRelatedServices_L2TP::Run(IBlockedOperationHost& dialog) {
  dialog.SetStatusText(GetText("ApplyingNewConfigurationPleaseWait"));
  const Tick began = system_.clock.Now();
  RestartVpnRelatedServices(system_);
  const std::uint32_t spent = TickElapsed(system_.clock.Now(), began);
  if (spent < minimumShowMs_) system_.clock.Sleep(minimumShowMs_ - spent);
}
