#include "vpn/l2tp_system.h"

#include <gtest/gtest.h>

#include "fakes/fake_clock.h"
#include "fakes/fake_l2tp_system.h"
#include "fakes/fake_machine_registry.h"
#include "text/text_table.h"

namespace {

using Log = std::vector<std::string>;

class CFakePrompt : public IL2tpPrompt, public IBlockedOperationHost {
 public:
  bool AskYesNo(const std::wstring& text) override {
    questions.push_back(text);
    return answer;
  }
  void RunBlocked(IOperation& operation) override {
    ++blockedRuns;
    operation.Run(*this);
  }
  void SetStatusText(const std::wstring& text) override { statusTexts.push_back(text); }

  bool answer = true;
  std::vector<std::wstring> questions;
  std::vector<std::wstring> statusTexts;
  int blockedRuns = 0;
};

class L2tp : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadTextTable(); }
  L2tpSystem System(std::uint32_t major = 6) {
    return L2tpSystem{registry, services, processes, privileges, power, clock, major};
  }
  CFakeMachineRegistry registry;
  CFakeServiceControl services;
  CFakeProcessControl processes{services};
  CFakePrivileges privileges;
  CFakePower power;
  CFakeClock clock;
  CFakePrompt prompt;
};

TEST_F(L2tp, PreparationWritesWhatTheKeyNeedsAndAsksOnlyAfterAChange) {
  const std::wstring force = L"Some initialization for L2TP must be done.\n\nIt's recommended to reboot your computer "
                             L"later. Without rebooting, you can still apply the changes, do you want to apply the "
                             L"changes without reboot?";
  const std::wstring reboot =
      L"Some initialization for L2TP must be done.\n\nDo you want to apply the changes and reboot now?";
  using Value = CFakeMachineRegistry::Value;
  using Other = CFakeMachineRegistry::Other;
  struct Case {
    const char* what;
    std::wstring key;
    std::uint32_t major;
    std::optional<Value> prohibit;       // before; none: value missing
    std::optional<Value> encapsulation;  // before, in the key the version picks
    bool answer;
    std::uint32_t prohibitAfter;
    std::optional<std::uint32_t> encapsulationAfter;
    std::wstring question;  // empty: none asked
    int blockedRuns;
    int reboots;
  } cases[] = {
      {"no key, already prohibited", L"", 6, Value{1u}, Value{0u}, true, 1, 0u, L"", 0, 0},
      {"no key, not yet prohibited", L"", 6, Value{0u}, Value{0u}, true, 1, 0u, force, 1, 0},
      {"no key, missing value counts as 0", L"", 6, std::nullopt, std::nullopt, false, 1, std::nullopt, force, 0, 0},
      {"key on 6, yes", L"psk", 6, Value{1u}, Value{0u}, true, 0, 2u, force, 1, 0},
      {"key on 6, no", L"psk", 6, Value{1u}, Value{0u}, false, 0, 2u, force, 0, 0},
      {"key on 5, yes", L"psk", 5, Value{1u}, Value{0u}, true, 0, 2u, reboot, 0, 1},
      {"key on 5, no", L"psk", 5, Value{1u}, std::nullopt, false, 0, 2u, reboot, 0, 0},
      {"key, values already right", L"psk", 6, Value{0u}, Value{2u}, true, 0, 2u, L"", 0, 0},
      {"no key, a text value counts as 0", L"", 6, Value{std::wstring(L"1")}, Value{0u}, true, 1, 0u, force, 1, 0},
      {"key, binary encapsulation is rewritten", L"psk", 6, Value{0u}, Value{Other{}}, true, 0, 2u, force, 1, 0},
  };
  for (const Case& c : cases) {
    CFakeMachineRegistry r;
    CFakeServiceControl s;
    CFakeProcessControl p{s};
    CFakePrivileges v;
    CFakePower w;
    CFakeClock k;
    CFakePrompt q;
    q.answer = c.answer;
    s.Add(L"PolicyAgent", kServiceRunning);
    const std::wstring used = c.major < 6 ? kIpSecKey : kPolicyAgentKey;
    const std::wstring unused = c.major < 6 ? kPolicyAgentKey : kIpSecKey;
    r.AddKey(kRasManParametersKey);
    r.AddKey(used);
    r.AddKey(unused);
    if (c.prohibit) r.Put(kRasManParametersKey, kProhibitIpSecValue, *c.prohibit);
    if (c.encapsulation) r.Put(used, kUdpEncapsulationValue, *c.encapsulation);
    L2tpSystem system{r, s, p, v, w, k, c.major};
    PrepareSystemForL2tp(system, q, c.key);
    EXPECT_EQ(r.Dword(kRasManParametersKey, kProhibitIpSecValue), c.prohibitAfter) << c.what;
    EXPECT_EQ(r.Dword(used, kUdpEncapsulationValue), c.encapsulationAfter) << c.what;
    EXPECT_FALSE(r.Get(unused, kUdpEncapsulationValue)) << c.what;
    EXPECT_EQ(q.questions, c.question.empty() ? std::vector<std::wstring>{} : std::vector<std::wstring>{c.question})
        << c.what;
    EXPECT_EQ(q.blockedRuns, c.blockedRuns) << c.what;
    EXPECT_EQ(w.reboots, std::vector<std::uint32_t>(c.reboots, 0x40000)) << c.what;
    // The debug privilege always; the shutdown one only for a reboot.
    EXPECT_EQ(v.enabled.back(), L"SeDebugPrivilege") << c.what;
    EXPECT_EQ(std::count(v.enabled.begin(), v.enabled.end(), L"SeShutdownPrivilege"), c.reboots) << c.what;
  }
}

