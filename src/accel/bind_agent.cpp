#include "accel/bind_agent.h"

#include <cstring>

bool PlainCopyIn(const void* from, std::size_t length, void* to) {
  std::memcpy(to, from, length);
  return true;
}

CBindAgent::CBindAgent(std::unique_ptr<IRouteRequestChannel> channel, std::wstring imagePath,
                       CActivationWatch::Reader reader, std::function<TunnelState()> readTunnel, BindCopyIn copyIn)
    : channel_(std::move(channel)),
      client_(*channel_),
      watch_(std::move(imagePath), std::move(reader)),
      readTunnel_(std::move(readTunnel)),
      copyIn_(copyIn) {}

bool CBindAgent::Wanted() { return readTunnel_().up && watch_.Current().activated; }

void CBindAgent::BeforeSend(const void* address, std::size_t length, IBindSocket& socket) {
  // Cheapest first, and nothing of the program's read before the tunnel and
  // the list say this program is ours: most calls of most programs end at
  // the tunnel's record.
  if (!address || length < 2) return;
  const TunnelState tunnel = readTunnel_();
  if (!tunnel.up) return;
  const AppBindOptions options = watch_.Current();
  if (!options.activated) return;
  // Every address we act on fits; the rest of a longer one is not ours to read.
  unsigned char copy[28];
  const std::size_t n = length < sizeof copy ? length : sizeof copy;
  if (!copyIn_(address, n, copy)) return;
  std::uint32_t destination = 0;
  if (!Ipv4DestinationOf(copy, n, destination) || !IsRoutableDestination(destination)) return;
  // Whether the socket is bound costs a call into the lower provider: asked
  // only when the answer can change what we do.
  BindDecision decision = DecideBind(options, tunnel, destination, true);
  if (decision.askRoute && options.forceWspBind && !socket.IsBound())
    decision = DecideBind(options, tunnel, destination, false);
  if (decision.bindToTunnel) {
    unsigned char local[28];
    if (const std::size_t k = TunnelBindAddress(copy, tunnel.localIp, local)) socket.Bind(local, k);
  }
  if (decision.askRoute) client_.Request(destination, decision.waitForReply, tunnel.generation);
}
