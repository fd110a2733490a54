#include "accel/route_request_pipe_server.h"

#include "accel/route_request_pipe_security.h"

#include "platform/win32.h"
// After <windows.h>.
#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

enum InstanceState { kConnecting = 0, kReading = 1, kWriting = 2 };

constexpr DWORD kRelistenMs = 50;

// Read, write data and set the message read mode; not FILE_APPEND_DATA,
// which on a pipe is the right to create an instance of it (and so to
// answer some of our clients in our place).
constexpr DWORD kClientAccess = FILE_GENERIC_READ | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES;
static_assert((kClientAccess & FILE_CREATE_PIPE_INSTANCE) == 0);

std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!sid || !ConvertSidToStringSidW(sid, &text)) return {};
  std::wstring out = text;
  LocalFree(text);
  return out;
}

std::vector<unsigned char> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
  DWORD size = 0;
  GetTokenInformation(token, kind, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  if (!size || !GetTokenInformation(token, kind, buffer.data(), size, &size)) buffer.clear();
  return buffer;
}

}  // namespace

std::wstring RouteRequestPipeSecurity() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  std::wstring user;
  std::vector<TokenGroupEntry> groups;
  const std::vector<unsigned char> userInfo = TokenInformation(token, TokenUser);
  if (!userInfo.empty()) user = SidText(reinterpret_cast<const TOKEN_USER*>(userInfo.data())->User.Sid);
  const std::vector<unsigned char> groupInfo = TokenInformation(token, TokenGroups);
  if (!groupInfo.empty()) {
    const auto* list = reinterpret_cast<const TOKEN_GROUPS*>(groupInfo.data());
    for (DWORD i = 0; i < list->GroupCount; ++i)
      groups.push_back({SidText(list->Groups[i].Sid), static_cast<std::uint32_t>(list->Groups[i].Attributes)});
  }
  CloseHandle(token);
  static_assert(kTokenGroupLogonId == SE_GROUP_LOGON_ID);
  return RouteRequestPipeSecurityFor(ChooseRouteRequestClientSid(user, groups), kClientAccess);
}

struct CVpnRouteRequestPipeServer::PipeInstance {
  OVERLAPPED overlap;
  HANDLE pipe;
  unsigned char request[kRouteRequestBufferSize];
  DWORD requestBytes;
  unsigned char reply[kRouteRequestBufferSize];
  DWORD replyBytes;
  int state;
  bool pending;
  Tick started;
};

CVpnRouteRequestPipeServer::CVpnRouteRequestPipeServer(IForwardTable& table, std::wstring pipeName, Clock clock)
    : CVpnRouteRequestBaseServer(table, std::move(clock)), pipeName_(std::move(pipeName)) {
  stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  handles_.push_back(stopEvent_);
}

CVpnRouteRequestPipeServer::~CVpnRouteRequestPipeServer() {
  Stop();
  CloseAll();
  if (firstPipe_) CloseHandle(firstPipe_);
  if (stopEvent_) CloseHandle(stopEvent_);
}

void* CVpnRouteRequestPipeServer::CreatePipeInstance(bool first) {
  const std::wstring text = RouteRequestPipeSecurity();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  // Without its descriptor the pipe would get the default one: no pipe.
  if (text.empty() ||
      !ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    return INVALID_HANDLE_VALUE;
  }
  // Not inheritable: a child of ours has no business with it.
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  HANDLE pipe = CreateNamedPipeW(pipeName_.c_str(), openMode,
                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                 kRouteRequestMaxInstances, kRouteRequestBufferSize, kRouteRequestBufferSize, 5000,
                                 &attributes);
  const DWORD error = GetLastError();
  LocalFree(descriptor);
  SetLastError(error);
  return pipe;
}

