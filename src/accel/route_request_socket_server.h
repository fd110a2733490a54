// The route request server over a Unix socket of sequenced packets: the same
// request and reply bytes as the Windows pipe, one message per request, at a
// fixed path that every process on the machine may connect to.
#pragma once
#include <string>

#include "accel/route_request_server.h"

inline constexpr char kRouteRequestSocketPath[] =
    "/run/VpnBindRouteRequest_{05F607A4-6E2F-42e8-AFE0-7F56211E6B88}";

class CVpnRouteRequestSocketServer : public CVpnRouteRequestBaseServer {
 public:
  CVpnRouteRequestSocketServer(IForwardTable& table, std::string path, Clock clock = GetTickMs);
  ~CVpnRouteRequestSocketServer() override;
  const std::string& Path() const { return path_; }

 protected:
  void Run() override;
  bool PrepareStart() override;
  void SignalStop() override;

 private:
  std::string path_;
  int stopEvent_ = -1;  // eventfd; lives as long as the server object
  int listener_ = -1;
};
