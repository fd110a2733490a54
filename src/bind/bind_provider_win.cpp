// QuillnetBind.dll: a layered socket provider. Its chains put it above the
// system's TCP and UDP providers of IPv4 and IPv6; it passes the lower provider's
// socket handles straight through and looks only at connects and datagrams
// with an address, asking the client for a host route first when this
// program is activated and a tunnel is up. Anything failing in here leaves
// the program's call to the lower provider as it was.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

#include "accel/bind_exports.h"
#include "accel/bind_agent.h"
#include "bind/bind_win.h"
#include "platform/strings.h"
// After <winsock2.h>.
#include <mswsock.h>

namespace {

WSPPROC_TABLE gNext{};  // the lower provider's table, whose calls we wrap
bool gHaveNext = false;
std::mutex gStartupLock;

// The tests' pipe and list, set through QuillnetBindUsePlaces.
std::mutex gPlacesLock;
std::wstring gTestPipe;
std::wstring gTestList;

// A probe, not ReadProcessMemory: that is a trip to the kernel (under Wine to
// its server) on every connect of an activated program, 1.6x the connect.
// The probe's known flaw, eating a stack guard page, needs a pointer into
// another thread's stack edge, which no program hands to connect.
bool SafeCopyIn(const void* from, std::size_t length, void* to) {
  if (IsBadReadPtr(from, length)) return false;
  std::memcpy(to, from, length);
  return true;
}

class CSocket : public IBindSocket {
 public:
  explicit CSocket(SOCKET s) : s_(s) {}
  bool IsBound() override {
    sockaddr_storage local{};
    int length = sizeof local;
    int error = 0;
    if (!gNext.lpWSPGetSockName || gNext.lpWSPGetSockName(s_, reinterpret_cast<sockaddr*>(&local), &length, &error) != 0)
      return error != WSAEINVAL;  // WSAEINVAL: not bound yet
    if (local.ss_family == AF_INET) return reinterpret_cast<sockaddr_in&>(local).sin_port != 0;
    if (local.ss_family == AF_INET6) return reinterpret_cast<sockaddr_in6&>(local).sin6_port != 0;
    return true;
  }
  void Bind(const void* address, std::size_t length) override {
    int error = 0;
    if (gNext.lpWSPBind) gNext.lpWSPBind(s_, static_cast<const sockaddr*>(address), static_cast<int>(length), &error);
  }

