#include "routing/route_table_linux.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>

#include "platform/strings.h"

namespace {

struct KernelRoute {
  ForwardRow row;
  unsigned char protocol = 0;
};

struct LocalAddress {
  std::uint32_t ifIndex;
  std::uint32_t address;
};

class CNetlink {
 public:
  CNetlink() {
    fd_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd_ < 0) return;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      close(fd_);
      fd_ = -1;
      return;
    }
    int one = 1;
    setsockopt(fd_, SOL_NETLINK, NETLINK_EXT_ACK, &one, sizeof one);
    int size = 1 << 20;
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  ~CNetlink() {
    if (fd_ >= 0) close(fd_);
  }
  bool Ok() const { return fd_ >= 0; }

  // Sends one request and waits for its acknowledgement; the kernel's errno.
  std::uint32_t Transact(nlmsghdr* request) {
    request->nlmsg_flags |= NLM_F_ACK;
    return Exchange(request, [](const nlmsghdr* h) -> std::optional<std::uint32_t> {
      if (h->nlmsg_type != NLMSG_ERROR) return std::nullopt;
      return static_cast<std::uint32_t>(-static_cast<const nlmsgerr*>(NLMSG_DATA(h))->error);
    });
  }

  // Runs a dump and hands every message to `each`; errno on failure.
  template <typename F>
  std::uint32_t Dump(nlmsghdr* request, F&& each) {
    request->nlmsg_flags |= NLM_F_DUMP;
    return Exchange(request, [&](nlmsghdr* h) -> std::optional<std::uint32_t> {
      if (h->nlmsg_type == NLMSG_DONE) return 0;
      if (h->nlmsg_type == NLMSG_ERROR) {
        const int error = static_cast<const nlmsgerr*>(NLMSG_DATA(h))->error;
        if (error != 0) return static_cast<std::uint32_t>(-error);
        return std::nullopt;
      }
      each(h);
      return std::nullopt;
    });
  }

 private:
  // Sends the request, then hands each answer to it to `onMessage` until
  // that returns a result.
  template <typename F>
  std::uint32_t Exchange(nlmsghdr* request, F&& onMessage) {
    request->nlmsg_seq = ++seq_;
    if (!SendAll(request)) return static_cast<std::uint32_t>(errno ? errno : EIO);
    for (;;) {
      ssize_t n = recv(fd_, buffer_, sizeof buffer_, 0);
      if (n < 0) {
        if (errno == EINTR) continue;
        return static_cast<std::uint32_t>(errno);
      }
      for (auto* h = reinterpret_cast<nlmsghdr*>(buffer_); NLMSG_OK(h, static_cast<unsigned>(n));
           h = NLMSG_NEXT(h, n)) {
        if (h->nlmsg_seq != seq_) continue;
        if (std::optional<std::uint32_t> result = onMessage(h)) return *result;
      }
    }
  }

  bool SendAll(nlmsghdr* request) {
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    for (;;) {
      const ssize_t n =
          sendto(fd_, request, request->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
      if (n == static_cast<ssize_t>(request->nlmsg_len)) return true;
      if (n < 0 && errno == EINTR) continue;
      if (n >= 0) errno = EIO;
      return false;
    }
  }

  int fd_ = -1;
  std::uint32_t seq_ = 0;
  alignas(nlmsghdr) char buffer_[64 * 1024];
};

// One request in one flat buffer: header, route message, attributes.
struct RouteRequest {
  alignas(nlmsghdr) char bytes[NLMSG_SPACE(sizeof(rtmsg)) + 128] = {};
  nlmsghdr* Header() { return reinterpret_cast<nlmsghdr*>(bytes); }
  rtmsg* Route() { return static_cast<rtmsg*>(NLMSG_DATA(Header())); }
};

void AddAttribute(RouteRequest& request, unsigned short type, const void* data, unsigned short length) {
  nlmsghdr* h = request.Header();
  auto* a = reinterpret_cast<rtattr*>(request.bytes + NLMSG_ALIGN(h->nlmsg_len));
  a->rta_type = type;
  a->rta_len = RTA_LENGTH(length);
  std::memcpy(RTA_DATA(a), data, length);
  h->nlmsg_len = NLMSG_ALIGN(h->nlmsg_len) + RTA_ALIGN(a->rta_len);
}

std::uint32_t U32(const rtattr* a) {
  std::uint32_t v = 0;
  std::memcpy(&v, RTA_DATA(a), sizeof v);
  return v;
}

class CLinuxForwardTable : public IForwardTable {
 public:
  explicit CLinuxForwardTable(std::string runFolder) : runFolder_(std::move(runFolder)) {}

