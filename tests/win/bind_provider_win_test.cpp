// QuillnetBind.dll's provider code run for real: a fresh copy of the built
// module is started as the system would start it, over the tests' base
// provider (test_base_provider.dll), with the catalog handed to it through
// its test seam, and asks the client's real pipe server for host routes.
// Sockets go to this machine's own address, so nothing leaves it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "accel/bind_catalog.h"
#include "accel/bind_exports.h"
#include "accel/bind_module.h"
#include "accel/bind_rules.h"
#include "accel/route_request_pipe_server.h"
#include "account/reply_document.h"
#include "account/settings.h"
#include "fakes/fake_forward_table.h"
#include "fakes/temp_dir.h"
#include "platform/strings.h"
#include "platform/win32.h"
// After <windows.h>.
#include <iphlpapi.h>
#include <ws2spi.h>
// After <winsock2.h>.
#include <mswsock.h>
#include <ws2tcpip.h>

namespace {

constexpr DWORD kTcp4 = 1001, kUdp4 = 1002, kTcp6 = 1003, kUdp6 = 1004;
constexpr DWORD kOurLayer = 2001, kChainTcp4 = 2002, kChainUdp4 = 2003, kChainTcp6 = 2004, kChainUdp6 = 2005;
constexpr DWORD kGoneLayer = 3001;  // another layer whose module is not there
constexpr std::uint32_t kTunnelIp = 0x0600080Au;  // 10.8.0.6

const GUID kBaseGuid = {0x5e1f0c3a, 0x1b2d, 0x4c5e, {0x8f, 0x90, 0xa1, 0xb2, 0xc3, 0xd4, 0xe5, 0x01}};
const GUID kGoneGuid = {0x5e1f0c3a, 0x1b2d, 0x4c5e, {0x8f, 0x90, 0xa1, 0xb2, 0xc3, 0xd4, 0xe5, 0x02}};

struct TestEntry {
  WSAPROTOCOL_INFOW info{};
  std::wstring path;
};

// What the module under test reads as the catalog.
std::vector<TestEntry> gCatalog;

int QUILLNET_BIND_CALL LookUpTestCatalog(std::uint32_t catalogId, const void* providerId, void* protocolInfo,
                                         wchar_t* path, int pathChars) {
  for (const TestEntry& e : gCatalog) {
    if (providerId ? std::memcmp(&e.info.ProviderId, providerId, 16) != 0 : e.info.dwCatalogEntryId != catalogId)
      continue;
    std::memcpy(protocolInfo, &e.info, sizeof e.info);
    if (static_cast<int>(e.path.size()) >= pathChars) return 0;
    std::wmemcpy(path, e.path.c_str(), e.path.size() + 1);
    return 1;
  }
  return 0;
}

TestEntry Entry(DWORD id, const GUID& provider, int af, int type, int protocol, std::vector<DWORD> chain,
                std::wstring path) {
  TestEntry e;
  e.info.dwCatalogEntryId = id;
  e.info.ProviderId = provider;
  e.info.iAddressFamily = af;
  e.info.iSocketType = type;
  e.info.iProtocol = protocol;
  e.info.iVersion = 2;
  e.info.iMaxSockAddr = af == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  e.info.iMinSockAddr = e.info.iMaxSockAddr;
  e.info.ProtocolChain.ChainLen = static_cast<int>(chain.size());
  for (std::size_t i = 0; i < chain.size(); ++i) e.info.ProtocolChain.ChainEntries[i] = chain[i];
  e.path = std::move(path);
  return e;
}

// The machine's own addresses, reached without leaving it.
bool OwnAddresses(in_addr& v4, in6_addr& v6, bool& haveV6) {
  ULONG length = 16384;
  std::vector<unsigned char> buffer(length);
  auto* list = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
  if (GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                           nullptr, list, &length) != NO_ERROR)
    return false;
  bool haveV4 = false;
  haveV6 = false;
  for (auto* a = list; a; a = a->Next) {
    for (auto* u = a->FirstUnicastAddress; u; u = u->Next) {
      const sockaddr* s = u->Address.lpSockaddr;
      if (s->sa_family == AF_INET && !haveV4) {
        const in_addr address = reinterpret_cast<const sockaddr_in*>(s)->sin_addr;
        const unsigned char first = address.S_un.S_un_b.s_b1;
        if (first == 127 || (first == 169 && address.S_un.S_un_b.s_b2 == 254)) continue;
        v4 = address;
        haveV4 = true;
      }
      if (s->sa_family == AF_INET6 && !haveV6) {
        const in6_addr& address = reinterpret_cast<const sockaddr_in6*>(s)->sin6_addr;
        if (IN6_IS_ADDR_LOOPBACK(&address) || IN6_IS_ADDR_LINKLOCAL(&address) || IN6_IS_ADDR_V4MAPPED(&address))
          continue;
        v6 = address;
        haveV6 = true;
      }
    }
  }
  return haveV4;
}