TEST_F(L2tp, AValueThatCannotBeWrittenIsNoChange) {
  registry.Put(kRasManParametersKey, kProhibitIpSecValue, 1u);
  registry.AddKey(kPolicyAgentKey);
  registry.DenyWrites(kRasManParametersKey, kProhibitIpSecValue);
  registry.DenyWrites(kPolicyAgentKey, kUdpEncapsulationValue);
  auto system = System();
  PrepareSystemForL2tp(system, prompt, L"psk");
  EXPECT_TRUE(prompt.questions.empty());
  EXPECT_EQ(registry.Dword(kRasManParametersKey, kProhibitIpSecValue), 1u);
}

TEST_F(L2tp, MissingKeysAreSkippedAndThePolicyAgentStillStarts) {
  services.Add(L"PolicyAgent", kServiceStopped);
  auto system = System();
  PrepareSystemForL2tp(system, prompt, L"psk");
  EXPECT_TRUE(prompt.questions.empty());
  EXPECT_EQ(registry.writes, 0);
  EXPECT_EQ(services.log, (Log{"start PolicyAgent"}));
  EXPECT_EQ(services.Find(L"PolicyAgent")->state, kServiceRunning);
}

TEST_F(L2tp, ASecondAttemptWithTheSameKeyAsksNothing) {
  registry.Put(kRasManParametersKey, kProhibitIpSecValue, 1u);
  registry.AddKey(kPolicyAgentKey);
  services.Add(L"PolicyAgent", kServiceRunning);
  prompt.answer = false;
  auto system = System();
  PrepareSystemForL2tp(system, prompt, L"psk");
  PrepareSystemForL2tp(system, prompt, L"psk");
  EXPECT_EQ(prompt.questions.size(), 1u);
}

TEST_F(L2tp, ServiceStateMatchesByBitsOfTheStateNumber) {
  struct Case {
    std::uint32_t state;
    std::uint32_t mask;
    int result;
  } cases[] = {{kServiceRunning, 4, 1}, {kServiceStopped, 4, 0}, {kServiceStopped, 1, 1},
               {kServiceStopPending, 1, 1}, {kServiceStartPending, 1, 0}, {7, 4, 1}, {kServiceRunning, 1, 0}};
  for (const Case& c : cases) {
    services.Add(L"Svc", c.state);
    auto manager = services.OpenManager();
    EXPECT_EQ(ServiceStateMatches(manager.get(), L"svc", c.mask), c.result) << c.state << "/" << c.mask;
  }
  auto manager = services.OpenManager();
  EXPECT_EQ(ServiceStateMatches(manager.get(), L"Missing", 4), 2);
  services.Find(L"Svc")->statusFails = true;
  EXPECT_EQ(ServiceStateMatches(manager.get(), L"Svc", 4), 2);
  EXPECT_EQ(ServiceStateMatches(nullptr, L"Svc", 4), 2);
}

