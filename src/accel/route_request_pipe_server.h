// The route request server over an overlapped named pipe: one thread, one
// wait over the stop event and up to 62 pipe instances, each instance a
// small state machine (connecting, reading, writing). Windows only.
//
// The pipe lets in SYSTEM and the client's logon session (at any integrity,
// so sandboxed programs of that session reach it), no one from another machine,
// and never another server first: the first instance is created as the
// first, so a name someone else holds fails the start.
#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "accel/route_request_server.h"

inline constexpr wchar_t kRouteRequestPipeName[] =
    L"\\\\.\\pipe\\VpnBindRouteRequest_{05F607A4-6E2F-42e8-AFE0-7F56211E6B88}";

class CVpnRouteRequestPipeServer : public CVpnRouteRequestBaseServer {
 public:
  CVpnRouteRequestPipeServer(IForwardTable& table, std::wstring pipeName = kRouteRequestPipeName,
                             Clock clock = GetTickMs);
  ~CVpnRouteRequestPipeServer() override;
  // The system's error of the last failed Start, 0 after a good one. A name
  // someone holds gives ERROR_ALREADY_EXISTS when their pipe is seen, or
  // the system's ERROR_ACCESS_DENIED for the first instance.
  unsigned long LastStartError() const { return lastStartError_; }

 protected:
  void Run() override;
  bool PrepareStart() override;
  void SignalStop() override;

 private:
  struct PipeInstance;
  enum CreateResult { kCreateFailed = 0, kCreateConnected = 1, kCreateWaiting = 2 };
  int CreateListeningInstance();
  void CloseInstance(std::size_t position);
  void FreeInstance(void* event);
  void CloseAll();
  void* CreatePipeInstance(bool first);

  std::wstring pipeName_;
  std::map<void*, std::unique_ptr<PipeInstance>> instances_;  // by event handle
  std::vector<void*> handles_;  // the stop event first, then one event per instance
  std::size_t inUse_ = 1;       // handles in use, the stop event included
  void* stopEvent_ = nullptr;
  void* firstPipe_ = nullptr;  // made by Start, taken by the thread's first instance
  unsigned long lastStartError_ = 0;
};

// The pipe's descriptor as text: SYSTEM and Administrators full control,
// the client's logon session (its user when the token names none) read and
// write without the right to add instances, a low mandatory label with
// no-write-up. Empty when the token cannot be read.
std::wstring RouteRequestPipeSecurity();
