// QuillnetBind.dll: a layered socket provider. Its chains put it above the
// system's TCP/IPv4 and UDP/IPv4 providers; it passes the lower provider's
// socket handles straight through and looks only at connects and datagrams
// with an address, asking the client for a host route first when this
// program is activated and a tunnel is up. Anything failing in here leaves
// the program's call to the lower provider as it was.
#include <cstring>
#include <memory>
#include <mutex>

#include "accel/bind_exports.h"
#include "accel/bind_agent.h"
#include "bind/bind_win.h"
#include "platform/strings.h"

namespace {

WSPPROC_TABLE gNext{};  // the lower provider's table, whose calls we wrap
bool gHaveNext = false;
std::mutex gStartupLock;

std::wstring Environment(const wchar_t* name) {
  wchar_t buffer[512];
  const DWORD n = GetEnvironmentVariableW(name, buffer, 512);
  return n && n < 512 ? std::wstring(buffer, n) : std::wstring();
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

void BeforeSend(SOCKET s, const sockaddr* address, int length) {
  // Never freed: programs send from their exit paths too.
  static CBindAgent* agent = new CBindAgent(
      CreateRouteRequestChannel(WideToNarrow(Environment(L"QUILLNET_BIND_PIPE"))), ProgramImagePath(),
      [path = AppListFilePath()](const FileIdentity* known, FileIdentity& identity, std::string& bytes) {
        return ReadBoundedFile(path, known, identity, bytes, kMaxAppListBytes);
      },
      [] { return ReadTunnel(); });
  const DWORD savedError = GetLastError();
  try {
    if (address && length > 0) {
      CSocket socket(s);
      agent->BeforeSend(address, static_cast<std::size_t>(length), socket);
    }
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

// The entry below ours in the chain, and the lower provider's module.
int StartLower(WORD version, LPWSPDATA data, LPWSAPROTOCOL_INFOW info, WSPUPCALLTABLE upcalls,
               LPWSPPROC_TABLE table) {
  WSAPROTOCOL_INFOW layer{};
  if (!info || info->ProtocolChain.ChainLen < 2 || !FindInNativeCatalog(0, &kBindLayeredGuid, layer))
    return WSAEPROVIDERFAILEDINIT;
  int position = -1;
  for (int i = 0; i + 1 < info->ProtocolChain.ChainLen && i + 1 < MAX_PROTOCOL_CHAIN; ++i)
    if (info->ProtocolChain.ChainEntries[i] == layer.dwCatalogEntryId) position = i;
  if (position < 0) return WSAEPROVIDERFAILEDINIT;
  WSAPROTOCOL_INFOW next{};
  if (!FindInNativeCatalog(info->ProtocolChain.ChainEntries[position + 1], nullptr, next))
    return WSAEPROVIDERFAILEDINIT;
  wchar_t stored[MAX_PATH];
  int storedLength = MAX_PATH;
  int error = 0;
  if (WSCGetProviderPath(&next.ProviderId, stored, &storedLength, &error) != 0) return WSAEPROVIDERFAILEDINIT;
  wchar_t path[MAX_PATH];
  if (!ExpandEnvironmentStringsW(stored, path, MAX_PATH)) return WSAEPROVIDERFAILEDINIT;
  HMODULE lower = LoadLibraryW(path);  // kept: the lower provider lives as long as we do
  if (!lower) return WSAEPROVIDERFAILEDINIT;
  auto startup = reinterpret_cast<LPWSPSTARTUP>(reinterpret_cast<void*>(GetProcAddress(lower, "WSPStartup")));
  if (!startup) return WSAEPROVIDERFAILEDINIT;
  // A base provider gets its own record; a further layer the chain.
  return startup(version, data, next.ProtocolChain.ChainLen == BASE_PROTOCOL ? &next : info, upcalls, table);
}

}  // namespace

extern "C" {

int WSPAPI WSPStartup(WORD version, LPWSPDATA data, LPWSAPROTOCOL_INFOW info, WSPUPCALLTABLE upcalls,
                      LPWSPPROC_TABLE table) {
  if (!table) return WSAEINVAL;
  const int result = StartLower(version, data, info, upcalls, table);
  if (result != 0) return result;
  std::lock_guard<std::mutex> hold(gStartupLock);
  if (!gHaveNext) {
    gNext = *table;
    gHaveNext = true;
  }
  // One wrapped table: a lower provider with other functions than the first
  // is passed through untouched rather than wrapped with the wrong ones.
  if (table->lpWSPConnect == gNext.lpWSPConnect && table->lpWSPSendTo == gNext.lpWSPSendTo &&
      table->lpWSPGetSockName == gNext.lpWSPGetSockName && table->lpWSPBind == gNext.lpWSPBind) {
    table->lpWSPConnect = &HookConnect;
    table->lpWSPSendTo = &HookSendTo;
  }
  return 0;
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
