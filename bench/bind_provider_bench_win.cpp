// What QuillnetBind.dll adds to a program's connect, under Wine: the module
// started over the tests' base provider as the system would start it, against
// that base provider alone, all in one run. Connects go to a listener on this
// machine's own address (loopback destinations never reach the module's
// decision, so they would time nothing of it).
//   activated, route exists  the list names this program, a tunnel is up and the
//                            client already granted the route (first connect)
//   not activated            a tunnel is up, the list does not name the program
//   no client                no tunnel record at all: the client is not running
// The no-client case runs in the first phase, before anything publishes the
// tunnel (a published record lives as long as this process); each phase has
// its own baseline. Cases take turns connect by connect so that the machine's
// load falls on all of them alike.
// usage: bind_provider_bench.exe [CONNECTS]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "accel/bind_catalog.h"
#include "accel/bind_exports.h"
#include "accel/bind_module.h"
#include "accel/route_request_pipe_server.h"
#include "account/settings.h"
#include "fakes/fake_forward_table.h"
#include "win_bench_timing.h"
// After <windows.h>.
#include <iphlpapi.h>
#include <ws2spi.h>

namespace {

constexpr DWORD kTcp4 = 1001, kOurLayer = 2001, kChainTcp4 = 2002;
const GUID kBaseGuid = {0x5e1f0c3a, 0x1b2d, 0x4c5e, {0x8f, 0x90, 0xa1, 0xb2, 0xc3, 0xd4, 0xe5, 0x01}};

struct CatalogEntry {
  WSAPROTOCOL_INFOW info{};
  std::wstring path;
};
std::vector<CatalogEntry> gCatalog;

int QUILLNET_BIND_CALL LookUpCatalog(std::uint32_t catalogId, const void* providerId, void* protocolInfo,
                                     wchar_t* path, int pathChars) {
  for (const CatalogEntry& e : gCatalog) {
    if (providerId ? std::memcmp(&e.info.ProviderId, providerId, 16) != 0 : e.info.dwCatalogEntryId != catalogId)
      continue;
    if (static_cast<int>(e.path.size()) >= pathChars) return 0;
    std::memcpy(protocolInfo, &e.info, sizeof e.info);
    std::wmemcpy(path, e.path.c_str(), e.path.size() + 1);
    return 1;
  }
  return 0;
}

WSAPROTOCOL_INFOW TcpInfo(DWORD id, const GUID& provider, std::vector<DWORD> chain) {
  WSAPROTOCOL_INFOW info{};
  info.dwCatalogEntryId = id;
  info.ProviderId = provider;
  info.iAddressFamily = AF_INET;
  info.iSocketType = SOCK_STREAM;
  info.iProtocol = IPPROTO_TCP;
  info.iVersion = 2;
  info.iMaxSockAddr = info.iMinSockAddr = sizeof(sockaddr_in);
  info.ProtocolChain.ChainLen = static_cast<int>(chain.size());
  for (std::size_t i = 0; i < chain.size(); ++i) info.ProtocolChain.ChainEntries[i] = chain[i];
  return info;
}

bool OwnAddress(in_addr& out) {
  ULONG length = 16384;
  std::vector<unsigned char> buffer(length);
  auto* list = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
  if (GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER, nullptr,
                           list, &length) != NO_ERROR)
    return false;
  for (auto* a = list; a; a = a->Next)
    for (auto* u = a->FirstUnicastAddress; u; u = u->Next) {
      const in_addr address = reinterpret_cast<const sockaddr_in*>(u->Address.lpSockaddr)->sin_addr;
      const unsigned char first = address.S_un.S_un_b.s_b1;
      if (first == 127 || (first == 169 && address.S_un.S_un_b.s_b2 == 254)) continue;
      out = address;
      return true;
    }
  return false;
}

