#include "app/leak_guard.h"

#include <ifaddrs.h>
#include <netdb.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstring>

namespace {

int PrefixOfMask(const IpAddress& mask) {
  int length = 0;
  std::size_t bytes = mask.family == 4 ? 4 : 16;
  for (std::size_t i = 0; i < bytes; ++i) {
    for (int bit = 7; bit >= 0; --bit) {
      if (!(mask.bytes[i] >> bit & 1)) return length;
      ++length;
    }
  }
  return length;
}

}  // namespace

std::vector<FirewallEndpoint> ResolveServiceHosts(const std::wstring& baseUrl) {
  std::vector<FirewallEndpoint> hosts;
  const std::string host = UrlHost(baseUrl);
  if (host.empty()) return hosts;
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return hosts;
  for (addrinfo* a = found; a; a = a->ai_next) {
    if (a->ai_family == AF_INET)
      AddServiceAddress(hosts, 4, &reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr);
    else if (a->ai_family == AF_INET6)
      AddServiceAddress(hosts, 6, &reinterpret_cast<sockaddr_in6*>(a->ai_addr)->sin6_addr);
  }
  freeaddrinfo(found);
  return hosts;
}

std::vector<InterfaceAddress> ListInterfaceAddresses() {
  std::vector<InterfaceAddress> out;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return out;
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || !i->ifa_netmask || !(i->ifa_flags & IFF_UP) || !i->ifa_name) continue;
    InterfaceAddress a;
    a.name = i->ifa_name;
    a.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
    IpAddress mask;
    if (i->ifa_addr->sa_family == AF_INET) {
      a.address.family = mask.family = 4;
      std::memcpy(a.address.bytes.data(), &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, 4);
      std::memcpy(mask.bytes.data(), &reinterpret_cast<sockaddr_in*>(i->ifa_netmask)->sin_addr, 4);
    } else if (i->ifa_addr->sa_family == AF_INET6) {
      a.address.family = mask.family = 6;
      std::memcpy(a.address.bytes.data(), &reinterpret_cast<sockaddr_in6*>(i->ifa_addr)->sin6_addr, 16);
      std::memcpy(mask.bytes.data(), &reinterpret_cast<sockaddr_in6*>(i->ifa_netmask)->sin6_addr, 16);
    } else {
      continue;
    }
    a.prefixLength = PrefixOfMask(mask);
    out.push_back(a);
  }
  freeifaddrs(list);
  return out;
}