bool WaitReadable(SOCKET s, bool write = false) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval limit{20, 0};
  return select(0, write ? nullptr : &set, write ? &set : nullptr, nullptr, &limit) == 1;
}

// A plain socket of the system's, listening or receiving on every address.
SOCKET PlainListener(int af, int type, std::uint16_t& port) {
  SOCKET s = socket(af, type, 0);
  if (s == INVALID_SOCKET) return s;
  sockaddr_storage any{};
  int length = 0;
  if (af == AF_INET6) {
    DWORD no = 0;
    setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&no), sizeof no);
    reinterpret_cast<sockaddr_in6&>(any).sin6_family = AF_INET6;
    length = sizeof(sockaddr_in6);
  } else {
    reinterpret_cast<sockaddr_in&>(any).sin_family = AF_INET;
    length = sizeof(sockaddr_in);
  }
  if (bind(s, reinterpret_cast<sockaddr*>(&any), length) != 0 || (type == SOCK_STREAM && listen(s, 16) != 0)) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  getsockname(s, reinterpret_cast<sockaddr*>(&any), &length);
  port = ntohs(af == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(any).sin6_port
                              : reinterpret_cast<sockaddr_in&>(any).sin_port);
  return s;
}

// The ways a program reaches a destination.
enum class Way { Connect, ConnectNonBlocking, ConnectEx, SendTo, SendMsg, SendMsgByIoctl };

