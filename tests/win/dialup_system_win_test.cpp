// The L2TP preparation, the adapter checks and the service helpers against
// what Wine really implements: the registry (read back with the system's own
// reg.exe), the version a program is told (steered per program through
// Wine's AppDefaults), the service manager on a service this test installs,
// and token privileges. The dial-up service itself is a stub under Wine;
// only its loading is checked here.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "account/machine_registry_port.h"
#include "fakes/fake_l2tp_system.h"
#include "platform/system_version.h"
#include "platform/win32.h"
#include "text/text_table.h"
#include "vpn/l2tp_system.h"
#include "fakes/fake_forward_table.h"
#include "fakes/test_vpn.h"
#include "vpn/ras_api.h"
#include "vpn/ras_api_win.h"
#include "vpn/windows_vpn.h"
#include "vpn/vpn_adapter.h"

namespace {

constexpr wchar_t kServiceSwitch[] = L"--quillnet-test-service";
constexpr wchar_t kVersionFiveRoot[] = L"QUILLNET_V5_ROOT";

// --- The test service: this very program, started by the service manager
// with kServiceSwitch, answers as a service and exits before any test runs.
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
HANDLE g_stopEvent = nullptr;

void Report(DWORD state) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  ::SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI OnControl(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOP_PENDING);
    ::SetEvent(g_stopEvent);
  }
  return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, LPWSTR* argv) {
  g_stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_statusHandle = ::RegisterServiceCtrlHandlerExW(argv[0], OnControl, nullptr);
  Report(SERVICE_RUNNING);
  ::WaitForSingleObject(g_stopEvent, 60000);
  Report(SERVICE_STOPPED);
}

const bool g_ranAsService = [] {
  if (!std::wcsstr(::GetCommandLineW(), kServiceSwitch)) return false;
  wchar_t name[] = L"";
  SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  ::StartServiceCtrlDispatcherW(table);
  ::ExitProcess(0);
}();

std::wstring ModulePath() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

std::wstring Unique(const wchar_t* stem) {
  return stem + std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(::GetTickCount64() % 100000);
}

std::string ReadAll(const std::wstring& path) {
  std::string text;
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  ::CloseHandle(file);
  return text;
}

// Runs a command with its output in a file (Wine's helpers must not inherit
// our pipes), waits, and hands back exit code and output.
struct RunResult {
  DWORD exitCode = 0xFFFFFFFF;
  std::string output;
};
RunResult RunCommand(const std::wstring& commandLine, DWORD timeoutMs = 60000) {
  wchar_t dir[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, dir);
  const std::wstring outPath = std::wstring(dir) + Unique(L"quillnet_out_") + L".txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out = ::CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out;
  startup.hStdError = out;
  PROCESS_INFORMATION process{};
  std::wstring line = commandLine;
  RunResult result;
  if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                       &process)) {
    if (::WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
      ::GetExitCodeProcess(process.hProcess, &result.exitCode);
    } else {
      ::TerminateProcess(process.hProcess, 1);  // our own child
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
  ::CloseHandle(out);
  result.output = ReadAll(outPath);
  ::DeleteFileW(outPath.c_str());
  return result;
}

RunResult Reg(const std::wstring& arguments) { return RunCommand(L"reg.exe " + arguments); }

// The data of one value as reg.exe prints it ("0x2", "a\0b"), empty when
// reg.exe does not find it.
std::string RegQuery(const std::wstring& key, const std::wstring& value) {
  const RunResult r = Reg(L"query \"HKLM\\" + key + L"\" /v " + value);
  if (r.exitCode != 0) return {};
  std::istringstream lines(r.output);
  const std::string name(value.begin(), value.end());
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream fields(line);
    std::string first, type, data;
    fields >> first >> type;
    if (first != name) continue;
    std::getline(fields >> std::ws, data);
    return data;
  }
  return {};
}

class CAnsweringPrompt : public IL2tpPrompt {
 public:
  bool AskYesNo(const std::wstring& text) override {
    questions.push_back(text);
    return answer;
  }
  void RunBlocked(IOperation&) override { ++blockedRuns; }
  bool answer = false;
  int blockedRuns = 0;
  std::vector<std::wstring> questions;
};

