// The bind module's Windows side under Wine: the built DLL's exports and
// registration, the tunnel record it publishes, the route request client
// against the real pipe server, shell links and the desktop shell's launch.
// Wine never loads layered providers, so the provider's own wrapping of
// connects cannot run here.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

#include "accel/app_list.h"
#include "accel/bind_exports.h"
#include "accel/bind_module.h"
#include "accel/bind_rules.h"
#include "accel/route_request_client.h"
#include "accel/route_request_pipe_server.h"
#include "account/reply_document.h"
#include "account/settings.h"
#include "fakes/fake_app_rows.h"
#include "fakes/fake_forward_table.h"
#include "fakes/temp_dir.h"
#include "platform/strings.h"
#include "platform/text_parse.h"
#include "platform/win32.h"
// After <windows.h>.
#include <objbase.h>
#include <shlobj.h>
#include <ws2spi.h>

namespace {

std::wstring ModulePath() { return ModuleFolder() + kBindModuleName; }

TEST(BindDll, ExportsAreFoundByTheirPlainNames) {
  HMODULE module = LoadLibraryW(ModulePath().c_str());
  ASSERT_NE(module, nullptr) << "missing " << WideToUtf8(ModulePath());
  for (const char* name : {"DllRegisterServer", "DllUnregisterServer", "VpnBindStart", "VpnBindStop", "WSPStartup"})
    EXPECT_NE(GetProcAddress(module, name), nullptr) << name;
  FreeLibrary(module);
}

TEST(BindDll, StartAndStopPublishTheTunnelForOtherPrograms) {
  auto loader = CreateSystemModuleLoader();
  ASSERT_NE(loader->Load(kBindModuleName), nullptr);
  EXPECT_TRUE(IsBindModuleActive(*loader));
  const std::uint32_t local = 0x0200080Au;  // 10.8.0.2
  ASSERT_EQ(StartBindModule(*loader, local, nullptr), BindStartResult::Started);
  // Read as another program would: by name, read-only.
  HANDLE section = OpenFileMappingW(FILE_MAP_READ, FALSE, kBindTunnelSectionName);
  ASSERT_NE(section, nullptr);
  const auto* record = static_cast<const BindTunnelRecord*>(MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(record, nullptr);
  TunnelState state = ReadTunnelState(*record);
  EXPECT_TRUE(state.up);
  EXPECT_EQ(state.localIp, local);
  StopBindModule(*loader);
  EXPECT_FALSE(ReadTunnelState(*record).up);
  // A wrong interface version publishes nothing.
  auto start = reinterpret_cast<BindStartFunction>(loader->Symbol(loader->FindLoaded(kBindModuleName), "VpnBindStart"));
  EXPECT_EQ(start(7, local), 1);
  EXPECT_FALSE(ReadTunnelState(*record).up);
  UnmapViewOfFile(record);
  CloseHandle(section);
}

std::vector<std::string> CatalogSnapshot() {
  DWORD length = 0;
  int error = 0;
  WSCEnumProtocols(nullptr, nullptr, &length, &error);
  std::vector<unsigned char> buffer(length);
  auto* infos = reinterpret_cast<WSAPROTOCOL_INFOW*>(buffer.data());
  const int n = length ? WSCEnumProtocols(nullptr, infos, &length, &error) : 0;
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i)
    out.push_back(std::to_string(infos[i].dwCatalogEntryId) + " " + WideToUtf8(infos[i].szProtocol));
  return out;
}

TEST(BindDll, RegistrationIsRepeatableAndLeavesNothingBehind) {
  WSADATA w;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &w), 0);
  const std::vector<std::string> before = CatalogSnapshot();
  ASSERT_FALSE(before.empty());
  auto loader = CreateSystemModuleLoader();
  const std::int32_t first = RegisterBindModule(*loader);
  const std::int32_t second = RegisterBindModule(*loader);
  EXPECT_EQ(first, second);
  // Wine accepts the install but never lists the entry, so the module finds
  // no layer to chain to, takes its install back and says so.
  EXPECT_EQ(first, 1) << "a catalog that lists layered providers: see the native catalog tests";
  EXPECT_EQ(UnregisterBindModule(*loader), 0);
  EXPECT_EQ(UnregisterBindModule(*loader), 0);
  EXPECT_EQ(CatalogSnapshot(), before);
  WSACleanup();
}