bool CVpnRouteRequestPipeServer::PrepareStart() {
  if (!stopEvent_) return false;
  // The first instance is made here, as the first of its name: when
  // another program holds the name (another server, or one waiting for our
  // clients) the start fails instead of serving beside it.
  if (firstPipe_) CloseHandle(firstPipe_);
  firstPipe_ = nullptr;
  // A pipe of the name that answers, or is busy, is someone else's. The
  // flag below closes the race after this look; the look is what systems
  // that ignore the flag (Wine) still have.
  HANDLE other = CreateFileW(pipeName_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (other != INVALID_HANDLE_VALUE || GetLastError() == ERROR_PIPE_BUSY || GetLastError() == ERROR_ACCESS_DENIED) {
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    lastStartError_ = ERROR_ALREADY_EXISTS;
    return false;
  }
  HANDLE pipe = CreatePipeInstance(true);
  if (pipe == INVALID_HANDLE_VALUE) {
    lastStartError_ = GetLastError();
    if (lastStartError_ == 0) lastStartError_ = ERROR_ACCESS_DENIED;
    return false;
  }
  lastStartError_ = 0;
  firstPipe_ = pipe;
  ResetEvent(stopEvent_);
  inUse_ = 1;
  return true;
}

void CVpnRouteRequestPipeServer::SignalStop() { SetEvent(stopEvent_); }

void CVpnRouteRequestPipeServer::FreeInstance(void* event) {
  auto it = instances_.find(event);
  if (it != instances_.end()) {
    PipeInstance& instance = *it->second;
    if (instance.pipe && instance.pipe != INVALID_HANDLE_VALUE) {
      DisconnectNamedPipe(instance.pipe);
      CloseHandle(instance.pipe);
    }
    instances_.erase(it);
  }
  CloseHandle(static_cast<HANDLE>(event));
}

void CVpnRouteRequestPipeServer::CloseAll() {
  for (std::size_t i = 1; i < handles_.size(); ++i) FreeInstance(handles_[i]);
  instances_.clear();
  handles_.resize(1);
  inUse_ = 1;
}

int CVpnRouteRequestPipeServer::CreateListeningInstance() {
  if (inUse_ >= static_cast<std::size_t>(kRouteRequestMaxInstances) + 1) return kCreateFailed;
  HANDLE event = nullptr;
  PipeInstance* instance = nullptr;
  if (inUse_ == handles_.size()) {
    event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!event) return kCreateFailed;
    auto fresh = std::make_unique<PipeInstance>();
    std::memset(fresh.get(), 0, sizeof(PipeInstance));
    instance = fresh.get();
    handles_.push_back(event);
    instances_[event] = std::move(fresh);
  } else {
    event = handles_[inUse_];
    instance = instances_[event].get();
    std::memset(instance, 0, sizeof(PipeInstance));
  }
  ++inUse_;
  instance->started = GetTickMs();
  instance->overlap.hEvent = event;

  if (firstPipe_) {
    instance->pipe = firstPipe_;
    firstPipe_ = nullptr;
  } else {
    // With none of our instances open the name is free again: take it as
    // the first once more rather than join whoever took it meanwhile.
    instance->pipe = CreatePipeInstance(inUse_ == 2);
  }
  if (instance->pipe != INVALID_HANDLE_VALUE) {
    BOOL connected = ConnectNamedPipe(instance->pipe, &instance->overlap);
    DWORD status = connected ? ERROR_PIPE_CONNECTED : GetLastError();
    // A client that came and went before we listened leaves the instance
    // closing: free it and listen again. Giving it up instead left the
    // server without any listening instance, deaf to every later client.
    for (int tries = 0; status == ERROR_NO_DATA && tries < kRouteRequestMaxInstances; ++tries) {
      DisconnectNamedPipe(instance->pipe);
      connected = ConnectNamedPipe(instance->pipe, &instance->overlap);
      status = connected ? ERROR_PIPE_CONNECTED : GetLastError();
    }
    if (status == ERROR_PIPE_CONNECTED) {
      SetEvent(event);
      instance->state = kReading;
      return kCreateConnected;
    }
    if (status == ERROR_IO_PENDING) {
      instance->pending = true;
      instance->state = kConnecting;
      return kCreateWaiting;
    }
  }
  // Give everything back; the instance sat at the last position in use.
  --inUse_;
  handles_.erase(handles_.begin() + static_cast<std::ptrdiff_t>(inUse_));
  FreeInstance(event);
  return kCreateFailed;
}

void CVpnRouteRequestPipeServer::CloseInstance(std::size_t position) {
  PipeInstance& instance = *instances_[handles_[position]];
  DisconnectNamedPipe(instance.pipe);
  CloseHandle(instance.pipe);
  instance.pipe = INVALID_HANDLE_VALUE;
  std::swap(handles_[position], handles_[inUse_ - 1]);
  --inUse_;
  // Spares younger than a second stay for the next client; older ones go.
  const Tick now = GetTickMs();
  for (std::size_t i = handles_.size(); i-- > inUse_;) {
    if (TickElapsed(now, instances_[handles_[i]]->started) <= 1000) continue;
    void* event = handles_[i];
    handles_.erase(handles_.begin() + static_cast<std::ptrdiff_t>(i));
    FreeInstance(event);
  }
}