// A registry root of our own below HKLM\Software, removed afterwards.
class WineRegistry : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadTextTable(); }
  void SetUp() override { root = L"Software\\" + Unique(L"QuillnetDialup"); }
  void TearDown() override { Reg(L"delete \"HKLM\\" + root + L"\" /f"); }
  std::wstring Key(const std::wstring& sub) const { return root + L"\\" + sub; }
  void AddDword(const std::wstring& sub, const wchar_t* name, DWORD value) {
    ASSERT_EQ(Reg(L"add \"HKLM\\" + Key(sub) + L"\" /v " + name + L" /t REG_DWORD /d " + std::to_wstring(value) +
                  L" /f")
                  .exitCode,
              0u);
  }
  void AddKey(const std::wstring& sub) { ASSERT_EQ(Reg(L"add \"HKLM\\" + Key(sub) + L"\" /f").exitCode, 0u); }
  // Runs the preparation on the real registry below our root, with the
  // version this program is told.
  void Prepare(const std::wstring& key, CAnsweringPrompt& prompt) {
    auto registry = CreateSystemMachineRegistry(root + L"\\");
    CFakeServiceControl services;
    services.Add(L"PolicyAgent", kServiceStopped);
    CFakeProcessControl processes{services};
    CFakePrivileges privileges;
    CFakePower power;
    L2tpSystem system{*registry, services, processes, privileges, power, SystemClock(),
                      SystemMajorVersion().value_or(0)};
    PrepareSystemForL2tp(system, prompt, key);
    reboots = power.reboots.size();
    serviceCalls = services.log;
    privilegesEnabled = privileges.enabled;
  }
  std::wstring root;
  std::size_t reboots = 0;
  std::vector<std::string> serviceCalls;
  std::vector<std::wstring> privilegesEnabled;
};

TEST_F(WineRegistry, PreparationValuesReadBackWithRegExe) {
  const std::uint32_t major = SystemMajorVersion().value_or(0);
  ASSERT_GE(major, 6u) << "this program is expected to run with Wine's default version";
  AddDword(kRasManParametersKey, L"ProhibitIpSec", 1);
  AddKey(kPolicyAgentKey);
  AddKey(kIpSecKey);
  CAnsweringPrompt prompt;
  Prepare(L"psk", prompt);
  EXPECT_EQ(RegQuery(Key(kRasManParametersKey), L"ProhibitIpSec"), "0x0");
  EXPECT_EQ(RegQuery(Key(kPolicyAgentKey), kUdpEncapsulationValue), "0x2");
  EXPECT_EQ(RegQuery(Key(kIpSecKey), kUdpEncapsulationValue), "");
  EXPECT_EQ(prompt.questions.size(), 1u);
  EXPECT_EQ(prompt.questions.at(0).find(L"without reboot?") != std::wstring::npos, true);
  // Declined: no restart of the services and no reboot, but the IPSec
  // policy agent is running afterwards.
  EXPECT_EQ(prompt.blockedRuns, 0);
  EXPECT_EQ(reboots, 0u);
  EXPECT_EQ(serviceCalls, std::vector<std::string>{"start PolicyAgent"});
  EXPECT_EQ(privilegesEnabled, std::vector<std::wstring>{L"SeDebugPrivilege"});
  // A second attempt finds both values right.
  Prepare(L"psk", prompt);
  EXPECT_EQ(prompt.questions.size(), 1u);
  EXPECT_EQ(prompt.blockedRuns, 0);
  // Without a key, only the prohibition changes; a text value counts as 0.
  ASSERT_EQ(Reg(L"add \"HKLM\\" + Key(kRasManParametersKey) + L"\" /v ProhibitIpSec /t REG_SZ /d 1 /f").exitCode,
            0u);
  Prepare(L"", prompt);
  EXPECT_EQ(RegQuery(Key(kRasManParametersKey), L"ProhibitIpSec"), "0x1");
  EXPECT_EQ(RegQuery(Key(kPolicyAgentKey), kUdpEncapsulationValue), "0x2");
  EXPECT_EQ(prompt.questions.size(), 2u);
  // Accepted: the services are restarted behind the blocked-operation dialog.
  ASSERT_EQ(Reg(L"add \"HKLM\\" + Key(kRasManParametersKey) + L"\" /v ProhibitIpSec /t REG_DWORD /d 1 /f").exitCode,
            0u);
  prompt.answer = true;
  Prepare(L"psk", prompt);
  EXPECT_EQ(prompt.questions.size(), 3u);
  EXPECT_EQ(prompt.blockedRuns, 1);
  EXPECT_EQ(reboots, 0u);
  EXPECT_EQ(RegQuery(Key(kRasManParametersKey), L"ProhibitIpSec"), "0x0");
}