class BindProvider : public ::testing::Test {
 public:
  void SetUp() override {
    WSADATA w;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &w), 0);
    if (!OwnAddresses(own4, own6, haveOwn6)) GTEST_SKIP() << "this machine has no address but loopback";
    static int copies = 0;
    modulePath = dir.File(L"QuillnetBind_" + std::to_wstring(++copies) + L".dll");
    std::filesystem::copy_file(ModuleFolder() + kBindModuleName, modulePath);
    const std::wstring base = ModuleFolder() + L"test_base_provider.dll";
    gCatalog = {
        Entry(kTcp4, kBaseGuid, AF_INET, SOCK_STREAM, IPPROTO_TCP, {}, base),
        Entry(kUdp4, kBaseGuid, AF_INET, SOCK_DGRAM, IPPROTO_UDP, {}, base),
        Entry(kTcp6, kBaseGuid, AF_INET6, SOCK_STREAM, IPPROTO_TCP, {}, base),
        Entry(kUdp6, kBaseGuid, AF_INET6, SOCK_DGRAM, IPPROTO_UDP, {}, base),
        Entry(kGoneLayer, kGoneGuid, AF_INET, SOCK_STREAM, IPPROTO_TCP, {}, dir.File(L"gone.dll")),
    };
    for (TestEntry& e : gCatalog) e.info.ProtocolChain.ChainLen = e.info.dwCatalogEntryId == kGoneLayer ? 0 : 1;
    GUID layer;
    std::memcpy(&layer, kBindLayeredGuid.data(), 16);
    gCatalog.push_back(Entry(kOurLayer, layer, AF_INET, SOCK_STREAM, IPPROTO_TCP, {}, modulePath));
    gCatalog.back().info.ProtocolChain.ChainLen = 0;

    table = std::make_unique<CFakeForwardTable>();
    SetUpHomeNetwork(*table);
    static int pipes = 0;
    pipeName = L"\\\\.\\pipe\\QuillnetBindProviderTest_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
               std::to_wstring(++pipes);
    server = std::make_unique<CVpnRouteRequestPipeServer>(*table, pipeName);
    listPath = dir.File(L"applist.ini");
    Activate(true);
  }

  void TearDown() override {
    if (HMODULE client = GetModuleHandleW((ModuleFolder() + kBindModuleName).c_str()))
      if (auto stop = reinterpret_cast<BindStopFunction>(reinterpret_cast<void*>(GetProcAddress(client, kBindStopExport))))
        stop();
    if (module) {
      FreeLibrary(module);
      module = nullptr;
    }
    if (server) server->Stop();
    server.reset();
    gCatalog.clear();
    WSACleanup();
  }

  void Activate(bool active) {
    IniWriteString(listPath, L"C:\\Programs\\tests.lnk", L"AppFullname", ProgramPath());
    IniWriteInt(listPath, L"C:\\Programs\\tests.lnk", L"Active", active ? 1 : 0);
  }

  static std::wstring ProgramPath() {
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return std::wstring(buffer, n);
  }

  bool StartServer() {
    if (!server->Start(Template())) return false;
    // Wine's WaitNamedPipe fails at once while no instance exists yet.
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(10))
      if (WaitNamedPipeW(pipeName.c_str(), 100)) return true;
    return false;
  }

  // The tunnel published by the client's copy of the module (the one the
  // client loads, kept for the whole run as there), and a fresh copy
  // loaded as in another program of the user.
  ::testing::AssertionResult LoadModule() {
    HMODULE client = LoadLibraryW((ModuleFolder() + kBindModuleName).c_str());
    auto start = client ? reinterpret_cast<BindStartFunction>(
                              reinterpret_cast<void*>(GetProcAddress(client, kBindStartExport)))
                        : nullptr;
    if (!start || start(8, kTunnelIp) != 0) return ::testing::AssertionFailure() << "the tunnel was not published";
    module = LoadLibraryW(modulePath.c_str());
    if (!module) return ::testing::AssertionFailure() << "cannot load the module: " << GetLastError();
    auto use = reinterpret_cast<BindUseCatalogFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, kBindUseCatalogExport)));
    startup = reinterpret_cast<LPWSPSTARTUP>(reinterpret_cast<void*>(GetProcAddress(module, "WSPStartup")));
    auto places = reinterpret_cast<BindUsePlacesFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, kBindUsePlacesExport)));
    if (!use || (usePlaces && !places) || !startup) return ::testing::AssertionFailure() << "an export is missing";
    use(&LookUpTestCatalog);
    if (usePlaces) places(pipeName.c_str(), listPath.c_str());
    return ::testing::AssertionSuccess();
  }

  // The system's start of one chain entry: our chain over `below`.
  struct Chain {
    WSAPROTOCOL_INFOW info{};
    WSPPROC_TABLE table{};
    int startResult = -1;
  };
  Chain StartChain(DWORD id, int af, int type, int protocol, std::vector<DWORD> below) {
    std::vector<DWORD> entries = {kOurLayer};
    entries.insert(entries.end(), below.begin(), below.end());
    Chain chain;
    chain.info = Entry(id, kBaseGuid, af, type, protocol, entries, L"").info;
    WSPDATA data{};
    WSPUPCALLTABLE upcalls{};
    chain.startResult = startup(MAKEWORD(2, 2), &data, &chain.info, upcalls, &chain.table);
    return chain;
  }

  // The base provider of entry `id` started on its own, as without the module.
  Chain StartBaseAlone(DWORD id, int type) {
    Chain chain;
    for (const TestEntry& e : gCatalog)
      if (e.info.dwCatalogEntryId == id) chain.info = e.info;
    HMODULE base = LoadLibraryW((ModuleFolder() + L"test_base_provider.dll").c_str());
    auto start = base ? reinterpret_cast<LPWSPSTARTUP>(reinterpret_cast<void*>(GetProcAddress(base, "WSPStartup")))
                      : nullptr;
    WSPDATA data{};
    chain.startResult = start && chain.info.iSocketType == type
                            ? start(MAKEWORD(2, 2), &data, &chain.info, WSPUPCALLTABLE{}, &chain.table)
                            : -1;
    return chain;
  }

  sockaddr_storage Destination(int af, bool mapped, std::uint16_t port, int& length) const {
    sockaddr_storage d{};
    if (af == AF_INET) {
      auto& a = reinterpret_cast<sockaddr_in&>(d);
      a.sin_family = AF_INET;
      a.sin_addr = own4;
      a.sin_port = htons(port);
      length = sizeof a;
    } else {
      auto& a = reinterpret_cast<sockaddr_in6&>(d);
      a.sin6_family = AF_INET6;
      a.sin6_port = htons(port);
      if (mapped) {
        a.sin6_addr.s6_addr[10] = a.sin6_addr.s6_addr[11] = 0xFF;
        std::memcpy(&a.sin6_addr.s6_addr[12], &own4, 4);
      } else {
        a.sin6_addr = haveOwn6 ? own6 : in6addr_loopback;
      }
      length = sizeof a;
    }
    return d;
  }

  // Reaches the destination one way through the chain's table; true when
  // the listener accepted the connection or the datagram arrived.
  ::testing::AssertionResult Reach(Chain& chain, Way way, int af, bool mapped) {
    const bool stream = way == Way::Connect || way == Way::ConnectNonBlocking || way == Way::ConnectEx;
    std::uint16_t port = 0;
    SOCKET peer = PlainListener(mapped ? AF_INET : af, stream ? SOCK_STREAM : SOCK_DGRAM, port);
    if (peer == INVALID_SOCKET) return ::testing::AssertionFailure() << "no listener: " << WSAGetLastError();
    int error = 0;
    WSPPROC_TABLE& t = chain.table;
    SOCKET s = t.lpWSPSocket(af, stream ? SOCK_STREAM : SOCK_DGRAM, stream ? IPPROTO_TCP : IPPROTO_UDP, &chain.info,
                             0, WSA_FLAG_OVERLAPPED, &error);
    if (s == INVALID_SOCKET) {
      closesocket(peer);
      return ::testing::AssertionFailure() << "no socket: " << error;
    }
    if (af == AF_INET6) {
      DWORD no = 0;
      t.lpWSPSetSockOpt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&no), sizeof no, &error);
    }
    int length = 0;
    sockaddr_storage to = Destination(af, mapped, port, length);
    const auto* name = reinterpret_cast<const sockaddr*>(&to);
    char payload[] = "quillnet";
    WSABUF buffer{sizeof payload, payload};
    DWORD done = 0;
    bool sent = false;
    switch (way) {
      case Way::Connect:
        sent = t.lpWSPConnect(s, name, length, nullptr, nullptr, nullptr, nullptr, &error) == 0;
        break;
      case Way::ConnectNonBlocking: {
        u_long yes = 1;
        t.lpWSPIoctl(s, FIONBIO, &yes, sizeof yes, nullptr, 0, &done, nullptr, nullptr, nullptr, &error);
        const int r = t.lpWSPConnect(s, name, length, nullptr, nullptr, nullptr, nullptr, &error);
        sent = (r == 0 || error == WSAEWOULDBLOCK) && WaitReadable(s, true);
        break;
      }
      case Way::ConnectEx: {
        sockaddr_storage any{};
        any.ss_family = static_cast<short>(af);
        t.lpWSPBind(s, reinterpret_cast<sockaddr*>(&any), af == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in),
                    &error);
        GUID id = WSAID_CONNECTEX;
        LPFN_CONNECTEX connectEx = nullptr;
        if (t.lpWSPIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &connectEx, sizeof connectEx, &done,
                         nullptr, nullptr, nullptr, &error) != 0 || !connectEx)
          break;
        WSAOVERLAPPED o{};
        o.hEvent = WSACreateEvent();
        DWORD flags = 0;
        sent = connectEx(s, name, length, nullptr, 0, nullptr, &o) ||
               (WSAGetLastError() == ERROR_IO_PENDING && WaitForSingleObject(o.hEvent, 20000) == WAIT_OBJECT_0 &&
                WSAGetOverlappedResult(s, &o, &done, FALSE, &flags));
        WSACloseEvent(o.hEvent);
        break;
      }
      case Way::SendTo:
        sent = t.lpWSPSendTo(s, &buffer, 1, &done, 0, name, length, nullptr, nullptr, nullptr, &error) == 0;
        break;
      case Way::SendMsg: {
        GUID id = WSAID_WSASENDMSG;
        LPFN_WSASENDMSG sendMsg = nullptr;
        if (t.lpWSPIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &sendMsg, sizeof sendMsg, &done,
                         nullptr, nullptr, nullptr, &error) != 0 || !sendMsg)
          break;
        WSAMSG message{const_cast<sockaddr*>(name), length, &buffer, 1, {0, nullptr}, 0};
        sent = sendMsg(s, &message, 0, &done, nullptr, nullptr) == 0;
        break;
      }
      case Way::SendMsgByIoctl: {
        WSAMSG message{const_cast<sockaddr*>(name), length, &buffer, 1, {0, nullptr}, 0};
        WSASENDMSG request{&message, 0, &done, nullptr, nullptr};
        sent = t.lpWSPIoctl(s, SIO_EXT_SENDMSG, &request, sizeof request, nullptr, 0, &done, nullptr, nullptr, nullptr,
                            &error) == 0;
        break;
      }
    }
    bool arrived = false;
    if (sent && WaitReadable(peer)) {
      if (stream) {
        SOCKET accepted = accept(peer, nullptr, nullptr);
        arrived = accepted != INVALID_SOCKET;
        if (arrived) closesocket(accepted);
      } else {
        char got[64];
        arrived = recv(peer, got, sizeof got, 0) == static_cast<int>(sizeof payload);
      }
    }
    const int closed = t.lpWSPCloseSocket(s, &error);
    closesocket(peer);
    if (!sent) return ::testing::AssertionFailure() << "the call failed: " << error << " " << WSAGetLastError();
    if (!arrived) return ::testing::AssertionFailure() << "nothing arrived";
    if (closed != 0) return ::testing::AssertionFailure() << "close failed: " << error;
    return ::testing::AssertionSuccess();
  }

  static ForwardRow Template() { return MakeRow(L"0.0.0.0", L"0.0.0.0", L"10.8.0.6", 7, 6); }

  bool RouteRequested() const {
    ForwardRow host = Template();
    host.destination = own4.S_un.S_addr;
    host.mask = 0xFFFFFFFFu;
    return table->Has(host);
  }

  CTempDir dir;
  in_addr own4{};
  in6_addr own6{};
  bool haveOwn6 = false;
  std::wstring modulePath;
  std::wstring pipeName;
  std::wstring listPath;
  std::unique_ptr<CFakeForwardTable> table;
  std::unique_ptr<CVpnRouteRequestPipeServer> server;
  HMODULE module = nullptr;
  LPWSPSTARTUP startup = nullptr;
  bool usePlaces = true;  // hand the module the tests' pipe and list
};

