#include "vpn/tap_driver.h"
#include "vpn/tap_driver_platform.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "fakes/temp_dir.h"
#include "text/text_table.h"
#include "vpn/open_vpn.h"

namespace {

TEST(OpenVpnVersion, ComparesFourNumbersAgainstTheBuiltIn) {
  struct Case {
    const wchar_t* required;
    int expected;
  } cases[] = {
      {L"2.1.4.1", 0},      {L"2.1.10.0", 1},     {L"2.1", -1},       {L"", -1},
      {L"2.1.4.1.9", 0},    {L"3", 1},            {L"2.1.4.2", 1},    {L"2.1.4.0", -1},
      {L"x.y", -1},         {L"2.1.4.99999999999", 1},                {L"02.01.04.01", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CompareOpenVpnVersion(c.required, kBuiltInOpenVpnVersion), c.expected) << c.required;
}

TEST(OpenVpnVersion, ReadsTheVersionLineOpenVpnPrints) {
  struct Case {
    const char* output;
    const wchar_t* version;
  } cases[] = {
      // What the shipped build prints under Wine, carriage returns included.
      {"OpenVPN 2.6.14 x86_64-w64-mingw32 [SSL (OpenSSL)] [LZO] [LZ4] [AEAD] [DCO]\r\n"
       "library versions: OpenSSL 3.0.22 25 Aug 2026, LZO 2.10\r\n",
       L"2.6.14"},
      {"OpenVPN 2.6.14 x86_64-pc-linux-gnu [SSL (OpenSSL)] [LZO] [LZ4] [EPOLL] [PKCS11] [MH/PKTINFO] [AEAD] [DCO]\n",
       L"2.6.14"},
      {"OpenVPN 2.1.4 i686-pc-mingw32 [SSL] [LZO2] [PKCS11] built on Nov  8 2010\n", L"2.1.4"},
      {"OpenVPN 2.1_rc22 i686-pc-mingw32 [SSL] [LZO2] [PKCS11] built on Jan  5 2010\n", L"2.1"},
      {"OpenVPN 2.6_git x86_64-w64-mingw32 [SSL (OpenSSL)]", L"2.6"},
      {"OpenVPN 2.1.4.1 i686-pc-mingw32\n", L"2.1.4.1"},
      // Not openvpn's version line: nothing is read from it.
      {"", L""},
      {"Options error: Unrecognized option or missing parameter(s) in [CMD-LINE]:1: version\n", L""},
      {"library versions: OpenSSL 3.0.22\nOpenVPN 2.6.14 x86_64-w64-mingw32\n", L""},
      {"OpenVPN x86_64-w64-mingw32 [SSL]\n", L""},
      {"OpenVPN\n2.6.14\n", L""},
      {"openvpn 2.6.14 x86_64-w64-mingw32\n", L""},
      // A runaway number is cut, not carried into the comparison whole.
      {"OpenVPN 2.6.1444444444444444444444444444444444444444 x\n", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(OpenVpnVersionFromOutput(c.output), c.version) << c.output;
}

TEST(OpenVpnVersion, ComparesTheRequiredWithTheInstalledProgram) {
  struct Case {
    const wchar_t* required;
    const wchar_t* installed;
    int expected;
  } cases[] = {
      // The service's old requirement is met by the openvpn we ship now.
      {L"2.1.4.1", L"2.6.14", -1},
      {L"2.6.14", L"2.6.14", 0},
      {L"2.6.14.0", L"2.6.14", 0},
      {L"2.6.15", L"2.6.14", 1},
      {L"2.7", L"2.6.14", 1},
      {L"2.6.9", L"2.6.14", -1},
      // An old program that reads 2.1.4 falls short of its vendor build 2.1.4.1.
      {L"2.1.4.1", L"2.1.4", 1},
      {L"", L"2.6.14", -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CompareOpenVpnVersion(c.required, c.installed), c.expected) << c.required << L" vs " << c.installed;
}

#ifndef _WIN32
// The program beside the client is asked for its version; one that others
// may change is not run at all.
TEST(OpenVpnVersion, AsksTheShippedProgram) {
  struct Case {
    const char* printed;
    std::filesystem::perms mode;
    const wchar_t* installed;
    int againstOldRequirement;  // required 2.1.4.1
  } cases[] = {
      {"OpenVPN 2.6.14 x86_64-pc-linux-gnu [SSL (OpenSSL)] [LZO] [LZ4]", std::filesystem::perms(0755), L"2.6.14", -1},
      {"OpenVPN 2.1.4 i686-pc-mingw32 [SSL] [LZO2] [PKCS11] built on Nov  8 2010", std::filesystem::perms(0755),
       L"2.1.4", 1},
      {"OpenVPN 2.6.14 x86_64-pc-linux-gnu", std::filesystem::perms(0775), kBuiltInOpenVpnVersion, 0},
      {"Options error: --version takes no argument", std::filesystem::perms(0755), kBuiltInOpenVpnVersion, 0},
  };
  const std::wstring before = OpenVpnDirectory();
  for (const Case& c : cases) {
    CTempDir dir;
    const std::wstring program = dir.Write(L"openvpn", std::string("#!/bin/sh\necho '") + c.printed + "'\n");
    std::filesystem::permissions(dir.Path() / "openvpn", c.mode);
    SetOpenVpnDirectory(dir.Path().wstring() + L"/");
    EXPECT_EQ(InstalledOpenVpnVersion(), c.installed) << c.printed;
    EXPECT_EQ(CompareOpenVpnVersion(L"2.1.4.1"), c.againstOldRequirement) << c.printed;
  }
  SetOpenVpnDirectory(before);
}
#endif

TEST(OpenVpnComponent, DriverFollowsWindowsNotTheClient) {
  EXPECT_STREQ(TapDriverFolder(true), L"driver_x64");
  EXPECT_STREQ(TapDriverFolder(false), L"driver_x86");
}

TEST(OpenVpnComponent, EveryFileMustBeThere) {
  CTempDir dir;
  // The x64 client always runs on 64-bit Windows and needs the 64-bit
  // driver; it used to get the 32-bit one.
  const std::wstring driver = TapDriverFolder(RunsOn64BitWindows());
#ifdef _WIN64
  EXPECT_EQ(driver, L"driver_x64");
#endif
#ifdef _WIN32
  const wchar_t sep = L'\\';
  // The driver package is not needed to call the component present: a
  // package without it meets the driver installation, which says it failed.
  const std::vector<std::wstring> files = {L"openvpn\\openvpn.exe", L"openvpn\\ca.crt"};
#else
  const wchar_t sep = L'/';
  const std::vector<std::wstring> files = {L"openvpn/ca.crt"};
#endif
  const std::wstring program = dir.Path().wstring() + sep;
  // Any single missing file fails the check; the directories are set anyway.
  for (std::size_t missing = 0; missing <= files.size(); ++missing) {
    std::filesystem::remove_all(dir.Path() / "openvpn");
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (i == missing) continue;
      const std::filesystem::path p = dir.Path() / files[i];
      std::filesystem::create_directories(p.parent_path());
      dir.Write(files[i], "x");
    }
    SetOpenVpnDirectory(L"stale");
    const bool complete = CheckOpenVpnComponent(program);
    EXPECT_EQ(OpenVpnDirectory(), program + L"openvpn" + sep);
    EXPECT_EQ(OpenVpnDriverDirectory(), program + L"openvpn" + sep + driver + sep);
#ifdef _WIN32
    EXPECT_EQ(complete, missing == files.size()) << "missing " << missing;
#else
    // On Linux the program may also be the system's own.
    if (missing < files.size()) {
      EXPECT_FALSE(complete) << "missing " << missing;
    }
#endif
  }
}

class CFakeTapSystem : public ITapSystem {
 public:
  std::string ShowAdapters() override { return adapters; }
  bool ListNetworkDevices(std::vector<TapDevice>& out) override {
    ++lists;
    if (!listable) return false;
    out = devices;
    return true;
  }
  std::optional<DevNodeStatus> ReadStatus(std::size_t device) override {
    if (device >= statuses.size()) return std::nullopt;
    return statuses[device];
  }
  void EnableTapAdapters() override {
    ++enables;
    for (auto& s : statuses)
      if (s && s->problem == kProblemDisabled && enableWorks) s = DevNodeStatus{0x0180200A, 0};
  }

  std::string adapters = "Available TAP-WIN32 adapters [name, GUID]:\n'Local Area Connection 2' {1A2B}\n";
  bool listable = true;
  bool enableWorks = true;
  std::vector<TapDevice> devices;
  std::vector<std::optional<DevNodeStatus>> statuses;
  int lists = 0, enables = 0;
};

TEST(TapAdapter, ReadyWhenTheRightDeviceWorksOrCanBeEnabled) {
  const TapDevice tap{kTapAdapterDescription, true};
  const TapDevice other{L"TAP-Windows Adapter V9", true};
  const DevNodeStatus ok{0x0180200A, 0};
  const DevNodeStatus disabled{kDevNodeHasProblem, kProblemDisabled};
  const DevNodeStatus broken{kDevNodeHasProblem, 10};
  struct Case {
    const char* name;
    std::string adapters;
    std::vector<TapDevice> devices;
    std::vector<std::optional<DevNodeStatus>> statuses;
    bool enableWorks;
    bool ready;
    int enables;
  } cases[] = {
      {"working adapter", "{x}", {tap}, {ok}, true, true, 0},
      {"openvpn lists none", "no adapters", {tap}, {ok}, true, false, 0},
      {"disabled, enabled once", "{x}", {tap}, {disabled}, true, true, 1},
      {"disabled and stays so", "{x}", {tap}, {disabled}, false, false, 1},
      {"other problem", "{x}", {tap}, {broken}, true, false, 0},
      {"another driver's adapter", "{x}", {other}, {ok}, true, false, 0},
      {"unreadable properties", "{x}", {TapDevice{kTapAdapterDescription, false}}, {ok}, true, false, 0},
      {"unreadable status", "{x}", {tap}, {std::nullopt}, true, false, 0},
      {"one of two suffices", "{x}", {tap, tap}, {broken, ok}, true, true, 0},
  };
  for (const Case& c : cases) {
    CFakeTapSystem system;
    system.adapters = c.adapters;
    system.devices = c.devices;
    system.statuses = c.statuses;
    system.enableWorks = c.enableWorks;
    EXPECT_EQ(IsTapAdapterReady(system), c.ready) << c.name;
    EXPECT_EQ(system.enables, c.enables) << c.name;
  }
  CFakeTapSystem unlisted;
  unlisted.listable = false;
  EXPECT_FALSE(IsTapAdapterReady(unlisted));
  CFakeTapSystem silent;
  silent.adapters.clear();
  EXPECT_FALSE(IsTapAdapterReady(silent));
  EXPECT_EQ(silent.lists, 0);  // no device search without an adapter listed
}

class CRecordingHost : public IBlockedOperationHost {
 public:
  void SetStatusText(const std::wstring& text) override { texts.push_back(text); }
  std::vector<std::wstring> texts;
};

TEST(InstallOpenVpnDriver, SaysWhatItDoesAndStaysTheMinimum) {
  LoadTextTable();
  CTempDir dir;
  CheckOpenVpnComponent(dir.Path().wstring() + std::wstring(1, std::filesystem::path::preferred_separator));
  CBlockedOperation_InstallOpenVpnDriver operation(200);
  CRecordingHost host;
  const auto start = std::chrono::steady_clock::now();
  operation.Run(host);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(195));
  EXPECT_EQ(host.texts, (std::vector<std::wstring>{L"Installing OpenVPN Driver ..."}));
  operation.OnTimer();  // with no installer window around, nothing to raise
}

}  // namespace