void CVpnRouteRequestPipeServer::Run() {
  int last = CreateListeningInstance();
  std::vector<void*> order;
  std::size_t rotation = 0;
  for (;;) {
    while (last == kCreateFailed || last == kCreateConnected) {
      last = CreateListeningInstance();
      if (last == kCreateFailed) break;
    }
    // Without a listening instance (its creation failed) clients cannot
    // reach us: try again soon instead of waiting for a connected one.
    const bool deaf = last == kCreateFailed && inUse_ < static_cast<std::size_t>(kRouteRequestMaxInstances) + 1;
    // The wait reports the first ready handle of its list, so the list
    // starts after the instance served last: with many busy clients the
    // later instances would otherwise wait for seconds.
    const std::size_t instances = inUse_ - 1;
    order.assign(1, handles_[0]);
    for (std::size_t k = 0; k < instances; ++k) order.push_back(handles_[1 + (rotation + k) % instances]);
    const DWORD waited = WaitForMultipleObjects(static_cast<DWORD>(inUse_), reinterpret_cast<HANDLE*>(order.data()),
                                                FALSE, deaf ? kRelistenMs : INFINITE);
    if (waited == WAIT_TIMEOUT) continue;
    if (waited == WAIT_FAILED || waited >= WAIT_OBJECT_0 + inUse_) {
      // Nothing more can be heard; Stop still takes the routes away.
      CloseAll();
      return;
    }
    const std::size_t listed = waited - WAIT_OBJECT_0;
    const std::size_t position = listed == 0 ? 0 : 1 + (rotation + listed - 1) % instances;
    rotation = position;  // the next wait starts with the instance after it
    if (position == 0) {
      CloseAll();
      PurgeRoutes(kPurgeAll);
      return;
    }
    PipeInstance& instance = *instances_[handles_[position]];
    bool closed = false;
    if (instance.pending) {
      DWORD bytes = 0;
      const BOOL ok = GetOverlappedResult(instance.pipe, &instance.overlap, &bytes, FALSE);
      switch (instance.state) {
        case kConnecting:
          if (!ok) {
            last = kCreateFailed;
            CloseInstance(position);
            closed = true;
          } else {
            instance.requestBytes = 0;
            last = kCreateConnected;
            instance.state = kReading;
            PurgeRoutes(kPurgeExpired);
          }
          break;
        case kReading:
          if (!ok || bytes == 0) {
            CloseInstance(position);
            closed = true;
          } else {
            instance.requestBytes = bytes;
            instance.state = kWriting;
          }
          break;
        default:
          if (!ok || bytes != instance.replyBytes) {
            CloseInstance(position);
            closed = true;
          } else {
            instance.state = kReading;
          }
          break;
      }
    }
    if (closed) continue;
    if (instance.state == kReading) {
      DWORD bytes = 0;
      const BOOL ok = ReadFile(instance.pipe, instance.request, kRouteRequestBufferSize, &bytes, &instance.overlap);
      if (ok && bytes > 0) {
        instance.pending = false;
        instance.requestBytes = bytes;
        instance.state = kWriting;
      } else if (!ok && GetLastError() == ERROR_IO_PENDING) {
        instance.pending = true;
      } else {
        CloseInstance(position);
      }
    } else if (instance.state == kWriting) {
      instance.reply[0] = Answer(instance.request, instance.requestBytes);
      instance.replyBytes = 1;
      DWORD bytes = 0;
      const BOOL ok = WriteFile(instance.pipe, instance.reply, instance.replyBytes, &bytes, &instance.overlap);
      if (ok && bytes == 1) {
        instance.pending = false;
        instance.state = kReading;
      } else if (!ok && GetLastError() == ERROR_IO_PENDING) {
        instance.pending = true;
      } else {
        CloseInstance(position);
      }
    }
  }
}

std::unique_ptr<CVpnRouteRequestBaseServer> CreateRouteRequestServer(IForwardTable& table,
                                                                     const std::wstring& endpoint,
                                                                     CVpnRouteRequestBaseServer::Clock clock) {
  return std::make_unique<CVpnRouteRequestPipeServer>(table, endpoint.empty() ? kRouteRequestPipeName : endpoint,
                                                      std::move(clock));
}