struct WayCase {
  const char* name;
  Way way;
  int af;
  bool mapped;  // an IPv6 socket to an IPv4-mapped address
  bool routed;  // the client is asked for a host route first
};

const WayCase kWays[] = {
    {"connect", Way::Connect, AF_INET, false, true},
    {"non-blocking connect", Way::ConnectNonBlocking, AF_INET, false, true},
    {"ConnectEx", Way::ConnectEx, AF_INET, false, true},
    {"sendto", Way::SendTo, AF_INET, false, true},
    {"WSASendMsg", Way::SendMsg, AF_INET, false, true},
    {"WSASendMsg through the system", Way::SendMsgByIoctl, AF_INET, false, true},
    {"IPv6 connect, mapped", Way::Connect, AF_INET6, true, true},
    {"IPv6 ConnectEx, mapped", Way::ConnectEx, AF_INET6, true, true},
    {"IPv6 sendto, mapped", Way::SendTo, AF_INET6, true, true},
    {"IPv6 WSASendMsg, mapped", Way::SendMsg, AF_INET6, true, true},
    {"IPv6 connect, plain", Way::Connect, AF_INET6, false, false},
    {"IPv6 sendto, plain", Way::SendTo, AF_INET6, false, false},
};

DWORD ChainFor(const WayCase& c) {
  const bool stream = c.way == Way::Connect || c.way == Way::ConnectNonBlocking || c.way == Way::ConnectEx;
  if (c.af == AF_INET) return stream ? kChainTcp4 : kChainUdp4;
  return stream ? kChainTcp6 : kChainUdp6;
}