  std::uint32_t ReadForwardTable(std::vector<ForwardRow>& rows) override {
    std::vector<KernelRoute> routes;
    const std::uint32_t status = ReadRoutes(routes);
    rows.clear();
    if (status != 0) return status;
    rows.reserve(routes.size());
    for (const KernelRoute& r : routes) rows.push_back(r.row);
    return 0;
  }

  std::uint32_t AddForwardRow(const ForwardRow& row) override { return Change(row, true); }
  std::uint32_t DeleteForwardRow(const ForwardRow& row) override { return Change(row, false); }

  std::uint32_t ListAdapters(std::vector<AdapterAddress>& adapters) override {
    adapters.clear();
    std::vector<LocalAddress> addresses;
    if (const std::uint32_t status = ReadAddresses(addresses)) return status;
    std::vector<std::uint32_t> indexes = InterfaceIndexes();
    for (std::uint32_t index : indexes) {
      AdapterAddress adapter;
      adapter.ifIndex = index;
      for (const LocalAddress& a : addresses)
        if (a.ifIndex == index) {
          adapter.firstAddress = FormatIpv4(a.address);
          break;
        }
      adapters.push_back(adapter);
    }
    return 0;
  }

  // Linux has no metric of its own per interface. The network managers give
  // every route of an interface its configured metric, which shows most
  // faithfully on the interface's default route; an address's own metric
  // shows on its prefix route. Anything else counts as 0, the kernel's
  // default priority.
  bool ReadInterfaceMetrics(std::vector<InterfaceMetric>& metrics) override {
    metrics.clear();
    std::vector<KernelRoute> routes;
    if (ReadRoutes(routes) != 0) return false;
    std::map<std::uint32_t, std::uint32_t> viaDefault, viaPrefix;
    auto keepLowest = [](std::map<std::uint32_t, std::uint32_t>& map, const ForwardRow& row) {
      auto [it, inserted] = map.emplace(row.ifIndex, row.metric1);
      if (!inserted && row.metric1 < it->second) it->second = row.metric1;
    };
    for (const KernelRoute& r : routes) {
      if (r.row.destination == 0 && r.row.mask == 0) keepLowest(viaDefault, r.row);
      else if (r.protocol == RTPROT_KERNEL) keepLowest(viaPrefix, r.row);
    }
    for (std::uint32_t index : InterfaceIndexes()) {
      InterfaceMetric m{index, 0};
      if (auto it = viaDefault.find(index); it != viaDefault.end()) m.metric = it->second;
      else if (auto p = viaPrefix.find(index); p != viaPrefix.end()) m.metric = p->second;
      metrics.push_back(m);
    }
    return true;
  }

  // Per-link servers as systemd-resolved publishes them, else as
  // systemd-networkd does; a machine with neither has no per-link servers
  // (the global resolv.conf belongs to no adapter).
  std::uint32_t ListAdapterDns(std::vector<AdapterDnsServers>& adapters) override {
    adapters.clear();
    if (struct if_nameindex* names = if_nameindex()) {
      for (struct if_nameindex* n = names; n->if_index != 0; ++n) {
        AdapterDnsServers adapter;
        adapter.friendlyName = NarrowToWide(n->if_name);
        const std::string index = std::to_string(n->if_index);
        if (!ReadServers(runFolder_ + "/systemd/resolve/netif/" + index, "SERVERS=", adapter.servers))
          ReadServers(runFolder_ + "/systemd/netif/links/" + index, "DNS=", adapter.servers);
        adapters.push_back(std::move(adapter));
      }
      if_freenameindex(names);
    }
    return 0;
  }

 private:
  static std::vector<std::uint32_t> InterfaceIndexes() {
    std::vector<std::uint32_t> indexes;
    if (struct if_nameindex* names = if_nameindex()) {
      for (struct if_nameindex* n = names; n->if_index != 0; ++n) indexes.push_back(n->if_index);
      if_freenameindex(names);
    }
    return indexes;
  }

