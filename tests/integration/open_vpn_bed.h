// A real openvpn server for the client to reach: a namespace of its own
// joined to the test's namespace by a veth pair (client 10.99.0.2, server
// 10.99.0.1), a CA and server certificate made for the run, and a
// credentials script that accepts alice/secret.
#pragma once
#include <sys/types.h>

#include <filesystem>
#include <string>

#include "test_netns.h"

// Empty when the bed can run here, else why not (for GTEST_SKIP).
std::string OpenVpnBedMissing();

class COpenVpnBed {
 public:
  // `client` is the namespace the test thread is in.
  COpenVpnBed(const CTestNamespace& client, const std::filesystem::path& dir);
  ~COpenVpnBed();
  COpenVpnBed(const COpenVpnBed&) = delete;
  COpenVpnBed& operator=(const COpenVpnBed&) = delete;

  bool Ok() const { return ok_; }
  // Starts the server for "udp" or "tcp"; true once it listens.
  bool StartServer(const std::string& proto);
  // Kills the server (the namespaces and the link stay).
  void KillServer();
  // The server's namespace, for tests that add hosts beside it.
  const std::string& Namespace() const { return ns_; }

 private:
  std::string ns_;
  std::filesystem::path dir_;
  pid_t pid_ = -1;
  bool ok_ = false;
};