// The module's request client, compiled from the same files, against the
// client's real pipe server.
class PipeRequests : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUpHomeNetwork(table);
    templ = MakeRow(L"0.0.0.0", L"0.0.0.0", L"10.8.0.6", 7, 6);
    pipeName = L"\\\\.\\pipe\\QuillnetBindClientTest_" + std::to_wstring(GetCurrentProcessId());
    server = std::make_unique<CVpnRouteRequestPipeServer>(table, pipeName);
    channel = CreateRouteRequestChannel(WideToNarrow(pipeName));
  }
  // Wine's WaitNamedPipe fails at once while no instance exists yet; an
  // instance found free is left for the client (no connection of our own).
  bool WaitForPipe() {
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(10))
      if (WaitNamedPipeW(pipeName.c_str(), 100)) return true;
    return false;
  }
  CFakeForwardTable table;
  ForwardRow templ;
  std::wstring pipeName;
  std::unique_ptr<CVpnRouteRequestPipeServer> server;
  std::unique_ptr<IRouteRequestChannel> channel;
};

TEST_F(PipeRequests, GrantedRefusedAndAsynchronousOnOneConnection) {
  ASSERT_TRUE(server->Start(templ));
  ASSERT_TRUE(WaitForPipe()) << "the server's first instance";
  Tick now = 1000;
  CRouteRequestClient client(*channel, [&] { return now; }, 5000);
  const std::size_t baseline = table.CountRows();
  using R = CRouteRequestClient::Result;
  EXPECT_EQ(client.Request(ParseIpv4(L"198.51.100.7"), true, 1), R::Granted);
  EXPECT_EQ(table.CountRows(), baseline + 1);
  ForwardRow host = templ;
  host.destination = ParseIpv4(L"198.51.100.7");
  host.mask = 0xFFFFFFFFu;
  EXPECT_TRUE(table.Has(host));
  EXPECT_EQ(client.Request(0, true, 1), R::Refused);
  EXPECT_EQ(client.Request(ParseIpv4(L"198.51.100.8"), false, 1), R::Sent);
  EXPECT_EQ(client.Request(ParseIpv4(L"198.51.100.9"), true, 1), R::Granted);
  EXPECT_EQ(table.CountRows(), baseline + 3);
  server->Stop();
  EXPECT_EQ(table.CountRows(), baseline);
  // The server went: the next request fails, later ones are skipped.
  EXPECT_EQ(client.Request(ParseIpv4(L"198.51.100.10"), true, 1), R::Failed);
  EXPECT_EQ(client.Request(ParseIpv4(L"198.51.100.11"), true, 1), R::Skipped);
}

TEST_F(PipeRequests, ASilentServerCostsOneTimeout) {
  HANDLE pipe = CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1,
                                 4096, 4096, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  std::thread peer([&] {
    ConnectNamedPipe(pipe, nullptr);
    unsigned char request[16];
    DWORD got = 0;
    ReadFile(pipe, request, sizeof request, &got, nullptr);
    ReadFile(pipe, request, sizeof request, &got, nullptr);  // until the client hangs up
  });
  CRouteRequestClient client(*channel, GetTickMs, 300);
  const DWORD start = GetTickCount();
  EXPECT_EQ(client.Request(ParseIpv4(L"198.51.100.7"), true, 1), CRouteRequestClient::Result::Failed);
  EXPECT_GE(GetTickCount() - start, 250u);
  peer.join();
  CloseHandle(pipe);
}

// Shell links made here and resolved by the shell's own link object.
class ShellLinks : public ::testing::Test {
 protected:
  void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void TearDown() override { CoUninitialize(); }
  static bool MakeLink(const std::wstring& link, const std::wstring& target) {
    IShellLinkW* shell = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&shell))))
      return false;
    shell->SetPath(target.c_str());
    IPersistFile* file = nullptr;
    bool ok = SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)));
    if (ok) {
      ok = SUCCEEDED(file->Save(link.c_str(), TRUE));
      file->Release();
    }
    shell->Release();
    return ok;
  }
  CTempDir dir;
};

class CFakeInstaller : public IInstallerShortcuts {
 public:
  bool ResolveAdvertised(const std::wstring& shortcut, std::wstring& target) override {
    if (shortcut.find(L"advertised") == std::wstring::npos) return false;
    target = advertisedTarget;
    return true;
  }
  std::wstring advertisedTarget;
};

