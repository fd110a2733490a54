// A base socket provider for the bind module's tests: the provider entry
// points over the ordinary socket functions, so the module can be started
// and driven as the system would, where the system itself never loads it.
#include <cstddef>

#include "platform/win32.h"
// After <windows.h>.
#include <ws2spi.h>
// After <winsock2.h>.
#include <mswsock.h>

namespace {

int Result(int r, LPINT error) {
  if (r == SOCKET_ERROR) *error = WSAGetLastError();
  return r;
}

// The system's providers answer a pointer they cannot read with WSAEFAULT;
// Wine's socket calls would fault instead, so this one checks first.
bool Unreadable(const void* p, std::size_t length) { return p && IsBadReadPtr(p, length); }

int Fault(LPINT error) {
  *error = WSAEFAULT;
  return SOCKET_ERROR;
}

LPFN_CONNECTEX gSystemConnectEx = nullptr;
LPFN_WSASENDMSG gSystemSendMsg = nullptr;

BOOL PASCAL CheckedConnectEx(SOCKET s, const sockaddr* name, int namelen, PVOID sendBuffer, DWORD sendLength,
                             LPDWORD sent, LPOVERLAPPED overlapped) {
  if (!name || namelen <= 0 || Unreadable(name, static_cast<std::size_t>(namelen))) {
    WSASetLastError(WSAEFAULT);
    return FALSE;
  }
  return gSystemConnectEx(s, name, namelen, sendBuffer, sendLength, sent, overlapped);
}

bool UnreadableMessage(const WSAMSG* m) {
  return !m || IsBadReadPtr(m, sizeof *m) || (m->name && Unreadable(m->name, static_cast<std::size_t>(m->namelen)));
}

INT WSAAPI CheckedSendMsg(SOCKET s, LPWSAMSG message, DWORD flags, LPDWORD sent, LPWSAOVERLAPPED overlapped,
                          LPWSAOVERLAPPED_COMPLETION_ROUTINE completion) {
  if (UnreadableMessage(message)) {
    WSASetLastError(WSAEFAULT);
    return SOCKET_ERROR;
  }
  return gSystemSendMsg(s, message, flags, sent, overlapped, completion);
}

SOCKET WSPAPI Socket(int af, int type, int protocol, LPWSAPROTOCOL_INFOW, GROUP g, DWORD flags, LPINT error) {
  const SOCKET s = WSASocketW(af, type, protocol, nullptr, g, flags);
  if (s == INVALID_SOCKET) *error = WSAGetLastError();
  return s;
}

int WSPAPI CloseSocket(SOCKET s, LPINT error) { return Result(closesocket(s), error); }

int WSPAPI Connect(SOCKET s, const sockaddr* name, int namelen, LPWSABUF callerData, LPWSABUF calleeData, LPQOS sqos,
                   LPQOS gqos, LPINT error) {
  if (Unreadable(name, static_cast<std::size_t>(namelen))) return Fault(error);
  return Result(WSAConnect(s, name, namelen, callerData, calleeData, sqos, gqos), error);
}

int WSPAPI Bind(SOCKET s, const sockaddr* name, int namelen, LPINT error) {
  return Result(bind(s, name, namelen), error);
}

int WSPAPI Listen(SOCKET s, int backlog, LPINT error) { return Result(listen(s, backlog), error); }

SOCKET WSPAPI Accept(SOCKET s, sockaddr* address, LPINT length, LPCONDITIONPROC condition, DWORD_PTR data,
                     LPINT error) {
  const SOCKET a = WSAAccept(s, address, length, condition, data);
  if (a == INVALID_SOCKET) *error = WSAGetLastError();
  return a;
}

int WSPAPI GetSockName(SOCKET s, sockaddr* name, LPINT namelen, LPINT error) {
  return Result(getsockname(s, name, namelen), error);
}

int WSPAPI GetPeerName(SOCKET s, sockaddr* name, LPINT namelen, LPINT error) {
  return Result(getpeername(s, name, namelen), error);
}

int WSPAPI GetSockOpt(SOCKET s, int level, int name, char* value, LPINT length, LPINT error) {
  return Result(getsockopt(s, level, name, value, length), error);
}

int WSPAPI SetSockOpt(SOCKET s, int level, int name, const char* value, int length, LPINT error) {
  return Result(setsockopt(s, level, name, value, length), error);
}

int WSPAPI Shutdown(SOCKET s, int how, LPINT error) { return Result(shutdown(s, how), error); }

int WSPAPI Send(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD sent, DWORD flags, LPWSAOVERLAPPED overlapped,
                LPWSAOVERLAPPED_COMPLETION_ROUTINE completion, LPWSATHREADID, LPINT error) {
  return Result(WSASend(s, buffers, count, sent, flags, overlapped, completion), error);
}

int WSPAPI SendTo(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD sent, DWORD flags, const sockaddr* to, int tolen,
                  LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE completion, LPWSATHREADID,
                  LPINT error) {
  if (Unreadable(to, static_cast<std::size_t>(tolen))) return Fault(error);
  return Result(WSASendTo(s, buffers, count, sent, flags, to, tolen, overlapped, completion), error);
}

int WSPAPI Recv(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD received, LPDWORD flags, LPWSAOVERLAPPED overlapped,
                LPWSAOVERLAPPED_COMPLETION_ROUTINE completion, LPWSATHREADID, LPINT error) {
  return Result(WSARecv(s, buffers, count, received, flags, overlapped, completion), error);
}

int WSPAPI RecvFrom(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD received, LPDWORD flags, sockaddr* from,
                    LPINT fromlen, LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE completion,
                    LPWSATHREADID, LPINT error) {
  return Result(WSARecvFrom(s, buffers, count, received, flags, from, fromlen, overlapped, completion), error);
}

int WSPAPI Ioctl(SOCKET s, DWORD code, LPVOID in, DWORD inLength, LPVOID out, DWORD outLength, LPDWORD returned,
                 LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE completion, LPWSATHREADID,
                 LPINT error) {
  // What the system's WSASendMsg asks a provider, answered with the plain call.
  if (code == SIO_EXT_SENDMSG && in && inLength >= sizeof(WSASENDMSG)) {
    const auto* m = static_cast<const WSASENDMSG*>(in);
    if (IsBadReadPtr(m, sizeof *m) || UnreadableMessage(m->lpMsg)) return Fault(error);
    return Result(WSASendMsg(s, m->lpMsg, m->dwFlags, m->lpNumberOfBytesSent, m->lpOverlapped, m->lpCompletionRoutine),
                  error);
  }
  const int r = WSAIoctl(s, code, in, inLength, out, outLength, returned, overlapped, completion);
  // Our checked extensions in place of the system's.
  if (r == 0 && code == SIO_GET_EXTENSION_FUNCTION_POINTER && in && inLength >= sizeof(GUID) && out &&
      outLength >= sizeof(void*)) {
    static const GUID kConnectEx = WSAID_CONNECTEX;
    static const GUID kSendMsg = WSAID_WSASENDMSG;
    if (IsEqualGUID(*static_cast<const GUID*>(in), kConnectEx)) {
      gSystemConnectEx = *static_cast<LPFN_CONNECTEX*>(out);
      *static_cast<LPFN_CONNECTEX*>(out) = &CheckedConnectEx;
    } else if (IsEqualGUID(*static_cast<const GUID*>(in), kSendMsg)) {
      gSystemSendMsg = *static_cast<LPFN_WSASENDMSG*>(out);
      *static_cast<LPFN_WSASENDMSG*>(out) = &CheckedSendMsg;
    }
  }
  return Result(r, error);
}

BOOL WSPAPI GetOverlappedResult(SOCKET s, LPWSAOVERLAPPED overlapped, LPDWORD transferred, BOOL wait, LPDWORD flags,
                                LPINT error) {
  const BOOL ok = WSAGetOverlappedResult(s, overlapped, transferred, wait, flags);
  if (!ok) *error = WSAGetLastError();
  return ok;
}

int WSPAPI EventSelect(SOCKET s, WSAEVENT event, long events, LPINT error) {
  return Result(WSAEventSelect(s, event, events), error);
}

int WSPAPI EnumNetworkEvents(SOCKET s, WSAEVENT event, LPWSANETWORKEVENTS events, LPINT error) {
  return Result(WSAEnumNetworkEvents(s, event, events), error);
}

int WSPAPI Select(int n, fd_set* readers, fd_set* writers, fd_set* errors, timeval* timeout, LPINT error) {
  return Result(select(n, readers, writers, errors, timeout), error);
}

int WSPAPI Cleanup(LPINT) { return 0; }

}  // namespace