DWORD BaseFor(DWORD chain) {
  switch (chain) {
    case kChainTcp4: return kTcp4;
    case kChainUdp4: return kUdp4;
    case kChainTcp6: return kTcp6;
    default: return kUdp6;
  }
}

int TypeOf(DWORD chain) { return chain == kChainTcp4 || chain == kChainTcp6 ? SOCK_STREAM : SOCK_DGRAM; }

TEST_F(BindProvider, EveryWayAnActivatedProgramReachesAnAddressAsksForItsRouteFirst) {
  for (const WayCase& c : kWays) {
    SCOPED_TRACE(c.name);
    // A fresh module per way: it remembers granted routes for a minute.
    TearDown();
    SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(StartServer());
    ASSERT_TRUE(LoadModule());
    const DWORD id = ChainFor(c);
    const int type = TypeOf(id);
    Chain chain = StartChain(id, c.af, type, type == SOCK_STREAM ? IPPROTO_TCP : IPPROTO_UDP, {BaseFor(id)});
    ASSERT_EQ(chain.startResult, 0);
    EXPECT_TRUE(Reach(chain, c.way, c.af, c.mapped));
    EXPECT_EQ(RouteRequested(), c.routed);
  }
}

TEST_F(BindProvider, AProgramNotActivatedIsOnlyPassedThrough) {
  Activate(false);
  ASSERT_TRUE(StartServer());
  ASSERT_TRUE(LoadModule());
  Chain tcp = StartChain(kChainTcp4, AF_INET, SOCK_STREAM, IPPROTO_TCP, {kTcp4});
  Chain udp = StartChain(kChainUdp4, AF_INET, SOCK_DGRAM, IPPROTO_UDP, {kUdp4});
  ASSERT_EQ(tcp.startResult, 0);
  ASSERT_EQ(udp.startResult, 0);
  EXPECT_TRUE(Reach(tcp, Way::ConnectEx, AF_INET, false));
  EXPECT_TRUE(Reach(udp, Way::SendTo, AF_INET, false));
  EXPECT_FALSE(RouteRequested());
}