std::wstring ProgramPath() {
  wchar_t buffer[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return std::wstring(buffer, n);
}

void WriteList(const std::wstring& path, bool active) {
  const std::wstring text = L"[C:\\Programs\\bench.lnk]\r\nAppFullname=" + ProgramPath() + L"\r\nUseAsyncMode=0\r\n" +
                            L"ForceWSPBind=0\r\nActive=" + (active ? L"1" : L"0") + L"\r\n";
  FILE* f = _wfopen(path.c_str(), L"wb");
  if (!f) return;
  const std::string narrow(text.begin(), text.end());  // the path is ASCII under the bench's folder
  std::fwrite(narrow.data(), 1, narrow.size(), f);
  std::fclose(f);
}

// One way into the sockets: the base provider's table, or a chain started
// through a copy of the module.
struct Case {
  explicit Case(const char* n) : name(n) {}
  const char* name;
  WSPPROC_TABLE table{};
  WSAPROTOCOL_INFOW info{};
  std::vector<double> micros;
};

bool StartBase(Case& c, const std::wstring& basePath) {
  HMODULE base = LoadLibraryW(basePath.c_str());
  auto startup = base ? reinterpret_cast<LPWSPSTARTUP>(reinterpret_cast<void*>(GetProcAddress(base, "WSPStartup")))
                      : nullptr;
  c.info = TcpInfo(kTcp4, kBaseGuid, {});
  c.info.ProtocolChain.ChainLen = BASE_PROTOCOL;
  WSPDATA data{};
  return startup && startup(MAKEWORD(2, 2), &data, &c.info, WSPUPCALLTABLE{}, &c.table) == 0;
}

// A fresh copy of the module, as loaded into another program, reading its
// list from `listPath`.
bool StartModuleCopy(Case& c, const std::wstring& copyPath, const std::wstring& listPath,
                     const std::wstring& pipeName) {
  HMODULE module = LoadLibraryW(copyPath.c_str());
  if (!module) return false;
  auto use = reinterpret_cast<BindUseCatalogFunction>(
      reinterpret_cast<void*>(GetProcAddress(module, kBindUseCatalogExport)));
  auto places = reinterpret_cast<BindUsePlacesFunction>(
      reinterpret_cast<void*>(GetProcAddress(module, kBindUsePlacesExport)));
  auto startup = reinterpret_cast<LPWSPSTARTUP>(reinterpret_cast<void*>(GetProcAddress(module, "WSPStartup")));
  if (!use || !places || !startup) return false;
  use(&LookUpCatalog);
  places(pipeName.c_str(), listPath.c_str());
  c.info = TcpInfo(kChainTcp4, kBaseGuid, {kOurLayer, kTcp4});
  WSPDATA data{};
  return startup(MAKEWORD(2, 2), &data, &c.info, WSPUPCALLTABLE{}, &c.table) == 0;
}

// One connect through the case's table, timed from the call to its return;
// the socket's creation and the accept are outside the time.
bool TimedConnect(Case& c, SOCKET listener, const sockaddr_in& to, bool keep) {
  int error = 0;
  SOCKET s = c.table.lpWSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, &c.info, 0, WSA_FLAG_OVERLAPPED, &error);
  if (s == INVALID_SOCKET) return false;
  const double t0 = Now();
  const int r = c.table.lpWSPConnect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to, nullptr, nullptr, nullptr,
                                     nullptr, &error);
  const double t1 = Now();
  SOCKET accepted = r == 0 ? accept(listener, nullptr, nullptr) : INVALID_SOCKET;
  if (accepted != INVALID_SOCKET) closesocket(accepted);
  c.table.lpWSPCloseSocket(s, &error);
  if (r != 0 || accepted == INVALID_SOCKET) return false;
  if (keep) c.micros.push_back((t1 - t0) * 1e6);
  return true;
}

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

// Every case of a phase in turn, `connects` times after a warm-up.
bool RunPhase(std::vector<Case*> cases, SOCKET listener, const sockaddr_in& to, int connects) {
  constexpr int kWarmUp = 50;
  for (int i = 0; i < kWarmUp + connects; ++i)
    for (std::size_t k = 0; k < cases.size(); ++k) {
      // A different case goes first each round.
      Case& c = *cases[(k + static_cast<std::size_t>(i)) % cases.size()];
      if (!TimedConnect(c, listener, to, i >= kWarmUp)) {
        std::fprintf(stderr, "connect failed in case '%s'\n", c.name);
        return false;
      }
    }
  return true;
}

void Report(const Case& c, const Case& base) {
  const double median = Median(c.micros), p90 = Percentile(c.micros, 0.9);
  const double baseMedian = Median(base.micros), baseP90 = Percentile(base.micros, 0.9);
  std::printf("%s: median %.1f us (%.2fx), p90 %.1f us (%.2fx)\n", c.name, median, median / baseMedian, p90,
              p90 / baseP90);
}

}  // namespace