 private:
  SOCKET s_;
};

CBindAgent* NewAgent() {
  std::wstring pipe, list;
  {
    std::lock_guard<std::mutex> hold(gPlacesLock);
    pipe = gTestPipe;
    list = gTestList.empty() ? AppListFilePath() : gTestList;
  }
  return new CBindAgent(
      CreateRouteRequestChannel(WideToNarrow(pipe)), ProgramImagePath(),
      [path = std::move(list)](const FileIdentity* known, FileIdentity& identity, std::string& bytes) {
        return ReadBoundedFile(path, known, identity, bytes, kMaxAppListBytes);
      },
      [] { return ReadTunnel(); }, &SafeCopyIn);
}

CBindAgent& Agent() {
  // Never freed: programs send from their exit paths too.
  static CBindAgent* agent = NewAgent();
  return *agent;
}

void BeforeSend(SOCKET s, const sockaddr* address, int length) {
  const DWORD savedError = GetLastError();
  try {
    if (address && length > 0) {
      CSocket socket(s);
      Agent().BeforeSend(address, static_cast<std::size_t>(length), socket);
    }
  } catch (...) {
  }
  SetLastError(savedError);
}

// A message's address lies behind the program's own pointers: each is read
// through the agent's copier, and only for a program that is ours.
void BeforeSendMessage(SOCKET s, const WSAMSG* message) {
  const DWORD savedError = GetLastError();
  try {
    WSAMSG copy;
    if (message && Agent().Wanted() && Agent().CopyIn(message, sizeof copy, &copy))
      BeforeSend(s, copy.name, copy.namelen);
  } catch (...) {
  }
  SetLastError(savedError);
}

void BeforeSendRequest(SOCKET s, const void* request) {
  const DWORD savedError = GetLastError();
  try {
    WSASENDMSG copy;
    if (request && Agent().Wanted() && Agent().CopyIn(request, sizeof copy, &copy)) BeforeSendMessage(s, copy.lpMsg);
  } catch (...) {
  }
  SetLastError(savedError);
}

int WSPAPI HookConnect(SOCKET s, const sockaddr* name, int namelen, LPWSABUF callerData, LPWSABUF calleeData,
                       LPQOS sqos, LPQOS gqos, LPINT error) {
  BeforeSend(s, name, namelen);
  return gNext.lpWSPConnect(s, name, namelen, callerData, calleeData, sqos, gqos, error);
}

int WSPAPI HookSendTo(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD sent, DWORD flags, const sockaddr* to,
                      int tolen, LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE completion,
                      LPWSATHREADID thread, LPINT error) {
  BeforeSend(s, to, tolen);
  return gNext.lpWSPSendTo(s, buffers, count, sent, flags, to, tolen, overlapped, completion, thread, error);
}

// The lower provider's extension functions, as first handed out through us.
std::atomic<LPFN_CONNECTEX> gNextConnectEx{nullptr};
std::atomic<LPFN_WSASENDMSG> gNextSendMsg{nullptr};

BOOL PASCAL HookConnectEx(SOCKET s, const sockaddr* name, int namelen, PVOID sendBuffer, DWORD sendLength,
                          LPDWORD sent, LPOVERLAPPED overlapped) {
  BeforeSend(s, name, namelen);
  return gNextConnectEx.load()(s, name, namelen, sendBuffer, sendLength, sent, overlapped);
}

INT WSAAPI HookSendMsg(SOCKET s, LPWSAMSG message, DWORD flags, LPDWORD sent, LPWSAOVERLAPPED overlapped,
                       LPWSAOVERLAPPED_COMPLETION_ROUTINE completion) {
  BeforeSendMessage(s, message);
  return gNextSendMsg.load()(s, message, flags, sent, overlapped, completion);
}

// Ours in place of the lower pointer in `out`; a lower provider that hands
// out another function than the first time is passed through untouched.
template <typename F>
void WrapExtension(std::atomic<F>& lower, F hook, void* out) {
  F given = nullptr;
  std::memcpy(&given, out, sizeof given);
  if (!given || given == hook) return;
  F expected = nullptr;
  if (lower.compare_exchange_strong(expected, given) || expected == given) std::memcpy(out, &hook, sizeof hook);
}

int WSPAPI HookIoctl(SOCKET s, DWORD code, LPVOID in, DWORD inLength, LPVOID out, DWORD outLength, LPDWORD returned,
                     LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE completion, LPWSATHREADID thread,
                     LPINT error) {
  // The system's WSASendMsg reaches a layered provider this way.
  if (code == SIO_EXT_SENDMSG && inLength >= sizeof(WSASENDMSG)) BeforeSendRequest(s, in);
  const int result =
      gNext.lpWSPIoctl(s, code, in, inLength, out, outLength, returned, overlapped, completion, thread, error);
  if (result != 0 || code != SIO_GET_EXTENSION_FUNCTION_POINTER || !in || inLength < sizeof(GUID) || !out ||
      outLength < sizeof(void*))
    return result;
  static const GUID kConnectEx = WSAID_CONNECTEX;
  static const GUID kSendMsg = WSAID_WSASENDMSG;
  GUID id;
  std::memcpy(&id, in, sizeof id);
  if (IsEqualGUID(id, kConnectEx)) WrapExtension<LPFN_CONNECTEX>(gNextConnectEx, &HookConnectEx, out);
  if (IsEqualGUID(id, kSendMsg)) WrapExtension<LPFN_WSASENDMSG>(gNextSendMsg, &HookSendMsg, out);
  return result;
}

// Where the start-up reads the catalog: the system's, or the tests'.
std::atomic<BindCatalogLookup> gTestCatalog{nullptr};

bool LookUp(std::uint32_t catalogId, const ProviderGuid* providerId, WSAPROTOCOL_INFOW& info, std::wstring* path) {
  wchar_t buffer[MAX_PATH];
  if (const BindCatalogLookup lookup = gTestCatalog.load()) {
    if (!lookup(catalogId, providerId ? providerId->data() : nullptr, &info, buffer, MAX_PATH)) return false;
    buffer[MAX_PATH - 1] = 0;
    if (path) *path = buffer;
    return true;
  }
  if (!FindInNativeCatalog(catalogId, providerId, info)) return false;
  if (!path) return true;
  wchar_t stored[MAX_PATH];
  int storedLength = MAX_PATH;
  int error = 0;
  if (WSCGetProviderPath(&info.ProviderId, stored, &storedLength, &error) != 0) return false;
  const DWORD n = ExpandEnvironmentStringsW(stored, buffer, MAX_PATH);
  if (!n || n > MAX_PATH) return false;
  *path = buffer;
  return true;
}

// Loads the provider of one catalog entry and starts it for the chain.
int StartEntry(std::uint32_t catalogId, WORD version, LPWSPDATA data, LPWSAPROTOCOL_INFOW info,
               WSPUPCALLTABLE upcalls, LPWSPPROC_TABLE table) {
  WSAPROTOCOL_INFOW entry{};
  std::wstring path;
  if (!LookUp(catalogId, nullptr, entry, &path) || path.empty()) return WSAEPROVIDERFAILEDINIT;
  HMODULE lower = LoadLibraryW(path.c_str());  // kept: the lower provider lives as long as we do
  if (!lower) return WSAEPROVIDERFAILEDINIT;
  auto startup = reinterpret_cast<LPWSPSTARTUP>(reinterpret_cast<void*>(GetProcAddress(lower, "WSPStartup")));
  if (!startup) return WSAEPROVIDERFAILEDINIT;
  *table = WSPPROC_TABLE{};
  // A base provider gets its own record; a further layer the chain.
  return startup(version, data, entry.ProtocolChain.ChainLen == BASE_PROTOCOL ? &entry : info, upcalls, table);
}

// The entry below ours in the chain. When that cannot be found or started,
// the base provider at the chain's end: the program's sockets then work as
// if the layers between were not installed, which is better than not at all.
int StartLower(WORD version, LPWSPDATA data, LPWSAPROTOCOL_INFOW info, WSPUPCALLTABLE upcalls,
               LPWSPPROC_TABLE table) {
  if (!info || info->ProtocolChain.ChainLen < 2) return WSAEPROVIDERFAILEDINIT;
  const int last = std::min<int>(info->ProtocolChain.ChainLen, MAX_PROTOCOL_CHAIN) - 1;
  int position = -1;
  WSAPROTOCOL_INFOW layer{};
  if (LookUp(0, &kBindLayeredGuid, layer, nullptr))
    for (int i = 0; i < last; ++i)
      if (info->ProtocolChain.ChainEntries[i] == layer.dwCatalogEntryId) position = i;
  if (position >= 0 && position + 1 < last &&
      StartEntry(info->ProtocolChain.ChainEntries[position + 1], version, data, info, upcalls, table) == 0)
    return 0;
  return StartEntry(info->ProtocolChain.ChainEntries[last], version, data, info, upcalls, table);
}

int Startup(WORD version, LPWSPDATA data, LPWSAPROTOCOL_INFOW info, WSPUPCALLTABLE upcalls, LPWSPPROC_TABLE table) {
  const int result = StartLower(version, data, info, upcalls, table);
  if (result != 0) return result;
  std::lock_guard<std::mutex> hold(gStartupLock);
  if (!gHaveNext) {
    gNext = *table;
    gHaveNext = true;
  }
  // One wrapped table: a lower provider with other functions than the first
  // is passed through untouched rather than wrapped with the wrong ones.
  if (table->lpWSPConnect && table->lpWSPConnect == gNext.lpWSPConnect && table->lpWSPSendTo == gNext.lpWSPSendTo &&
      table->lpWSPIoctl == gNext.lpWSPIoctl && table->lpWSPGetSockName == gNext.lpWSPGetSockName &&
      table->lpWSPBind == gNext.lpWSPBind) {
    table->lpWSPConnect = &HookConnect;
    if (table->lpWSPSendTo) table->lpWSPSendTo = &HookSendTo;
    if (table->lpWSPIoctl) table->lpWSPIoctl = &HookIoctl;
  }
  return 0;
}

}  // namespace