TEST_F(WineRegistry, BindingListIsKeptOnThisVersion) {
  ASSERT_EQ(Reg(L"add \"HKLM\\" + Key(kTcpipLinkageKey) +
                L"\" /v Bind /t REG_MULTI_SZ /d \\Device\\Tcpip_A\\0\\Device\\NdisWanIp /f")
                .exitCode,
            0u);
  auto registry = CreateSystemMachineRegistry(root + L"\\");
  PutVpnBindingFirst(*registry, SystemMajorVersion());
  EXPECT_EQ(RegQuery(Key(kTcpipLinkageKey), L"Bind"), "\\Device\\Tcpip_A\\0\\Device\\NdisWanIp");
}

class CCountingView : public IDhcpWarningView {
 public:
  void ShowDhcpWarning(const std::wstring&) override { ++warnings; }
  void EndConnection() override { ++ends; }
  int warnings = 0, ends = 0;
};

TEST_F(WineRegistry, DhcpIsTurnedOffOnTheInterfacesHoldingTheVpnAddress) {
  const std::wstring base = kTcpipInterfacesKey;
  for (const wchar_t* name : {L"{A}", L"{B}", L"{C}"}) AddDword(base + L"\\" + name, L"EnableDHCP", 1);
  for (const auto& [name, address] : {std::pair{L"{A}", L"10.8.0.6"}, std::pair{L"{B}", L"192.168.1.10"},
                                      std::pair{L"{C}", L"10.8.0.6"}}) {
    ASSERT_EQ(Reg(L"add \"HKLM\\" + Key(base + L"\\" + name) + L"\" /v DhcpIPAddress /t REG_EXPAND_SZ /d " + address +
                  L" /f")
                  .exitCode,
              0u);
  }
  auto registry = CreateSystemMachineRegistry(root + L"\\");
  CCountingView view;
  EXPECT_EQ(DisableDhcpOnVpnAdapter(*registry, view, L"10.8.0.6"), 2);
  EXPECT_EQ(view.warnings, 2);
  EXPECT_EQ(view.ends, 2);
  EXPECT_EQ(RegQuery(Key(base + L"\\{A}"), L"EnableDHCP"), "0x0");
  EXPECT_EQ(RegQuery(Key(base + L"\\{B}"), L"EnableDHCP"), "0x1");
  EXPECT_EQ(RegQuery(Key(base + L"\\{C}"), L"EnableDHCP"), "0x0");
}

// Runs a copy of this program under another name that Wine tells it is
// major version 5, and reads what that copy wrote.
TEST_F(WineRegistry, VersionFiveBranchesUnderWinesPerProgramVersion) {
  wchar_t dir[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, dir);
  const std::wstring exeName = Unique(L"quillnet_v5_") + L".exe";
  const std::wstring copy = std::wstring(dir) + exeName;
  ASSERT_TRUE(::CopyFileW(ModulePath().c_str(), copy.c_str(), FALSE));
  const std::wstring appKey = L"HKCU\\Software\\Wine\\AppDefaults\\" + exeName;
  ASSERT_EQ(Reg(L"add \"" + appKey + L"\" /v Version /t REG_SZ /d win2k /f").exitCode, 0u);

  AddDword(kRasManParametersKey, L"ProhibitIpSec", 1);
  AddKey(kPolicyAgentKey);
  AddKey(kIpSecKey);
  ASSERT_EQ(Reg(L"add \"HKLM\\" + Key(kTcpipLinkageKey) +
                L"\" /v Bind /t REG_MULTI_SZ /d \\Device\\Tcpip_A\\0\\Device\\NdisWanIp\\0\\Device\\Tcpip_B /f")
                .exitCode,
            0u);

  // The copy must not overwrite this program's report.
  wchar_t report[2048] = {};
  const DWORD hadReport = ::GetEnvironmentVariableW(L"GTEST_OUTPUT", report, 2048);
  ::SetEnvironmentVariableW(L"GTEST_OUTPUT", nullptr);
  ::SetEnvironmentVariableW(kVersionFiveRoot, root.c_str());
  const RunResult child =
      RunCommand(L"\"" + copy + L"\" --gtest_filter=WineVersionFive.* --gtest_also_run_disabled_tests", 120000);
  ::SetEnvironmentVariableW(kVersionFiveRoot, nullptr);
  if (hadReport) ::SetEnvironmentVariableW(L"GTEST_OUTPUT", report);
  Reg(L"delete \"" + appKey + L"\" /f");
  ::DeleteFileW(copy.c_str());

  EXPECT_EQ(child.exitCode, 0u) << child.output;
  EXPECT_NE(child.output.find("[  PASSED  ] 1 test"), std::string::npos) << child.output;
  EXPECT_EQ(RegQuery(Key(kRasManParametersKey), L"ProhibitIpSec"), "0x0");
  EXPECT_EQ(RegQuery(Key(kIpSecKey), kUdpEncapsulationValue), "0x2");
  EXPECT_EQ(RegQuery(Key(kPolicyAgentKey), kUdpEncapsulationValue), "");
  EXPECT_EQ(RegQuery(Key(kTcpipLinkageKey), L"Bind"),
            "\\Device\\NdisWanIp\\0\\Device\\Tcpip_A\\0\\Device\\Tcpip_B");
}

