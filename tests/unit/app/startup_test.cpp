#include "app/startup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/strings.h"
#include "text/text_table.h"

namespace {

class Startup : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadTextTable(); }
};

TEST_F(Startup, SwitchesFromTheFirstArgument) {
  struct Parse {
    std::vector<std::wstring> args;
    StartSwitch kind;
    std::wstring target;
  } parses[] = {
      {{}, StartSwitch::None, L""},
      {{L"/register"}, StartSwitch::Register, L""},
      {{L"/REGISTER"}, StartSwitch::Register, L""},
      {{L"/UnRegister", L"extra"}, StartSwitch::Unregister, L""},
      {{L"/Update", L"C:\\Q\\Quillnet.exe"}, StartSwitch::Update, L"C:\\Q\\Quillnet.exe"},
      {{L"/update"}, StartSwitch::None, L""},
      {{L"/update", L""}, StartSwitch::None, L""},
      {{L"C:\\Users\\me\\Desktop\\notes.txt"}, StartSwitch::None, L""},
      {{L"notes.txt", L"/register"}, StartSwitch::None, L""},
      {{L"-register"}, StartSwitch::None, L""},
  };
  for (const Parse& p : parses) {
    const CommandLineSwitch s = ParseCommandLine(p.args);
    EXPECT_EQ(s.kind, p.kind);
    EXPECT_EQ(s.target, p.target);
  }
}

class CFakeSwitchPorts : public IUpdateSwitchPorts {
 public:
  bool CopyOver(const std::wstring& from, const std::wstring& to) override {
    log.push_back(L"copy " + from + L" " + to);
    return ++copies > lockedFor;
  }
  void EndProcessesNamed(const std::wstring& name) override {
    log.push_back(L"end " + name);
    ended = true;
    if (unlockOnEnd) lockedFor = 0;
  }
  bool Start(const std::wstring& path) override {
    log.push_back(L"start " + path);
    return true;
  }
  void Sleep(std::uint32_t ms) override { log.push_back(L"sleep " + std::to_wstring(ms)); }
  void ShowMessage(const std::wstring& text, BoxIcon) override { log.push_back(L"box " + text); }

  int lockedFor = 0;
  bool unlockOnEnd = false;
  int copies = 0;
  bool ended = false;
  std::vector<std::wstring> log;
};

TEST_F(Startup, UpdateSwitchRetriesOnceASecondAndEndsTheOldCopyBeforeTheNinthAttempt) {
  const std::wstring self = L"C:\\ProgramData\\Quillnet\\Quillnet.exe";
  const std::wstring target = L"D:\\Tools\\QUILLNET.EXE";
  {
    CFakeSwitchPorts ports;
    EXPECT_TRUE(RunUpdateSwitch(ports, self, target));
    EXPECT_EQ(ports.log, (std::vector<std::wstring>{L"copy " + self + L" " + target, L"start " + target}));
  }
  {
    CFakeSwitchPorts ports;
    ports.lockedFor = 3;
    EXPECT_TRUE(RunUpdateSwitch(ports, self, target));
    EXPECT_EQ(ports.copies, 4);
    EXPECT_FALSE(ports.ended);
    EXPECT_EQ(ports.log.back(), L"start " + target);
  }
  {
    // Still locked after eight seconds: the old one is ended and the ninth copy works.
    CFakeSwitchPorts ports;
    ports.lockedFor = 100;
    ports.unlockOnEnd = true;
    EXPECT_TRUE(RunUpdateSwitch(ports, self, target));
    EXPECT_EQ(ports.copies, 9);
    ASSERT_GE(ports.log.size(), 3u);
    EXPECT_EQ(ports.log[ports.log.size() - 3], L"end quillnet.exe");
  }
  {
    CFakeSwitchPorts ports;
    ports.lockedFor = 100;
    EXPECT_FALSE(RunUpdateSwitch(ports, self, target));
    EXPECT_EQ(ports.copies, 10);
    int sleeps = 0, ends = 0;
    for (const auto& l : ports.log) {
      sleeps += l == L"sleep 1000";
      ends += l.rfind(L"end ", 0) == 0;
    }
    EXPECT_EQ(sleeps, 10);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(ports.log.back(), L"box " + GetText("CanNotUpdateGreenFile"));
  }
}

