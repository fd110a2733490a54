#include "app/leak_guard_win.h"

#include "platform/win32.h"
// After <windows.h>.
#include <iphlpapi.h>

#include <cstdio>
#include <cstring>

#include "account/settings.h"
#include "platform/file_io.h"
#include "platform/strings.h"

std::vector<FirewallEndpoint> ResolveServiceHosts(const std::wstring& baseUrl) {
  std::vector<FirewallEndpoint> hosts;
  const std::string host = UrlHost(baseUrl);
  if (host.empty()) return hosts;
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return hosts;
  for (addrinfo* a = found; a; a = a->ai_next) {
    if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in))
      AddServiceAddress(hosts, 4, &reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr);
    else if (a->ai_family == AF_INET6 && a->ai_addrlen >= sizeof(sockaddr_in6))
      AddServiceAddress(hosts, 6, &reinterpret_cast<sockaddr_in6*>(a->ai_addr)->sin6_addr);
  }
  ::freeaddrinfo(found);
  return hosts;
}

std::vector<InterfaceAddress> ListInterfaceAddresses() {
  // The filters name interfaces by index: the adapter list gives each
  // address its interface's index and on-link prefix.
  std::vector<InterfaceAddress> out;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG status = ERROR_BUFFER_OVERFLOW;
  for (int tries = 0; tries < 3 && status == ERROR_BUFFER_OVERFLOW; ++tries) {
    buffer.assign(size, 0);
    status = ::GetAdaptersAddresses(AF_UNSPEC, flags, nullptr, reinterpret_cast<PIP_ADAPTER_ADDRESSES>(buffer.data()),
                                    &size);
  }
  if (status != NO_ERROR) return out;
  for (auto* adapter = reinterpret_cast<PIP_ADAPTER_ADDRESSES>(buffer.data()); adapter; adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp) continue;
    for (IP_ADAPTER_UNICAST_ADDRESS* u = adapter->FirstUnicastAddress; u; u = u->Next) {
      const SOCKADDR* address = u->Address.lpSockaddr;
      if (!address) continue;
      InterfaceAddress a;
      a.name = adapter->AdapterName ? adapter->AdapterName : "";
      a.loopback = adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
      if (address->sa_family == AF_INET && u->Address.iSockaddrLength >= static_cast<INT>(sizeof(sockaddr_in))) {
        a.address.family = 4;
        std::memcpy(a.address.bytes.data(), &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, 4);
        a.ifIndex = adapter->IfIndex;
        a.prefixLength = u->OnLinkPrefixLength <= 32 ? u->OnLinkPrefixLength : 32;
      } else if (address->sa_family == AF_INET6 &&
                 u->Address.iSockaddrLength >= static_cast<INT>(sizeof(sockaddr_in6))) {
        a.address.family = 6;
        std::memcpy(a.address.bytes.data(), &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, 16);
        a.ifIndex = adapter->Ipv6IfIndex;
        a.prefixLength = u->OnLinkPrefixLength <= 128 ? u->OnLinkPrefixLength : 128;
      } else {
        continue;
      }
      out.push_back(a);
    }
  }
  return out;
}

std::wstring ProtectionLogPath() {
  const std::wstring folder = ProgramDataFolder();
  return folder.empty() ? std::wstring() : folder + L"QuillnetProtection.log";
}

void AppendProtectionLog(const std::wstring& line) {
  const std::wstring path = ProtectionLogPath();
  if (path.empty()) return;
  std::string log;
  ReadWholeFile(path, log);
  // The last few dozen changes are what anyone reads.
  constexpr std::size_t kKeep = 32 * 1024;
  if (log.size() > kKeep) {
    const std::size_t cut = log.find('\n', log.size() - kKeep);
    log.erase(0, cut == std::string::npos ? log.size() : cut + 1);
  }
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u ", now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond);
  log += stamp + WideToUtf8(line) + "\r\n";
  AtomicWriteFile(path, log);
}

void LiftLeftoverLeakBlock() {
  CLeakGuard guard(CreateSystemFirewall());
  const std::wstring line = guard.ClearLeftover();
  if (!line.empty()) AppendProtectionLog(line);
}

std::unique_ptr<CFlowLeakGuard> CreateSystemLeakGuard(std::function<std::wstring()> loginBaseUrl) {
  CFlowLeakGuard::Sources sources;
  sources.interfaces = [] { return ListInterfaceAddresses(); };
  sources.serviceHosts = [loginBaseUrl] {
    return loginBaseUrl ? ResolveServiceHosts(loginBaseUrl()) : std::vector<FirewallEndpoint>{};
  };
  // Where the platform is missing or refuses (Wine only stubs it) the
  // client goes on connecting; the log says why nothing is blocked.
  sources.report = [](const std::wstring& line, bool) { AppendProtectionLog(line); };
  return std::make_unique<CFlowLeakGuard>(CreateSystemFirewall(), std::move(sources));
}