TEST_F(ShellLinks, RealLinksResolveToTheirTargets) {
  const std::wstring program = dir.Write(L"tool.exe", "MZ");
  const std::wstring document = dir.Write(L"notes.txt", "text");
  const std::wstring toProgram = dir.File(L"Tool.lnk");
  const std::wstring toDocument = dir.File(L"Notes.LNK");
  const std::wstring toGone = dir.File(L"Gone.lnk");
  ASSERT_TRUE(MakeLink(toProgram, program));
  ASSERT_TRUE(MakeLink(toDocument, document));
  ASSERT_TRUE(MakeLink(toGone, dir.Write(L"gone.exe", "MZ")));
  std::filesystem::remove(dir.Path() / L"gone.exe");

  auto installer = std::make_unique<CFakeInstaller>();
  installer->advertisedTarget = program;
  auto resolver = CreateShellShortcutResolver(std::move(installer));
  std::wstring target;
  ASSERT_TRUE(resolver->ResolveShortcutTarget(toProgram, target));
  EXPECT_TRUE(EqualsNoCaseAscii(target, program)) << WideToUtf8(target);
  ASSERT_TRUE(resolver->ResolveShortcutTarget(toDocument, target));
  EXPECT_TRUE(EqualsNoCaseAscii(target, document)) << WideToUtf8(target);
  EXPECT_FALSE(resolver->ResolveShortcutTarget(toGone, target)) << "a target that is gone";
  EXPECT_FALSE(resolver->ResolveShortcutTarget(dir.File(L"none.lnk"), target)) << "no shortcut file";
  // The installer's answer comes first; a file that is no link at all still
  // resolves through it.
  const std::wstring advertised = dir.Write(L"advertised.lnk", "not a shell link");
  ASSERT_TRUE(resolver->ResolveShortcutTarget(advertised, target));
  EXPECT_EQ(target, program);

  // The list takes the program's shortcut and refuses the document's.
  CFakeLauncher launcher;
  CFakeImageList images;
  CFakeAppRows rows;
  CAppList list(*resolver, launcher, images, dir.File(L"applist.ini"));
  EXPECT_EQ(list.AddApplication(rows, toProgram, kAppListModeAdd), 0);
  EXPECT_TRUE(EqualsNoCaseAscii(IniReadString(list.Path(), toProgram, L"AppFullname", L""), program));
  EXPECT_EQ(list.AddApplication(rows, toDocument, kAppListModeAdd), -1);
  // The system installer step answers no for an ordinary link.
  auto system = CreateSystemInstallerShortcuts();
  EXPECT_FALSE(system->ResolveAdvertised(toProgram, target));
}

TEST_F(ShellLinks, SystemImageListGivesAnIndexByName) {
  auto images = CreateSystemImageList();
  EXPECT_GE(images->ImageIndexFor(L"anything.exe"), 0);
}

class Launch : public ShellLinks {
 protected:
  void SetUp() override {
    ShellLinks::SetUp();
    event = CreateEventW(nullptr, FALSE, FALSE, L"Local\\QuillnetBindMarkerTest");
    ASSERT_NE(event, nullptr);
    program = dir.File(L"marker.exe");
    std::filesystem::copy_file(QUILLNET_BIND_MARKER, program);
  }
  void TearDown() override {
    CloseHandle(event);
    ShellLinks::TearDown();
  }
  bool Ran() {
    if (WaitForSingleObject(event, 60000) != WAIT_OBJECT_0) return false;
    return std::filesystem::exists(program + L".ran");
  }
  HANDLE event = nullptr;
  std::wstring program;
};

TEST_F(Launch, ThroughTheDesktopShell) {
  auto launcher = CreateSystemAppLauncher();
  if (!launcher->LaunchThroughDesktopShell(program))
    GTEST_SKIP() << "this Wine has no desktop shell window list (IShellWindows: class not registered)";
  EXPECT_TRUE(Ran());
}

TEST_F(Launch, TheListStartsAnApplicationOneWayOrTheOther) {
  auto launcher = CreateSystemAppLauncher();
  auto resolver = CreateSystemShortcutResolver();
  auto images = CreateSystemImageList();
  CAppList list(*resolver, *launcher, *images, dir.File(L"applist.ini"));
  list.LaunchApplication(nullptr, program);
  EXPECT_TRUE(Ran());
}

TEST_F(Launch, DirectlyWhenAsked) {
  auto launcher = CreateSystemAppLauncher();
  ASSERT_TRUE(launcher->LaunchDirect(nullptr, program));
  EXPECT_TRUE(Ran());
}

}  // namespace
