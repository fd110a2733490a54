#include "fakes/fake_l2tp_system.h"

#include <cwctype>

namespace {

std::string Narrow(std::wstring_view text) { return std::string(text.begin(), text.end()); }

bool SameName(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) return false;
  }
  return true;
}

}  // namespace

class CFakeService : public IService {
 public:
  CFakeService(CFakeServiceControl& control, std::wstring name) : control_(control), name_(std::move(name)) {}

  bool QueryStatus(ServiceStatus& status) override {
    auto& s = Me();
    if (s.statusFails) return false;
    status = {control_.ReadState(s), s.waitHintMs};
    return true;
  }
  bool QueryStartType(std::uint32_t& startType) override {
    if (Me().configFails) return false;
    startType = Me().startType;
    return true;
  }
  bool ChangeStartType(std::uint32_t startType) override {
    control_.log.push_back("config " + Narrow(name_) + " " + std::to_string(startType));
    if (Me().changeFails) return false;
    Me().startType = startType;
    return true;
  }
  bool Start() override {
    control_.log.push_back("start " + Narrow(name_));
    auto& s = Me();
    if (s.startFails || s.startType == kServiceDisabled || s.state != kServiceStopped) return false;
    s.state = s.startPendingReads != 0 ? kServiceStartPending : kServiceRunning;
    if (s.processIdWhenStarted) s.processId = s.processIdWhenStarted;
    return true;
  }
  bool Stop(ServiceStatus& status) override {
    control_.log.push_back("stop " + Narrow(name_));
    auto& s = Me();
    if (s.stopRefused || s.state == kServiceStopped) return false;
    s.state = s.stopPendingReads != 0 ? kServiceStopPending : kServiceStopped;
    if (s.state == kServiceStopped) s.processId = 0;
    status = {s.state, s.waitHintMs};
    return true;
  }

 private:
  CFakeServiceControl::Service& Me() { return control_.services.at(name_); }
  CFakeServiceControl& control_;
  std::wstring name_;
};

class CFakeServiceManager : public IServiceManager {
 public:
  explicit CFakeServiceManager(CFakeServiceControl& control) : control_(control) {}
  std::unique_ptr<IService> Open(std::wstring_view name) override {
    for (auto& [key, service] : control_.services) {
      if (SameName(key, name)) return std::make_unique<CFakeService>(control_, key);
    }
    return nullptr;
  }
  bool EnumServices(std::vector<ServiceEntry>& services) override {
    ++control_.snapshots;
    if (control_.enumFails) return false;
    services.clear();
    for (auto& [name, s] : control_.services) {
      if (!s.missingFromSnapshot) services.push_back({name, s.state, s.processId});
    }
    return true;
  }

 private:
  CFakeServiceControl& control_;
};

std::unique_ptr<IServiceManager> CFakeServiceControl::OpenManager() {
  ++managerOpens;
  if (opensBeforeFailure == 0) return nullptr;
  if (opensBeforeFailure > 0) --opensBeforeFailure;
  return std::make_unique<CFakeServiceManager>(*this);
}

CFakeServiceControl::Service& CFakeServiceControl::Add(const std::wstring& name, std::uint32_t state,
                                                       std::uint32_t processId) {
  Service& s = services[name];
  s.state = state;
  s.processId = processId;
  return s;
}

CFakeServiceControl::Service* CFakeServiceControl::Find(std::wstring_view name) {
  for (auto& [key, service] : services) {
    if (SameName(key, name)) return &service;
  }
  return nullptr;
}

void CFakeServiceControl::EndProcess(std::uint32_t processId) {
  for (auto& [name, s] : services) {
    if (s.processId != processId || s.survivesEnd) continue;
    s.state = s.stopPendingReads != 0 ? kServiceStopPending : kServiceStopped;
    s.processId = 0;
  }
}

std::uint32_t CFakeServiceControl::ReadState(Service& s) {
  if (s.state == kServiceStartPending && s.startPendingReads > 0 && --s.startPendingReads == 0) {
    s.state = kServiceRunning;
    return kServiceStartPending;
  }
  if (s.state == kServiceStopPending && s.stopPendingReads > 0 && --s.stopPendingReads == 0) {
    s.state = kServiceStopped;
    return kServiceStopPending;
  }
  return s.state;
}
