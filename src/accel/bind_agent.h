// The bind module inside one program, on either platform: before a connect
// or a datagram with an address, decide and ask. The platform gives the
// channel, the list file reader, the tunnel record and the socket calls.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "accel/bind_rules.h"
#include "accel/route_request_client.h"

// The socket the program is about to use, through the calls below ours.
class IBindSocket {
 public:
  virtual ~IBindSocket() = default;
  // True also when that cannot be told: a socket we cannot read is left alone.
  virtual bool IsBound() = 0;
  virtual void Bind(const void* address, std::size_t length) = 0;
};

// Copies `length` bytes of the program's memory; false when they cannot be
// read. A program's bad pointer must reach the call below ours, which answers
// it with an error, rather than fault inside the module.
using BindCopyIn = bool (*)(const void* from, std::size_t length, void* to);
bool PlainCopyIn(const void* from, std::size_t length, void* to);

class CBindAgent {
 public:
  CBindAgent(std::unique_ptr<IRouteRequestChannel> channel, std::wstring imagePath, CActivationWatch::Reader reader,
             std::function<TunnelState()> readTunnel, BindCopyIn copyIn = PlainCopyIn);
  CRouteRequestClient& Client() { return client_; }
  // True when a tunnel is up and this program is activated: only then is
  // anything of the program's call read.
  bool Wanted();
  void BeforeSend(const void* address, std::size_t length, IBindSocket& socket);
  // The program's memory through the agent's copier.
  bool CopyIn(const void* from, std::size_t length, void* to) const { return copyIn_(from, length, to); }

 private:
  std::unique_ptr<IRouteRequestChannel> channel_;
  CRouteRequestClient client_;
  CActivationWatch watch_;
  std::function<TunnelState()> readTunnel_;
  BindCopyIn copyIn_;
};