  static bool ReadServers(const std::string& path, const std::string& key, std::vector<DnsServerAddress>& servers) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    bool found = false;
    while (std::getline(in, line)) {
      if (line.compare(0, key.size(), key) != 0) continue;
      found = true;
      std::istringstream words(line.substr(key.size()));
      std::string word;
      while (words >> word) {
        // Entries may carry a port, an interface or a server name:
        // "[addr]:port", "addr%ifindex", "addr#name".
        if (!word.empty() && word[0] == '[') word = word.substr(1, word.find(']') - 1);
        word = word.substr(0, word.find_first_of("%#"));
        DnsServerAddress server;
        in_addr v4{};
        if (inet_pton(AF_INET, word.c_str(), &v4) == 1) {
          server.ipv4 = true;
          server.address = v4.s_addr;
        }
        servers.push_back(server);
      }
    }
    return found;
  }

  std::uint32_t ReadRoutes(std::vector<KernelRoute>& routes) {
    std::lock_guard lock(mutex_);
    if (!netlink_.Ok()) return EIO;
    RouteRequest request;
    request.Header()->nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.Header()->nlmsg_type = RTM_GETROUTE;
    request.Header()->nlmsg_flags = NLM_F_REQUEST;
    request.Route()->rtm_family = AF_INET;
    return netlink_.Dump(request.Header(), [&](nlmsghdr* h) {
      if (h->nlmsg_type != RTM_NEWROUTE) return;
      const auto* rt = static_cast<const rtmsg*>(NLMSG_DATA(h));
      if (rt->rtm_family != AF_INET || rt->rtm_type != RTN_UNICAST || (rt->rtm_flags & RTM_F_CLONED)) return;
      std::uint32_t table = rt->rtm_table;
      KernelRoute r;
      r.protocol = rt->rtm_protocol;
      ForwardRow& row = r.row;
      row.mask = PrefixLengthToMask(rt->rtm_dst_len);
      row.metric2 = row.metric3 = row.metric4 = row.metric5 = kMetricUnused;
      row.protocol = rt->rtm_protocol == RTPROT_KERNEL ? 2 : kRouteProtocolNetMgmt;
      row.type = kRouteTypeDirect;
      std::uint32_t prefsrc = 0;
      int length = static_cast<int>(RTM_PAYLOAD(h));
      for (auto* a = RTM_RTA(rt); RTA_OK(a, length); a = RTA_NEXT(a, length)) {
        switch (a->rta_type) {
          case RTA_TABLE: table = U32(a); break;
          case RTA_DST: row.destination = U32(a); break;
          case RTA_GATEWAY:
            row.nextHop = U32(a);
            row.type = kRouteTypeIndirect;
            break;
          case RTA_OIF: row.ifIndex = U32(a); break;
          case RTA_PRIORITY: row.metric1 = U32(a); break;
          case RTA_PREFSRC: prefsrc = U32(a); break;
          case RTA_MULTIPATH: {
            // Only the first path: the table has one row per route.
            const auto* nh = static_cast<const rtnexthop*>(RTA_DATA(a));
            if (RTA_PAYLOAD(a) >= sizeof(rtnexthop)) {
              row.ifIndex = static_cast<std::uint32_t>(nh->rtnh_ifindex);
              int nhLength = static_cast<int>(nh->rtnh_len) - static_cast<int>(RTNH_LENGTH(0));
              for (auto* na = RTNH_DATA(nh); RTA_OK(na, nhLength); na = RTA_NEXT(na, nhLength))
                if (na->rta_type == RTA_GATEWAY) {
                  row.nextHop = U32(na);
                  row.type = kRouteTypeIndirect;
                }
            }
            break;
          }
          default: break;
        }
      }
      if (table != RT_TABLE_MAIN) return;
      if (row.type == kRouteTypeDirect) row.nextHop = prefsrc;
      routes.push_back(r);
    });
  }

