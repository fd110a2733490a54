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

class CBindAgent {
 public:
  CBindAgent(std::unique_ptr<IRouteRequestChannel> channel, std::wstring imagePath, CActivationWatch::Reader reader,
             std::function<TunnelState()> readTunnel);
  CRouteRequestClient& Client() { return client_; }
  void BeforeSend(const void* address, std::size_t length, IBindSocket& socket);

 private:
  std::unique_ptr<IRouteRequestChannel> channel_;
  CRouteRequestClient client_;
  CActivationWatch watch_;
  std::function<TunnelState()> readTunnel_;
};
