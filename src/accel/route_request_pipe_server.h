// The route request server over an overlapped named pipe: one thread, one
// wait over the stop event and up to 62 pipe instances, each instance a
// small state machine (connecting, reading, writing). Windows only.
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

  std::wstring pipeName_;
  std::map<void*, std::unique_ptr<PipeInstance>> instances_;  // by event handle
  std::vector<void*> handles_;  // the stop event first, then one event per instance
  std::size_t inUse_ = 1;       // handles in use, the stop event included
  void* stopEvent_ = nullptr;
};
