#include "accel/bind_module.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "accel/bind_exports.h"
#include "text/text_table.h"

namespace {

// What the fake module's exports saw.
std::vector<std::string> gCalls;
std::int32_t gRegisterResult = 0;

std::int32_t QUILLNET_BIND_CALL FakeRegister() {
  gCalls.push_back("register");
  return gRegisterResult;
}
std::int32_t QUILLNET_BIND_CALL FakeUnregister() {
  gCalls.push_back("unregister");
  return 0;
}
std::int32_t QUILLNET_BIND_CALL FakeStart(std::int32_t version, std::uint32_t localIp) {
  gCalls.push_back("start " + std::to_string(version) + " " + std::to_string(localIp));
  return 0;
}
std::int32_t QUILLNET_BIND_CALL FakeStop() {
  gCalls.push_back("stop");
  return 0;
}

class CFakeLoader : public IModuleLoader {
 public:
  void* Load(const std::wstring& name) override {
    calls.push_back("load");
    if (!present || name != kBindModuleName) return nullptr;
    loaded = true;
    return this;
  }
  void* FindLoaded(const std::wstring& name) override {
    calls.push_back("find");
    return loaded && name == kBindModuleName ? this : nullptr;
  }
  void* Symbol(void* module, const char* name) override {
    EXPECT_EQ(module, this);
    auto it = exports.find(name);
    return it == exports.end() ? nullptr : it->second;
  }
  void TouchSockets() override {
    calls.push_back("sockets");
    // A registered module is loaded by the socket library, as the system would.
    if (registered && present) loaded = true;
  }

  bool present = true;
  bool loaded = false;
  bool registered = false;
  std::map<std::string, void*> exports{
      {"DllRegisterServer", reinterpret_cast<void*>(&FakeRegister)},
      {"DllUnregisterServer", reinterpret_cast<void*>(&FakeUnregister)},
      {"VpnBindStart", reinterpret_cast<void*>(&FakeStart)},
      {"VpnBindStop", reinterpret_cast<void*>(&FakeStop)}};
  std::vector<std::string> calls;
};

class BindModule : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadTextTable(); }
  void SetUp() override {
    gCalls.clear();
    gRegisterResult = 0;
  }
  CFakeLoader loader;
};

TEST_F(BindModule, UsableOnlyWhenItLoadsWithEveryExport) {
  struct Case {
    bool present;
    const char* missing;  // export taken away
    bool usable;
  } cases[] = {
      {true, nullptr, true},         {false, nullptr, false},         {true, "DllRegisterServer", false},
      {true, "DllUnregisterServer", false}, {true, "VpnBindStart", false}, {true, "VpnBindStop", false},
  };
  for (const Case& c : cases) {
    CFakeLoader fresh;
    fresh.present = c.present;
    if (c.missing) fresh.exports.erase(c.missing);
    EXPECT_EQ(IsBindModuleUsable(fresh), c.usable) << (c.missing ? c.missing : c.present ? "all" : "no file");
  }
}

TEST_F(BindModule, RegistrationResults) {
  struct Case {
    bool present;
    const char* missing;
    std::int32_t exportResult;
    std::int32_t expected;
  } cases[] = {
      {true, nullptr, 0, 0},
      {true, nullptr, 5, 5},
      {false, nullptr, 0, 1},
      {true, "DllRegisterServer", 0, 1},
  };
  for (const Case& c : cases) {
    CFakeLoader l;
    l.present = c.present;
    if (c.missing) l.exports.erase(c.missing);
    gRegisterResult = c.exportResult;
    EXPECT_EQ(RegisterBindModule(l), c.expected);
  }
  CFakeLoader l;
  l.exports.erase("DllUnregisterServer");
  EXPECT_EQ(UnregisterBindModule(l), 1);
}

TEST_F(BindModule, ActiveMeansLoadedAfterASocketWasMade) {
  EXPECT_FALSE(IsBindModuleActive(loader));
  EXPECT_EQ(loader.calls, (std::vector<std::string>{"sockets", "find"}));
  loader.registered = true;
  EXPECT_TRUE(IsBindModuleActive(loader));
}

TEST_F(BindModule, StartUpRegistersOnlyAnInactiveModule) {
  EnsureBindModuleRegistered(loader);
  EXPECT_EQ(gCalls, (std::vector<std::string>{"unregister", "register"}));
  gCalls.clear();
  loader.registered = true;
  CFakeLoader active;
  active.registered = true;
  EnsureBindModuleRegistered(active);
  EXPECT_TRUE(gCalls.empty());
}

TEST_F(BindModule, StartAndStopOnlyReachALoadedModule) {
  std::vector<std::wstring> messages;
  auto show = [&](const std::wstring& text) { messages.push_back(text); };

  // Not loaded: never loaded on purpose for the call.
  EXPECT_EQ(StartBindModule(loader, 0x0200080Au, show), BindStartResult::IsBroken);
  EXPECT_FALSE(loader.loaded);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], L"Accelerator module is not installed correctly, you can not use acceleration for special applications");
  StopBindModule(loader);
  EXPECT_TRUE(gCalls.empty());

  loader.loaded = true;
  EXPECT_EQ(StartBindModule(loader, 0x0200080Au, show), BindStartResult::Started);
  StopBindModule(loader);
  EXPECT_EQ(gCalls, (std::vector<std::string>{"start 8 " + std::to_string(0x0200080Au), "stop"}));

  // A module without VpnBindStop: nothing to say.
  loader.exports.erase("VpnBindStop");
  loader.exports.erase("VpnBindStart");
  gCalls.clear();
  StopBindModule(loader);
  EXPECT_EQ(StartBindModule(loader, 1, show), BindStartResult::IsBroken);
  EXPECT_EQ(messages.size(), 2u);
  EXPECT_TRUE(gCalls.empty());
}

}  // namespace