TEST_F(L2tp, EnsureServiceRunning) {
  using S = CFakeServiceControl::Service;
  struct Case {
    const char* what;
    S service;
    Log log;
    std::uint32_t stateAfter;
    std::uint32_t slept;
  } cases[] = {
      {"stopped", S{}, {"start Svc"}, kServiceRunning, 0},
      {"disabled", S{.startType = kServiceDisabled}, {"config Svc 2", "start Svc"}, kServiceRunning, 0},
      {"running", S{.state = kServiceRunning}, {}, kServiceRunning, 0},
      {"already starting", S{.state = kServiceStartPending, .startPendingReads = -1}, {}, kServiceStartPending, 0},
      {"slow start", S{.startPendingReads = 3}, {"start Svc"}, kServiceRunning, 3000},
      {"start that never finishes", S{.startPendingReads = -1}, {"start Svc"}, kServiceStartPending, 10000},
      {"status unreadable", S{.statusFails = true}, {}, kServiceStopped, 0},
      {"configuration unreadable", S{.configFails = true}, {}, kServiceStopped, 0},
      {"disabled and unchangeable", S{.startType = kServiceDisabled, .changeFails = true}, {"config Svc 2"},
       kServiceStopped, 0},
      {"start refused", S{.startFails = true}, {"start Svc"}, kServiceStopped, 0},
  };
  for (const Case& c : cases) {
    CFakeServiceControl s;
    CFakeClock k;
    s.services[L"Svc"] = c.service;
    auto manager = s.OpenManager();
    EnsureServiceRunning(L"Svc", manager.get(), k);
    EXPECT_EQ(s.log, c.log) << c.what;
    EXPECT_EQ(s.services[L"Svc"].state, c.stateAfter) << c.what;
    EXPECT_EQ(k.Slept(), c.slept) << c.what;
  }
  auto manager = services.OpenManager();
  EnsureServiceRunning(L"Missing", manager.get(), clock);
  EnsureServiceRunning(L"Missing", nullptr, clock);
  EXPECT_TRUE(services.log.empty());
}

TEST_F(L2tp, DialupServicesAreStartedTelephonyFirstWhenEitherIsDown) {
  struct Case {
    std::uint32_t tapi, rasMan;
    Log log;
  } cases[] = {
      {kServiceRunning, kServiceRunning, {}},
      {kServiceStopped, kServiceRunning, {"start TapiSrv"}},
      {kServiceRunning, kServiceStopped, {"start RasMan"}},
      {kServiceStopped, kServiceStopped, {"start TapiSrv", "start RasMan"}},
  };
  for (const Case& c : cases) {
    CFakeServiceControl s;
    CFakeProcessControl p{s};
    s.Add(L"TapiSrv", c.tapi);
    s.Add(L"RasMan", c.rasMan);
    L2tpSystem system{registry, s, p, privileges, power, clock, 6};
    EnsureDialupServices(system);
    EXPECT_EQ(s.log, c.log) << c.tapi << "/" << c.rasMan;
  }
}

class RestartServices : public L2tp {
 protected:
  void SetUp() override {
    // RasMan shares process 900 with another service; TapiSrv sits in a
    // process of its own that survives.
    services.Add(L"RasMan", kServiceRunning, 900).processIdWhenStarted = 901;
    services.Add(L"SstpSvc", kServiceRunning, 900);
    services.Add(L"TapiSrv", kServiceRunning, 700);
    services.Add(L"Fax", kServiceStopped);
    auto& agent = services.Add(L"PolicyAgent", kServiceRunning, 500);
    agent.waitHintMs = 200;
    agent.stopPendingReads = 2;
  }
};

TEST_F(RestartServices, EndsTheDialupHostAndBringsBackWhatRan) {
  auto system = System();
  RestartVpnRelatedServices(system);
  EXPECT_EQ(processes.terminated, (std::vector<std::uint32_t>{900}));
  EXPECT_EQ(services.log, (Log{"start RasMan", "start SstpSvc", "stop PolicyAgent", "start PolicyAgent"}));
  for (const wchar_t* name : {L"RasMan", L"SstpSvc", L"TapiSrv", L"PolicyAgent"}) {
    EXPECT_EQ(services.Find(name)->state, kServiceRunning) << name;
  }
  EXPECT_EQ(services.Find(L"Fax")->state, kServiceStopped);
  EXPECT_EQ(privileges.enabled, (std::vector<std::wstring>{L"SeDebugPrivilege"}));
  EXPECT_EQ(services.snapshots, 3);
}