// Whatever goes wrong in the module's start or around it, a program's
// sockets work as they would without it.
struct FailCase {
  const char* name;
  std::function<void(BindProvider&)> breakIt;
  std::vector<DWORD> below;  // the chain under our layer
  bool routed;
};

TEST_F(BindProvider, FailsOpen) {
  const FailCase cases[] = {
      {"the next provider's module is missing", [](BindProvider&) {}, {kGoneLayer, kTcp4}, true},
      {"the next provider is not in the catalog", [](BindProvider&) {}, {4242, kTcp4}, true},
      {"our own entry is not in the catalog",
       [](BindProvider&) { gCatalog.erase(gCatalog.end() - 1); },
       {kTcp4},
       true},
      {"no route request server", [](BindProvider& t) { t.server->Stop(); }, {kTcp4}, false},
      {"the application list is a folder",
       [](BindProvider& t) {
         std::filesystem::remove(t.listPath);
         std::filesystem::create_directory(t.listPath);
       },
       {kTcp4},
       false},
      {"the application list is too large",
       [](BindProvider& t) { t.dir.Write(L"applist.ini", std::string(kMaxAppListBytes + 1, '[')); },
       {kTcp4},
       false},
      {"the application list is not text", [](BindProvider& t) { t.dir.Write(L"applist.ini", std::string("\0\xff[\x01", 4)); },
       {kTcp4},
       false},
  };
  for (const FailCase& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(StartServer());
    ASSERT_TRUE(LoadModule());
    c.breakIt(*this);
    Chain chain = StartChain(kChainTcp4, AF_INET, SOCK_STREAM, IPPROTO_TCP, c.below);
    ASSERT_EQ(chain.startResult, 0);
    EXPECT_TRUE(Reach(chain, Way::Connect, AF_INET, false));
    EXPECT_TRUE(Reach(chain, Way::ConnectEx, AF_INET, false));
    EXPECT_EQ(RouteRequested(), c.routed);
  }
}

