// Leak protection's one decision: from plain data about the connection (its
// phase, the server, the tunnel, the physical adapter and the route mode) the
// ordered list of packet rules that keeps traffic in the tunnel or nowhere.
// The rules say nothing about how a system enforces them; IFirewall
// (firewall.h) does that.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Where the connection is, as leak protection sees it.
enum class FirewallPhase {
  Off,               // the user wants no VPN (or the protection is off): no rules
  Connecting,        // the tunnel is being made
  Connected,         // the tunnel is up
  Dropped,           // the tunnel went away without the user asking
  Reconnecting,      // the client is making it again on its own
  UserDisconnected,  // the user said stop: no rules
};

// An IPv4 or IPv6 address; bytes in network order (IPv4 in the first four).
struct IpAddress {
  int family = 0;  // 4 or 6; 0 for none
  std::array<std::uint8_t, 16> bytes{};
  bool operator==(const IpAddress&) const = default;
};

struct IpNetwork {
  IpAddress address;
  int prefixLength = 0;  // 0..32 or 0..128
  bool operator==(const IpNetwork&) const = default;
};

// Strict readings: dotted quad, or the usual IPv6 text (:: once, an IPv4
// tail allowed), no zone, no spaces. False for anything else.
bool ParseIpAddress(std::string_view text, IpAddress& address);
// "address/length" or a bare address (a host: /32 or /128). The address's
// bits past the prefix are cleared.
bool ParseIpNetwork(std::string_view text, IpNetwork& network);
// Dotted quad; IPv6 in its shortest form (RFC 5952). Empty for family 0.
std::string FormatIpAddress(const IpAddress& address);
std::string FormatIpNetwork(const IpNetwork& network);
bool NetworkContains(const IpNetwork& network, const IpAddress& address);

enum class FirewallProtocol { Any, Tcp, Udp, Icmp };  // Icmp: ICMPv6 for family 6

// Which interface a rule is about; the names and indexes are in the rule set.
enum class FirewallInterface {
  Any,
  Loopback,
  Tunnel,
  Physical,  // any interface but loopback and the tunnel
};

enum class FirewallAction { Permit, Block };

// An outgoing packet matches a rule when every field set matches. Replies
// to what a rule let out come back; the rules are about what leaves.
struct FirewallRule {
  FirewallAction action = FirewallAction::Block;
  FirewallInterface interface = FirewallInterface::Any;
  int family = 0;  // 4, 6, or 0 for both
  FirewallProtocol protocol = FirewallProtocol::Any;
  bool hasRemote = false;
  IpNetwork remote;              // only when hasRemote; its family is the rule's
  std::uint16_t remotePort = 0;  // 0 any; only with Tcp or Udp
  std::uint16_t localPort = 0;   // 0 any; only with Tcp or Udp
  std::string why;               // a short tag for logs and tests
  bool operator==(const FirewallRule&) const = default;
};

// The first rule that matches decides; a packet no rule matches passes.
// An empty list means no protection at all (and none of ours installed).
struct FirewallRuleSet {
  FirewallPhase phase = FirewallPhase::Off;
  std::string tunnelInterfaceName;    // Linux device name
  std::uint32_t tunnelIfIndex = 0;    // Windows interface index
  std::string physicalInterfaceName;  // empty: whatever is not tunnel nor loopback
  std::uint32_t physicalIfIndex = 0;
  std::vector<FirewallRule> rules;
};

// A host the client itself must reach around the tunnel (the account
// service, for login and reconnect).
struct FirewallEndpoint {
  IpAddress address;
  FirewallProtocol protocol = FirewallProtocol::Tcp;  // Tcp, Udp, or Any (every protocol)
  std::uint16_t port = 0;                             // 0 any port
};

// Values of routeMode, the route plan's modes.
constexpr std::int32_t kFirewallRouteModeDefaultGateway = 1;
constexpr std::int32_t kFirewallRouteModeListedRoutes = 2;
constexpr std::int32_t kFirewallRouteModePerApplication = 3;

struct FirewallPolicyInput {
  FirewallPhase phase = FirewallPhase::Off;
  bool protectionOn = true;
  bool allowLocalNetwork = true;
  std::int32_t routeMode = kFirewallRouteModeDefaultGateway;
  FirewallEndpoint server;  // the VPN server's address, port and protocol
  std::vector<FirewallEndpoint> serviceHosts;
  std::string tunnelInterfaceName;
  std::uint32_t tunnelIfIndex = 0;
  std::vector<IpNetwork> tunnelNetworks;  // the tunnel's own addresses' networks
  std::vector<IpAddress> tunnelDns;       // the tunnel's DNS servers
  std::string physicalInterfaceName;
  std::uint32_t physicalIfIndex = 0;
  std::vector<IpNetwork> physicalNetworks;  // the physical adapter's networks
  // Default-gateway mode: the networks the route plan sends around the
  // tunnel (listed routes, the proxy).
  std::vector<IpNetwork> bypassNetworks;
  // Listed-routes and per-application modes: the networks and hosts the
  // route plan sends through the tunnel; everything else goes around it.
  std::vector<IpNetwork> tunnelRoutes;
};

FirewallRuleSet MakeFirewallRules(const FirewallPolicyInput& input);

// Whether an outgoing packet with these fields passes the rule set (first
// match, pass when none): how tests and the leak bed judge a rule set
// without a kernel.
struct FirewallPacket {
  FirewallInterface interface = FirewallInterface::Physical;
  FirewallProtocol protocol = FirewallProtocol::Udp;
  IpAddress remote;
  std::uint16_t remotePort = 0;
  std::uint16_t localPort = 0;
};
bool FirewallPermits(const FirewallRuleSet& set, const FirewallPacket& packet);