class CFakeStartupPorts : public IStartupPorts {
 public:
  void SeedRandom() override { Log("seed"); }
  // Like the socket library: the first socket loads the installed providers
  // and the last stop unloads them.
  bool StartSocketLibrary() override {
    Log("wsa-start");
    ++libraryStarts;
    return true;
  }
  void OpenAndCloseSocket() override {
    Log("socket");
    if (libraryStarts > 0 && bindInstalled) bindInProcess = true;
  }
  void StopSocketLibrary() override {
    Log("wsa-stop");
    if (--libraryStarts == 0) bindInProcess = false;
  }
  bool IsBindModuleLoaded() override { return bindInProcess; }
  std::uint32_t RegisterBindModule(bool doRegister) override {
    Log(doRegister ? "register" : "unregister");
    return doRegister ? registerResult : unregisterResult;
  }
  void LoadTexts() override { Log("texts"); }
  void InitComAndControls() override { Log("com"); }
  void InitFramework() override { Log("framework"); }
  void RegisterSkin() override { Log("skin"); }
  void AllowDroppedFiles() override { Log("drops"); }
  bool RunUpdateSwitch(const std::wstring& target) override {
    Log("update " + WideToUtf8(target));
    return true;
  }
  void ShowMessage(const std::wstring& text, BoxIcon icon) override {
    Log("box " + WideToUtf8(text) + (icon == BoxIcon::Warning ? " (warning)" : ""));
  }
  bool CreateInstanceMutex() override {
    Log("mutex");
    return mutexExisted;
  }
  bool FindFirstInstanceWindow() override {
    Log("find");
    return windowFound;
  }
  void ShowFirstInstanceWindow() override { Log("show-first"); }
  void ReplayRouteJournal() override { Log("replay"); }
  void DeleteLeftoverDownloads() override { Log("delete-downloads"); }
  void ComputeMachineIdentities() override { Log("identities"); }
  void StartSockets() override { Log("sockets"); }
  bool CreateMainWindow() override {
    Log("main-window");
    return true;
  }
  void Log(const std::string& s) { steps.push_back(s); }

  bool bindInstalled = false, bindInProcess = false;
  int libraryStarts = 0;
  bool mutexExisted = false, windowFound = false;
  std::uint32_t registerResult = 0, unregisterResult = 0;
  std::vector<std::string> steps;
};

using Steps = std::vector<std::string>;
const Steps kPrelude = {"seed", "wsa-start", "socket", "wsa-stop", "unregister", "register", "texts", "com", "framework", "skin", "drops"};