extern "C" __declspec(dllexport) int WSPAPI WSPStartup(WORD, LPWSPDATA data, LPWSAPROTOCOL_INFOW, WSPUPCALLTABLE,
                                                       LPWSPPROC_TABLE table) {
  WSADATA w;
  if (!table || WSAStartup(MAKEWORD(2, 2), &w) != 0) return WSAEPROVIDERFAILEDINIT;
  if (data) {
    data->wVersion = MAKEWORD(2, 2);
    data->wHighVersion = MAKEWORD(2, 2);
    lstrcpynW(data->szDescription, L"test base provider", WSADESCRIPTION_LEN + 1);
  }
  *table = WSPPROC_TABLE{};
  table->lpWSPAccept = &Accept;
  table->lpWSPBind = &Bind;
  table->lpWSPCleanup = &Cleanup;
  table->lpWSPCloseSocket = &CloseSocket;
  table->lpWSPConnect = &Connect;
  table->lpWSPEnumNetworkEvents = &EnumNetworkEvents;
  table->lpWSPEventSelect = &EventSelect;
  table->lpWSPGetOverlappedResult = &GetOverlappedResult;
  table->lpWSPGetPeerName = &GetPeerName;
  table->lpWSPGetSockName = &GetSockName;
  table->lpWSPGetSockOpt = &GetSockOpt;
  table->lpWSPIoctl = &Ioctl;
  table->lpWSPListen = &Listen;
  table->lpWSPRecv = &Recv;
  table->lpWSPRecvFrom = &RecvFrom;
  table->lpWSPSelect = &Select;
  table->lpWSPSend = &Send;
  table->lpWSPSendTo = &SendTo;
  table->lpWSPSetSockOpt = &SetSockOpt;
  table->lpWSPShutdown = &Shutdown;
  table->lpWSPSocket = &Socket;
  return 0;
}
