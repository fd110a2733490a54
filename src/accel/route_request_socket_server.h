// The route request server over a Unix socket of sequenced packets: the same
// request and reply bytes as the Windows pipe, one message per request, at a
// fixed path. Only root and the user the client acts for are answered: the
// socket belongs to that user with mode 0600, and every connection's peer
// is checked besides, since the owner can change the mode.
#pragma once
#include <sys/types.h>

#include <string>

#include "accel/route_request_server.h"

inline constexpr char kRouteRequestSocketPath[] =
    "/run/VpnBindRouteRequest_{05F607A4-6E2F-42e8-AFE0-7F56211E6B88}";

class CVpnRouteRequestSocketServer : public CVpnRouteRequestBaseServer {
 public:
  CVpnRouteRequestSocketServer(IForwardTable& table, std::string path, Clock clock = GetTickMs);
  ~CVpnRouteRequestSocketServer() override;
  const std::string& Path() const { return path_; }
  // Only while stopped. Root and the server's own user are always let in.
  void SetAllowedUser(uid_t uid) { allowedUser_ = uid; }

 protected:
  void Run() override;
  bool PrepareStart() override;
  void SignalStop() override;

 private:
  bool PeerAllowed(int fd) const;

  std::string path_;
  uid_t allowedUser_;
  int stopEvent_ = -1;  // eventfd; lives as long as the server object
  int listener_ = -1;
};