TEST_F(BindProvider, ALockedApplicationListLeavesSocketsAlone) {
  ASSERT_TRUE(StartServer());
  ASSERT_TRUE(LoadModule());
  HANDLE locked = CreateFileW(listPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  Chain chain = StartChain(kChainTcp4, AF_INET, SOCK_STREAM, IPPROTO_TCP, {kTcp4});
  ASSERT_EQ(chain.startResult, 0);
  EXPECT_TRUE(Reach(chain, Way::Connect, AF_INET, false));
  CloseHandle(locked);
  EXPECT_FALSE(RouteRequested());
}

TEST_F(BindProvider, WithoutAnyProviderBelowTheStartFailsAsTheBaseWould) {
  ASSERT_TRUE(LoadModule());
  for (TestEntry& e : gCatalog)
    if (e.info.dwCatalogEntryId == kTcp4) e.path = dir.File(L"no_base.dll");
  EXPECT_NE(StartChain(kChainTcp4, AF_INET, SOCK_STREAM, IPPROTO_TCP, {kTcp4}).startResult, 0);
  WSAPROTOCOL_INFOW alone = Entry(kOurLayer, kBaseGuid, AF_INET, SOCK_STREAM, IPPROTO_TCP, {}, L"").info;
  WSPDATA data{};
  WSPPROC_TABLE table{};
  EXPECT_NE(startup(MAKEWORD(2, 2), &data, &alone, WSPUPCALLTABLE{}, &table), 0) << "our layer alone is no chain";
}

// The module lives in every program, and every program's environment is its
// parent's to choose: nothing there may point it at another pipe or list.
TEST_F(BindProvider, TheEnvironmentDoesNotRedirectTheModule) {
  CFakeForwardTable rogueTable;
  SetUpHomeNetwork(rogueTable);
  const std::wstring roguePipe = pipeName + L"_rogue";
  CVpnRouteRequestPipeServer rogue(rogueTable, roguePipe);
  ASSERT_TRUE(rogue.Start(Template()));
  for (const DWORD start = GetTickCount(); !WaitNamedPipeW(roguePipe.c_str(), 100); Sleep(10))
    ASSERT_LT(GetTickCount() - start, 10000u);
  const std::size_t rogueRows = rogueTable.CountRows();
  SetEnvironmentVariableW(L"QUILLNET_BIND_PIPE", roguePipe.c_str());
  SetEnvironmentVariableW(L"QUILLNET_BIND_LIST", listPath.c_str());
  usePlaces = false;
  const ::testing::AssertionResult loaded = LoadModule();
  Chain chain;
  if (loaded) chain = StartChain(kChainTcp4, AF_INET, SOCK_STREAM, IPPROTO_TCP, {kTcp4});
  const bool reached = loaded && chain.startResult == 0 && Reach(chain, Way::Connect, AF_INET, false);
  SetEnvironmentVariableW(L"QUILLNET_BIND_PIPE", nullptr);
  SetEnvironmentVariableW(L"QUILLNET_BIND_LIST", nullptr);
  rogue.Stop();
  ASSERT_TRUE(loaded);
  EXPECT_TRUE(reached);
  EXPECT_EQ(rogueTable.adds(), 0) << "the environment's pipe was asked for a route";
  EXPECT_EQ(rogueTable.CountRows(), rogueRows);
}

// Pointers a program may get wrong: the lower provider answers them with its
// error, as without the module; the module must not read them first.
enum class BadPointer { ConnectName, ConnectExName, SendToName, SendMsgMessage, SendMsgName, SendMsgByIoctlRequest };

struct CallOutcome {
  int result = 0;
  int error = 0;
  bool operator==(const CallOutcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const CallOutcome& o) {
  return out << "result " << o.result << ", error " << o.error;
}

CallOutcome CallWithBadPointer(BindProvider::Chain& chain, BadPointer what, int type) {
  const auto* bad = reinterpret_cast<const sockaddr*>(static_cast<std::uintptr_t>(0x10));
  WSPPROC_TABLE& t = chain.table;
  CallOutcome o;
  SOCKET s = t.lpWSPSocket(AF_INET, type, type == SOCK_STREAM ? IPPROTO_TCP : IPPROTO_UDP, &chain.info, 0,
                           WSA_FLAG_OVERLAPPED, &o.error);
  if (s == INVALID_SOCKET) return {-100, o.error};
  char payload[] = "quillnet";
  WSABUF buffer{sizeof payload, payload};
  DWORD done = 0;
  switch (what) {
    case BadPointer::ConnectName:
      o.result = t.lpWSPConnect(s, bad, sizeof(sockaddr_in), nullptr, nullptr, nullptr, nullptr, &o.error);
      break;
    case BadPointer::ConnectExName: {
      sockaddr_in any{};
      any.sin_family = AF_INET;
      t.lpWSPBind(s, reinterpret_cast<sockaddr*>(&any), sizeof any, &o.error);
      GUID id = WSAID_CONNECTEX;
      LPFN_CONNECTEX connectEx = nullptr;
      if (t.lpWSPIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &connectEx, sizeof connectEx, &done,
                       nullptr, nullptr, nullptr, &o.error) != 0 || !connectEx)
        return {-101, o.error};
      WSAOVERLAPPED overlapped{};
      overlapped.hEvent = WSACreateEvent();
      WSASetLastError(0);
      o.result = connectEx(s, bad, sizeof(sockaddr_in), nullptr, 0, nullptr, &overlapped);
      o.error = WSAGetLastError();
      if (o.error == ERROR_IO_PENDING) WaitForSingleObject(overlapped.hEvent, 20000);
      WSACloseEvent(overlapped.hEvent);
      break;
    }
    case BadPointer::SendToName:
      o.result = t.lpWSPSendTo(s, &buffer, 1, &done, 0, bad, sizeof(sockaddr_in), nullptr, nullptr, nullptr, &o.error);
      break;
    case BadPointer::SendMsgMessage:
    case BadPointer::SendMsgName: {
      GUID id = WSAID_WSASENDMSG;
      LPFN_WSASENDMSG sendMsg = nullptr;
      if (t.lpWSPIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &sendMsg, sizeof sendMsg, &done,
                       nullptr, nullptr, nullptr, &o.error) != 0 || !sendMsg)
        return {-102, o.error};
      WSAMSG message{const_cast<sockaddr*>(bad), sizeof(sockaddr_in), &buffer, 1, {0, nullptr}, 0};
      auto* given = what == BadPointer::SendMsgMessage ? reinterpret_cast<WSAMSG*>(static_cast<std::uintptr_t>(0x20))
                                                       : &message;
      WSASetLastError(0);
      o.result = sendMsg(s, given, 0, &done, nullptr, nullptr);
      o.error = WSAGetLastError();
      break;
    }
    case BadPointer::SendMsgByIoctlRequest: {
      WSAMSG message{const_cast<sockaddr*>(bad), sizeof(sockaddr_in), &buffer, 1, {0, nullptr}, 0};
      WSASENDMSG request{&message, 0, &done, nullptr, nullptr};
      o.result = t.lpWSPIoctl(s, SIO_EXT_SENDMSG, &request, sizeof request, nullptr, 0, &done, nullptr, nullptr,
                              nullptr, &o.error);
      break;
    }
  }
  int ignored = 0;
  t.lpWSPCloseSocket(s, &ignored);
  return o;
}