  std::uint32_t ReadAddresses(std::vector<LocalAddress>& addresses) {
    std::lock_guard lock(mutex_);
    if (!netlink_.Ok()) return EIO;
    struct {
      nlmsghdr header;
      ifaddrmsg address;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrmsg));
    request.header.nlmsg_type = RTM_GETADDR;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.address.ifa_family = AF_INET;
    return netlink_.Dump(&request.header, [&](nlmsghdr* h) {
      if (h->nlmsg_type != RTM_NEWADDR) return;
      const auto* ifa = static_cast<const ifaddrmsg*>(NLMSG_DATA(h));
      if (ifa->ifa_family != AF_INET) return;
      int length = static_cast<int>(IFA_PAYLOAD(h));
      std::uint32_t local = 0, address = 0;
      bool haveLocal = false, haveAddress = false;
      for (auto* a = IFA_RTA(ifa); RTA_OK(a, length); a = RTA_NEXT(a, length)) {
        if (a->rta_type == IFA_LOCAL) local = U32(a), haveLocal = true;
        if (a->rta_type == IFA_ADDRESS) address = U32(a), haveAddress = true;
      }
      if (haveLocal || haveAddress) addresses.push_back({ifa->ifa_index, haveLocal ? local : address});
    });
  }

  // A next hop that is one of the interface's own addresses (or none) makes
  // a direct route; anything else is a gateway. The answer is kept briefly so
  // that a plan of thousands of routes asks the kernel once.
  bool IsLocalAddress(std::uint32_t ifIndex, std::uint32_t address) {
    std::lock_guard lock(mutex_);
    auto known = [&] {
      for (const LocalAddress& a : localAddresses_)
        if (a.ifIndex == ifIndex && a.address == address) return true;
      return false;
    };
    const auto now = std::chrono::steady_clock::now();
    const auto age = now - addressesRead_;
    // A hit may be trusted for a while; a miss only very briefly, since the
    // address may have been configured a moment ago.
    const bool hit = known();
    if ((hit && age < std::chrono::milliseconds(500)) || (!hit && age < std::chrono::milliseconds(50))) return hit;
    std::vector<LocalAddress> fresh;
    if (ReadAddresses(fresh) == 0) {
      localAddresses_ = std::move(fresh);
      addressesRead_ = now;
    }
    return known();
  }

  std::uint32_t Change(const ForwardRow& row, bool add) {
    const int prefix = MaskToPrefixLength(row.mask);
    // The kernel keeps prefixes, not masks; host bits beyond the mask would
    // name a different network than the caller meant.
    if (prefix < 0 || (row.destination & ~row.mask) != 0) return EINVAL;
    const bool direct = row.nextHop == 0 || IsLocalAddress(row.ifIndex, row.nextHop);
    RouteRequest request;
    nlmsghdr* header = request.Header();
    header->nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    header->nlmsg_type = add ? RTM_NEWROUTE : RTM_DELROUTE;
    header->nlmsg_flags = NLM_F_REQUEST | (add ? NLM_F_CREATE | NLM_F_EXCL : 0);
    rtmsg* route = request.Route();
    route->rtm_family = AF_INET;
    route->rtm_dst_len = static_cast<unsigned char>(prefix);
    route->rtm_table = RT_TABLE_MAIN;
    route->rtm_type = RTN_UNICAST;
    route->rtm_protocol = add ? RTPROT_STATIC : RTPROT_UNSPEC;
    route->rtm_scope = add ? (direct ? RT_SCOPE_LINK : RT_SCOPE_UNIVERSE) : RT_SCOPE_NOWHERE;
    if (row.destination != 0) AddAttribute(request, RTA_DST, &row.destination, 4);
    if (!direct) AddAttribute(request, RTA_GATEWAY, &row.nextHop, 4);
    if (direct && row.nextHop != 0) AddAttribute(request, RTA_PREFSRC, &row.nextHop, 4);
    if (row.ifIndex != 0) AddAttribute(request, RTA_OIF, &row.ifIndex, 4);
    AddAttribute(request, RTA_PRIORITY, &row.metric1, 4);
    std::lock_guard lock(mutex_);
    if (!netlink_.Ok()) return EIO;
    return netlink_.Transact(header);
  }

  std::string runFolder_;
  std::recursive_mutex mutex_;
  CNetlink netlink_;
  std::vector<LocalAddress> localAddresses_;
  std::chrono::steady_clock::time_point addressesRead_{};
};

}  // namespace

std::unique_ptr<IForwardTable> CreateLinuxForwardTable(const std::string& runFolder) {
  return std::make_unique<CLinuxForwardTable>(runFolder);
}

std::unique_ptr<IForwardTable> CreateSystemForwardTable() { return CreateLinuxForwardTable("/run"); }