// Disabled in a normal run: only the copy started above runs it.
TEST(WineVersionFive, DISABLED_PreparationAndBindingOrder) {
  wchar_t root[512] = {};
  ASSERT_TRUE(::GetEnvironmentVariableW(kVersionFiveRoot, root, 512)) << "runs only as the version-5 copy";
  LoadTextTable();
  ASSERT_EQ(SystemMajorVersion(), std::optional<std::uint32_t>(5));
  auto registry = CreateSystemMachineRegistry(std::wstring(root) + L"\\");
  CFakeServiceControl services;
  CFakeProcessControl processes{services};
  CFakePrivileges privileges;
  CFakePower power;
  CAnsweringPrompt prompt;
  prompt.answer = true;
  L2tpSystem system{*registry, services, processes, privileges, power, SystemClock(), *SystemMajorVersion()};
  PrepareSystemForL2tp(system, prompt, L"psk");
  ASSERT_EQ(prompt.questions.size(), 1u);
  EXPECT_NE(prompt.questions[0].find(L"reboot now?"), std::wstring::npos);
  EXPECT_EQ(power.reboots, std::vector<std::uint32_t>{0x40000});
  // The shutdown privilege before the reboot is asked for.
  ASSERT_FALSE(privileges.enabled.empty());
  EXPECT_EQ(privileges.enabled.front(), L"SeShutdownPrivilege");
  EXPECT_EQ(prompt.blockedRuns, 0);
  PutVpnBindingFirst(*registry, SystemMajorVersion());
}