Steps With(Steps head, const Steps& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

TEST_F(Startup, StepOrderForEachWayOfStarting) {
  const std::string running = WideToUtf8(GetText("VpnAppAlreadyRunUseTrayIconToActivate"));
  struct Case {
    const char* name;
    CommandLineSwitch commandLine;
    bool bindInstalled, mutexExisted, windowFound;
    std::uint32_t registerResult;
    bool keepsRunning;
    Steps steps;
  };
  const std::vector<Case> cases = {
      {"normal", {}, false, false, false, 0, true,
       With(kPrelude, {"mutex", "find", "replay", "delete-downloads", "identities", "sockets", "main-window"})},
      {"the socket loads the installed bind module", {}, true, false, false, 0, true,
       {"seed", "wsa-start", "socket", "wsa-stop", "texts", "com", "framework", "skin", "drops", "mutex", "find", "replay",
        "delete-downloads", "identities", "sockets", "main-window"}},
      {"second instance by mutex", {}, false, true, false, 0, false,
       With(kPrelude, {"mutex", "box " + running, "show-first"})},
      {"second instance by window", {}, false, false, true, 0, false,
       With(kPrelude, {"mutex", "find", "box " + running, "show-first"})},
      {"register", {StartSwitch::Register, L""}, false, false, false, 0, false,
       With(kPrelude, {"unregister", "register", "box " + WideToUtf8(GetText("RegisterModulesSuccessfully"))})},
      {"register fails", {StartSwitch::Register, L""}, false, false, false, 5, false,
       With(kPrelude,
            {"unregister", "register", "box " + WideToUtf8(GetText("RegisterModulesFailed")) + " (warning)"})},
      {"unregister", {StartSwitch::Unregister, L""}, false, false, false, 0, false,
       With(kPrelude, {"unregister", "box " + WideToUtf8(GetText("UnregisterModulesSuccessfully"))})},
      {"update", {StartSwitch::Update, L"C:\\Q.exe"}, false, false, false, 0, false,
       With(kPrelude, {"update C:\\Q.exe"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CFakeStartupPorts ports;
    ports.bindInstalled = c.bindInstalled;
    ports.mutexExisted = c.mutexExisted;
    ports.windowFound = c.windowFound;
    ports.registerResult = c.registerResult;
    EXPECT_EQ(RunStartup(ports, c.commandLine), c.keepsRunning);
    EXPECT_EQ(ports.steps, c.steps);
  }
}

TEST_F(Startup, OnlyWindowsSevenServicePackOneAndLaterAreSupported) {
  struct Case {
    SystemVersion version;
    bool supported;
  } cases[] = {
      {{5, 0, 4}, false},  {{5, 1, 3}, false}, {{5, 2, 2}, false}, {{6, 0, 2}, false}, {{6, 1, 0}, false},
      {{6, 1, 1}, true},   {{6, 2, 0}, true},  {{6, 3, 0}, true},  {{10, 0, 0}, true}, {{7, 0, 0}, true},
      {{4, 90, 9}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsSupportedSystem(c.version), c.supported)
        << c.version.major << "." << c.version.minor << " SP" << c.version.servicePack;
  }
}

class CCountingSource : public IMachineInfoSource {
 public:
  std::optional<BiosProperties> ReadBios() override {
    ++biosReads;
    return BiosProperties{{L"SerialNumber", L"SN-1"}};
  }
  std::vector<DriveAnswer> ReadDrives() override { return {}; }
  std::optional<std::vector<AdapterRecord>> ReadAdapters() override { return std::nullopt; }
  int biosReads = 0;
};

TEST_F(Startup, WindowsTwoThousandSendsAFixedBiosText) {
  struct Case {
    int major, minor;
    bool fixed;
  } cases[] = {{5, 0, true}, {5, 1, false}, {6, 0, false}, {10, 0, false}};
  for (const Case& c : cases) {
    CCountingSource source;
    const MachineIdentities ids = ComputeMachineIdentities(source, c.major, c.minor);
    EXPECT_EQ(ids.bios == "SKIP_FOR_NT5", c.fixed) << c.major << "." << c.minor;
    EXPECT_EQ(source.biosReads, c.fixed ? 0 : 1);
    if (!c.fixed) {
      CCountingSource again;
      EXPECT_EQ(ids.bios, GetBiosIdentity(again));
    }
  }
}

// Holds its bios answer until released, and tells which thread read it.
class CGatedSource : public IMachineInfoSource {
 public:
  struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    bool open = false;
    std::thread::id reader;
  };
  explicit CGatedSource(Gate& gate) : gate_(gate) {}
  std::optional<BiosProperties> ReadBios() override {
    std::unique_lock<std::mutex> hold(gate_.lock);
    gate_.reader = std::this_thread::get_id();
    gate_.changed.wait(hold, [this] { return gate_.open; });
    return BiosProperties{{L"SerialNumber", L"SN-1"}};
  }
  std::vector<DriveAnswer> ReadDrives() override { return {}; }
  std::optional<std::vector<AdapterRecord>> ReadAdapters() override { return std::nullopt; }

 private:
  Gate& gate_;
};

TEST_F(Startup, IdentitiesAreComputedBesideTheStartAndWaitedForWhenNeeded) {
  struct Case {
    int major, minor;
    bool readsBios;
  } cases[] = {{6, 1, true}, {10, 0, true}, {5, 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor));
    CGatedSource::Gate gate;
    std::shared_future<MachineIdentities> later = ComputeMachineIdentitiesLater(
        [&gate] { return std::make_unique<CGatedSource>(gate); }, c.major, c.minor);
    if (c.readsBios) {
      // The start goes on while the source still has not answered.
      EXPECT_NE(later.wait_for(std::chrono::milliseconds(20)), std::future_status::ready);
    }
    {
      std::lock_guard<std::mutex> hold(gate.lock);
      gate.open = true;
    }
    gate.changed.notify_all();
    ASSERT_EQ(later.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    CCountingSource direct;
    const MachineIdentities expected = ComputeMachineIdentities(direct, c.major, c.minor);
    EXPECT_EQ(later.get().bios, expected.bios);
    EXPECT_EQ(later.get().disk, expected.disk);
    EXPECT_EQ(later.get().network, expected.network);
    if (c.readsBios) EXPECT_NE(gate.reader, std::this_thread::get_id()) << "read on the caller's thread";
  }
  // No source: empty identities, as when the system provides none.
  const MachineIdentities none = ComputeMachineIdentitiesLater([] { return nullptr; }, 10, 0).get();
  EXPECT_EQ(none.bios, "");
  EXPECT_EQ(none.disk, "");
}

}  // namespace