TEST_F(BindProvider, ABadPointerFromTheProgramGetsTheLowerProvidersAnswer) {
  const struct {
    const char* name;
    BadPointer what;
    DWORD chainId;
  } cases[] = {
      {"connect, bad address", BadPointer::ConnectName, kChainTcp4},
      {"ConnectEx, bad address", BadPointer::ConnectExName, kChainTcp4},
      {"sendto, bad address", BadPointer::SendToName, kChainUdp4},
      {"WSASendMsg, bad message", BadPointer::SendMsgMessage, kChainUdp4},
      {"WSASendMsg, bad address", BadPointer::SendMsgName, kChainUdp4},
      {"WSASendMsg through the system, bad address", BadPointer::SendMsgByIoctlRequest, kChainUdp4},
  };
  ASSERT_TRUE(StartServer());
  ASSERT_TRUE(LoadModule());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const DWORD base = BaseFor(c.chainId);
    const int type = TypeOf(c.chainId);
    Chain alone = StartBaseAlone(base, type);
    Chain ours = StartChain(c.chainId, AF_INET, type, type == SOCK_STREAM ? IPPROTO_TCP : IPPROTO_UDP, {base});
    ASSERT_EQ(alone.startResult, 0);
    ASSERT_EQ(ours.startResult, 0);
    const CallOutcome expected = CallWithBadPointer(alone, c.what, type);
    EXPECT_NE(expected.error, 0) << "the base provider took the bad pointer";
    EXPECT_EQ(CallWithBadPointer(ours, c.what, type), expected);
  }
  EXPECT_FALSE(RouteRequested());
}

}  // namespace