int main(int argc, char** argv) {
  const int connects = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;
  WSADATA w;
  if (WSAStartup(MAKEWORD(2, 2), &w) != 0) return 1;
  in_addr own{};
  if (!OwnAddress(own)) {
    std::fprintf(stderr, "this machine has no address but loopback\n");
    return 1;
  }
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr = own;
  int length = sizeof to;
  if (bind(listener, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 || listen(listener, SOMAXCONN) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&to), &length) != 0) {
    std::fprintf(stderr, "no listener: %d\n", WSAGetLastError());
    return 1;
  }

  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::filesystem::path dir =
      std::filesystem::path(temp) / (L"quillnet_bind_bench_" + std::to_wstring(GetCurrentProcessId()));
  std::error_code ignored;
  std::filesystem::create_directories(dir, ignored);
  const std::wstring basePath = ModuleFolder() + L"test_base_provider.dll";
  const std::wstring clientModule = ModuleFolder() + kBindModuleName;
  std::vector<std::wstring> copies;
  for (const wchar_t* name : {L"no_client.dll", L"activated.dll", L"not_activated.dll"}) {
    copies.push_back((dir / name).wstring());
    if (!std::filesystem::copy_file(clientModule, copies.back(), std::filesystem::copy_options::overwrite_existing,
                                    ignored)) {
      std::fprintf(stderr, "cannot copy %ls\n", clientModule.c_str());
      return 1;
    }
  }
  const std::wstring activeList = (dir / L"active.ini").wstring(), inactiveList = (dir / L"inactive.ini").wstring();
  WriteList(activeList, true);
  WriteList(inactiveList, false);

  gCatalog.push_back({TcpInfo(kTcp4, kBaseGuid, {}), basePath});
  gCatalog.back().info.ProtocolChain.ChainLen = BASE_PROTOCOL;
  GUID layer;
  std::memcpy(&layer, kBindLayeredGuid.data(), 16);
  gCatalog.push_back({TcpInfo(kOurLayer, layer, {}), clientModule});
  gCatalog.back().info.ProtocolChain.ChainLen = LAYERED_PROTOCOL;

  CFakeForwardTable table;
  SetUpHomeNetwork(table);
  const std::wstring pipeName = L"\\\\.\\pipe\\QuillnetBindBench_" + std::to_wstring(GetCurrentProcessId());
  CVpnRouteRequestPipeServer server(table, pipeName);

  // Phase 1: nothing published, no server.
  Case base1("base provider alone"), noClient("no client");
  if (!StartBase(base1, basePath) || !StartModuleCopy(noClient, copies[0], activeList, pipeName) ||
      !TimedConnect(noClient, listener, to, false)) {
    std::fprintf(stderr, "cannot start the providers\n");
    return 1;
  }
  if (!RunPhase({&base1, &noClient}, listener, to, connects)) return 1;

  // Phase 2: the client's copy publishes the tunnel and its server answers.
  const std::size_t rowsBefore = table.CountRows();
  if (!server.Start(MakeRow(L"0.0.0.0", L"0.0.0.0", L"10.8.0.6", 7, 6))) return 1;
  for (const DWORD start = GetTickCount(); !WaitNamedPipeW(pipeName.c_str(), 100); Sleep(10))
    if (GetTickCount() - start > 10000) return 1;
  HMODULE client = LoadLibraryW(clientModule.c_str());
  auto publish = client ? reinterpret_cast<BindStartFunction>(
                              reinterpret_cast<void*>(GetProcAddress(client, kBindStartExport)))
                        : nullptr;
  if (!publish || publish(kBindInterfaceVersion, 0x0600080Au) != 0) {
    std::fprintf(stderr, "the tunnel was not published\n");
    return 1;
  }
  Case base2("base provider alone"), activated("activated, route exists"), inactive("not activated");
  // A copy's first connect makes it read where it asks and what it reads.
  if (!StartBase(base2, basePath) || !StartModuleCopy(activated, copies[1], activeList, pipeName) ||
      !TimedConnect(activated, listener, to, false) ||
      !StartModuleCopy(inactive, copies[2], inactiveList, pipeName) || !TimedConnect(inactive, listener, to, false)) {
    std::fprintf(stderr, "cannot start the providers\n");
    return 1;
  }
  if (!RunPhase({&base2, &activated, &inactive}, listener, to, connects)) return 1;
  // Without a granted route the activated case timed something else.
  const bool granted = table.CountRows() > rowsBefore;
  server.Stop();
  if (auto stop = reinterpret_cast<BindStopFunction>(reinterpret_cast<void*>(GetProcAddress(client, kBindStopExport))))
    stop();

  if (!granted) {
    std::fprintf(stderr, "the activated copy never got its route\n");
    return 1;
  }
  std::printf("bind module connect under Wine, %d connects per case, median and p90 against the base provider alone\n",
              connects);
  Report(activated, base2);
  Report(inactive, base2);
  Report(noClient, base1);
  std::printf("baselines: %.1f us (with a tunnel), %.1f us (without)\n", Median(base2.micros), Median(base1.micros));
  closesocket(listener);
  WSACleanup();
  return 0;
}