extern "C" {

int WSPAPI WSPStartup(WORD version, LPWSPDATA data, LPWSAPROTOCOL_INFOW info, WSPUPCALLTABLE upcalls,
                      LPWSPPROC_TABLE table) {
  if (!table) return WSAEINVAL;
  // Nothing may leave a provider's entry as an exception: the program
  // would end inside the system's socket call.
  try {
    return Startup(version, data, info, upcalls, table);
  } catch (...) {
    return WSAEPROVIDERFAILEDINIT;
  }
}

void QUILLNET_BIND_CALL QuillnetBindUseCatalog(BindCatalogLookup lookup) { gTestCatalog = lookup; }

void QUILLNET_BIND_CALL QuillnetBindUsePlaces(const wchar_t* pipeName, const wchar_t* listPath) {
  std::lock_guard<std::mutex> hold(gPlacesLock);
  gTestPipe = pipeName ? pipeName : L"";
  gTestList = listPath ? listPath : L"";
}

HRESULT STDAPICALLTYPE DllRegisterServer() {
  WSADATA w;
  if (WSAStartup(MAKEWORD(2, 2), &w) != 0) return 1;
  const std::int32_t result = RegisterInSystemCatalogs(ThisModulePath());
  WSACleanup();
  return result;
}

HRESULT STDAPICALLTYPE DllUnregisterServer() {
  WSADATA w;
  if (WSAStartup(MAKEWORD(2, 2), &w) != 0) return 1;
  const std::int32_t result = UnregisterFromSystemCatalogs();
  WSACleanup();
  return result;
}

std::int32_t QUILLNET_BIND_CALL VpnBindStart(std::int32_t version, std::uint32_t localIp) {
  return PublishTunnel(true, version, localIp) ? 0 : 1;
}

std::int32_t QUILLNET_BIND_CALL VpnBindStop() { return PublishTunnel(false, 0, 0) ? 0 : 1; }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

}  // extern "C"
