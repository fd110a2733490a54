#include "accel/bind_agent.h"

CBindAgent::CBindAgent(std::unique_ptr<IRouteRequestChannel> channel, std::wstring imagePath,
                       CActivationWatch::Reader reader, std::function<TunnelState()> readTunnel)
    : channel_(std::move(channel)),
      client_(*channel_),
      watch_(std::move(imagePath), std::move(reader)),
      readTunnel_(std::move(readTunnel)) {}

void CBindAgent::BeforeSend(const void* address, std::size_t length, IBindSocket& socket) {
  // Cheapest first: most calls of most programs end at the first test.
  std::uint32_t destination = 0;
  if (!Ipv4DestinationOf(address, length, destination) || !IsRoutableDestination(destination)) return;
  const TunnelState tunnel = readTunnel_();
  if (!tunnel.up) return;
  const AppBindOptions options = watch_.Current();
  if (!options.activated) return;
  // Whether the socket is bound costs a call into the lower provider: asked
  // only when the answer can change what we do.
  BindDecision decision = DecideBind(options, tunnel, destination, true);
  if (decision.askRoute && options.forceWspBind && !socket.IsBound())
    decision = DecideBind(options, tunnel, destination, false);
  if (decision.bindToTunnel) {
    unsigned char local[28];
    if (const std::size_t n = TunnelBindAddress(address, tunnel.localIp, local)) socket.Bind(local, n);
  }
  if (decision.askRoute) client_.Request(destination, decision.waitForReply, tunnel.generation);
}
