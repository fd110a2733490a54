// In-memory service manager, process control, privileges and power for the
// L2TP preparation. The services behave as the system's do: starting a
// disabled one fails, a start or stop can stay pending for a number of
// status reads (or forever), ending a process stops every service in it.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "vpn/l2tp_ports.h"

class CFakeServiceControl : public IServiceControl {
 public:
  struct Service {
    std::uint32_t state = kServiceStopped;
    std::uint32_t startType = 3;  // on demand
    std::uint32_t processId = 0;
    std::uint32_t waitHintMs = 0;
    int startPendingReads = 0;  // status reads that still say start-pending after Start; -1 forever
    int stopPendingReads = 0;   // the same for a stop or an ended process
    std::uint32_t processIdWhenStarted = 0;
    bool statusFails = false;
    bool configFails = false;
    bool changeFails = false;
    bool startFails = false;
    bool stopRefused = false;
    bool missingFromSnapshot = false;
    bool survivesEnd = false;  // reads as before when its process is ended
  };

  std::unique_ptr<IServiceManager> OpenManager() override;

  Service& Add(const std::wstring& name, std::uint32_t state, std::uint32_t processId = 0);
  Service* Find(std::wstring_view name);
  // Every service hosted by the process stops (after its stop-pending reads).
  void EndProcess(std::uint32_t processId);

  int opensBeforeFailure = -1;  // -1: opening the manager never fails
  bool enumFails = false;
  int managerOpens = 0;
  int snapshots = 0;
  std::vector<std::string> log;  // "start X", "config X 2", "stop X"
  std::map<std::wstring, Service> services;

 private:
  friend class CFakeService;
  friend class CFakeServiceManager;
  std::uint32_t ReadState(Service& service);
};

class CFakeProcessControl : public IProcessControl {
 public:
  explicit CFakeProcessControl(CFakeServiceControl& services) : services_(services) {}
  bool Terminate(std::uint32_t processId) override {
    terminated.push_back(processId);
    services_.EndProcess(processId);
    return true;
  }
  std::vector<std::uint32_t> terminated;

 private:
  CFakeServiceControl& services_;
};

class CFakePrivileges : public IPrivileges {
 public:
  bool Enable(const std::wstring& name) override {
    enabled.push_back(name);
    return true;
  }
  std::vector<std::wstring> enabled;
};

class CFakePower : public ISystemPower {
 public:
  bool Reboot(std::uint32_t reason) override {
    reboots.push_back(reason);
    return true;
  }
  std::vector<std::uint32_t> reboots;
};