TEST_F(RestartServices, TelephonyWithoutAProcessIsStartedToo) {
  services.Add(L"TapiSrv", kServiceStopped, 0);
  auto system = System();
  RestartVpnRelatedServices(system);
  EXPECT_EQ(services.log.front(), "start TapiSrv");
  EXPECT_EQ(services.Find(L"TapiSrv")->state, kServiceRunning);
}

TEST_F(RestartServices, ADialupManagerThatNeverStopsIsWaitedForAbout10s) {
  // As under Wine: the service still reads running after its process ended.
  services.Find(L"RasMan")->survivesEnd = true;
  auto system = System();
  RestartVpnRelatedServices(system);
  EXPECT_EQ(services.managerOpens, 101);
  // The RasMan loop's hundred sleeps, then the policy agent's.
  const std::vector<std::uint32_t> sleeps = clock.Sleeps();
  ASSERT_GE(sleeps.size(), 100u);
  EXPECT_EQ(std::vector<std::uint32_t>(sleeps.begin(), sleeps.begin() + 100), std::vector<std::uint32_t>(100, 100));
}

TEST_F(RestartServices, WithoutBothDialupServicesNothingIsEnded) {
  services.Find(L"TapiSrv")->missingFromSnapshot = true;
  auto system = System();
  RestartVpnRelatedServices(system);
  EXPECT_TRUE(processes.terminated.empty());
  EXPECT_EQ(services.log, (Log{"stop PolicyAgent", "start PolicyAgent"}));
}

TEST_F(RestartServices, AFailedSnapshotGoesStraightToThePolicyAgent) {
  services.enumFails = true;
  auto system = System();
  RestartVpnRelatedServices(system);
  EXPECT_TRUE(processes.terminated.empty());
  EXPECT_EQ(services.log, (Log{"stop PolicyAgent", "start PolicyAgent"}));
}

TEST_F(RestartServices, NoServiceManagerNoAction) {
  services.opensBeforeFailure = 0;
  auto system = System();
  RestartVpnRelatedServices(system);
  EXPECT_TRUE(services.log.empty());
  EXPECT_TRUE(processes.terminated.empty());
}

TEST_F(RestartServices, APolicyAgentThatDoesNotStopIsGivenUpAfter3s) {
  struct Case {
    std::uint32_t waitHint;
  } cases[] = {{0}, {200}, {60000}};
  for (const Case& c : cases) {
    CFakeServiceControl s;
    CFakeProcessControl p{s};
    CFakeClock k;
    auto& agent = s.Add(L"PolicyAgent", kServiceRunning);
    agent.stopPendingReads = -1;
    agent.waitHintMs = c.waitHint;
    L2tpSystem system{registry, s, p, privileges, power, k, 6};
    RestartVpnRelatedServices(system);
    EXPECT_GT(k.Slept(), 3000u) << c.waitHint;
    EXPECT_LE(k.Slept(), 3011u) << c.waitHint;
    // A zero hint must not turn into a busy loop.
    EXPECT_LE(k.Sleeps().size(), 301u) << c.waitHint;
    // Still stopping, so the start that follows is refused.
    EXPECT_EQ(s.log, (Log{"stop PolicyAgent", "start PolicyAgent"})) << c.waitHint;
  }
}

TEST_F(RestartServices, TheOperationShowsItsTextAndLastsAtLeast3s) {
  auto system = System();
  CBlockedOperation_RestartVpnRelatedServices_L2TP operation(system);
  const Tick began = clock.Now();
  operation.Run(prompt);
  EXPECT_EQ(prompt.statusTexts,
            (std::vector<std::wstring>{L"Applying new configuration, please wait for a moment ..."}));
  EXPECT_EQ(TickElapsed(clock.Now(), began), 3000u);
  EXPECT_EQ(services.Find(L"RasMan")->state, kServiceRunning);

  // A restart that takes longer is not stretched further.
  services.Find(L"PolicyAgent")->stopPendingReads = -1;
  services.Find(L"PolicyAgent")->state = kServiceRunning;
  const Tick again = clock.Now();
  operation.Run(prompt);
  const std::uint32_t spent = TickElapsed(clock.Now(), again);
  EXPECT_GT(spent, 3000u);
  EXPECT_LT(spent, 3300u);
}

}  // namespace