// A service of our own, installed disabled and removed at the end.
class WineServices : public ::testing::Test {
 protected:
  void SetUp() override {
    name = Unique(L"QuillnetTestSvc");
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    const std::wstring command = L"\"" + ModulePath() + L"\" " + kServiceSwitch;
    SC_HANDLE service = ::CreateServiceW(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DISABLED, SERVICE_ERROR_IGNORE,
                                         command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(service, nullptr) << ::GetLastError();
    ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
  }
  void TearDown() override {
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return;
    if (SC_HANDLE service = ::OpenServiceW(manager, name.c_str(), SERVICE_ALL_ACCESS)) {
      SERVICE_STATUS status{};
      ::ControlService(service, SERVICE_CONTROL_STOP, &status);
      for (int i = 0; i < 200 && ::QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED;
           ++i) {
        ::Sleep(50);  // the service process ends on its own; this only bounds the wait
      }
      ::DeleteService(service);
      ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
  }
  std::wstring name;
};

TEST_F(WineServices, DisabledServiceIsMadeAutomaticAndStarted) {
  auto control = CreateSystemServiceControl();
  auto manager = control->OpenManager();
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(ServiceStateMatches(manager.get(), name, kServiceStopped), 1);
  EXPECT_EQ(ServiceStateMatches(manager.get(), name, kServiceRunning), 0);
  {
    auto service = manager->Open(name);
    ASSERT_NE(service, nullptr);
    std::uint32_t startType = 0;
    ASSERT_TRUE(service->QueryStartType(startType));
    EXPECT_EQ(startType, kServiceDisabled);
    EXPECT_FALSE(service->Start()) << "a disabled service must not start";
  }

  EnsureServiceRunning(name, manager.get(), SystemClock());

  auto service = manager->Open(name);
  ASSERT_NE(service, nullptr);
  std::uint32_t startType = 0;
  ASSERT_TRUE(service->QueryStartType(startType));
  EXPECT_EQ(startType, kServiceAutoStart);
  ServiceStatus status;
  ASSERT_TRUE(service->QueryStatus(status));
  EXPECT_EQ(status.state, kServiceRunning);
  EXPECT_EQ(ServiceStateMatches(manager.get(), name, kServiceRunning), 1);

  std::vector<ServiceEntry> snapshot;
  ASSERT_TRUE(manager->EnumServices(snapshot));
  bool listed = false;
  for (const ServiceEntry& s : snapshot) {
    if (s.name != name) continue;
    listed = true;
    EXPECT_EQ(s.state, kServiceRunning);
    EXPECT_NE(s.processId, 0u);
  }
  EXPECT_TRUE(listed);

  // Running already: nothing to do, and it keeps running.
  EnsureServiceRunning(name, manager.get(), SystemClock());
  EXPECT_EQ(ServiceStateMatches(manager.get(), name, kServiceRunning), 1);

  ServiceStatus stopping;
  EXPECT_TRUE(service->Stop(stopping));
}

TEST(WineSystem, DialupServicesAreAbsentAndPrivilegesAdjust) {
  auto control = CreateSystemServiceControl();
  auto manager = control->OpenManager();
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(ServiceStateMatches(manager.get(), L"RasMan", kServiceRunning), 2);
  EXPECT_EQ(manager->Open(L"RasMan"), nullptr);
  auto privileges = CreateSystemPrivileges();
  EXPECT_TRUE(EnableDebugPrivilege(*privileges));
  EXPECT_TRUE(privileges->Enable(L"SeShutdownPrivilege"));
  EXPECT_FALSE(privileges->Enable(L"SeNoSuchPrivilege"));
}

TEST(WineSystem, ResolverFlushIsLookedUpAtRunTime) {
  auto dns = CreateSystemDnsCache();
  ASSERT_NE(dns, nullptr);
  auto library = dns->LoadResolver();
  ASSERT_NE(library, nullptr);
  EXPECT_TRUE(library->Flush().has_value());
}

TEST(WineSystem, DialupLibraryLoadsAndAnswers) {
  // Every function the port uses, by the name the library exports it under.
  HMODULE library = ::LoadLibraryW(L"rasapi32.dll");
  ASSERT_NE(library, nullptr);
  std::vector<std::string> asked, missing;
  CreateRasApiOver([&](const char* name) {
    asked.push_back(name);
    void* function = reinterpret_cast<void*>(::GetProcAddress(library, name));
    if (!function) missing.push_back(name);
    return function;
  });
  EXPECT_EQ(asked.size(), 9u);
  EXPECT_EQ(missing, std::vector<std::string>{});
  ::FreeLibrary(library);

  auto ras = CreateSystemRasApi();
  ASSERT_NE(ras, nullptr);
  std::uint32_t bytes = sizeof(ras::Connection);
  std::vector<RasConnection> connections;
  const std::uint32_t rc = ras->EnumConnections(bytes, connections);
  std::printf("RasEnumConnectionsW: %u, %zu connections\n", rc, connections.size());
  EXPECT_EQ(rc, 0u);
  EXPECT_TRUE(connections.empty());
  std::printf("RasGetErrorStringW(691): '%ls'\n", ras->GetErrorString(691).c_str());
}

}  // namespace

namespace {

// Wine's dial-up functions are stubs: the connection must fail to start
// with one of its own codes, the records passing through intact, and stop
// cleanly.
TEST(WineSystem, DialupConnectionOverTheStubServiceFailsCleanly) {
  LoadTextTable();
  auto ras = CreateSystemRasApi();
  CFakeForwardTable table;
  SetUpHomeNetwork(table);
  const std::vector<ForwardRow> before = table.Rows();
  CWindowsVpn vpn(2, table, *ras, SystemClock(), std::make_unique<CFakeRouteRequestServer>(table));
  vpn.SetServerHost(L"203.0.113.9");
  vpn.SetCredentials(L"alice", L"secret");
  vpn.preSharedKey = L"psk";
  const std::int32_t rc = vpn.Start();
  std::printf("Start over Wine's dial-up service: %d, detail %d\n", rc, vpn.GetErrorDetail());
  // Wine stores the entry and refuses the dial.
  EXPECT_EQ(rc, WINDOWS_VPN_ERROR_DIAL);
  EXPECT_EQ(vpn.GetError(), rc);
  EXPECT_NE(vpn.GetErrorDetail(), 0);
  vpn.Stop();
  EXPECT_EQ(vpn.GetState(), GENERAL_VPN_STATE_DISCONNECTED);
  EXPECT_EQ(vpn.Connection(), nullptr);
  EXPECT_EQ(table.Rows(), before);
}

}  // namespace
