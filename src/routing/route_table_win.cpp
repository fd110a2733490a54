#include "routing/route_table_win.h"

#include <netioapi.h>

#include <memory>
#include <mutex>
#include <vector>

#include "platform/strings.h"

namespace {

ForwardRow FromSystem(const MIB_IPFORWARDROW& r) {
  ForwardRow row;
  row.destination = r.dwForwardDest;
  row.mask = r.dwForwardMask;
  row.policy = r.dwForwardPolicy;
  row.nextHop = r.dwForwardNextHop;
  row.ifIndex = r.dwForwardIfIndex;
  row.type = r.dwForwardType;
  row.protocol = r.dwForwardProto;
  row.age = r.dwForwardAge;
  row.nextHopAs = r.dwForwardNextHopAS;
  row.metric1 = r.dwForwardMetric1;
  row.metric2 = r.dwForwardMetric2;
  row.metric3 = r.dwForwardMetric3;
  row.metric4 = r.dwForwardMetric4;
  row.metric5 = r.dwForwardMetric5;
  return row;
}

MIB_IPFORWARDROW ToSystem(const ForwardRow& row) {
  MIB_IPFORWARDROW r{};
  r.dwForwardDest = row.destination;
  r.dwForwardMask = row.mask;
  r.dwForwardPolicy = row.policy;
  r.dwForwardNextHop = row.nextHop;
  r.dwForwardIfIndex = row.ifIndex;
  r.dwForwardType = row.type;
  r.dwForwardProto = row.protocol;
  r.dwForwardAge = row.age;
  r.dwForwardNextHopAS = row.nextHopAs;
  r.dwForwardMetric1 = row.metric1;
  r.dwForwardMetric2 = row.metric2;
  r.dwForwardMetric3 = row.metric3;
  r.dwForwardMetric4 = row.metric4;
  r.dwForwardMetric5 = row.metric5;
  return r;
}

using GetIpInterfaceTableFn = DWORD(WINAPI*)(ADDRESS_FAMILY, PMIB_IPINTERFACE_TABLE*);
using FreeMibTableFn = VOID(WINAPI*)(PVOID);
using GetAdaptersAddressesFn = ULONG(WINAPI*)(ULONG, ULONG, PVOID, PIP_ADAPTER_ADDRESSES, PULONG);

// Loaded once per process and kept: the library stays loaded anyway.
GetAdaptersAddressesFn AdaptersAddressesFunction() {
  static const GetAdaptersAddressesFn function = [] {
    HMODULE library = LoadLibraryW(L"iphlpapi.dll");
    return library ? reinterpret_cast<GetAdaptersAddressesFn>(
                         reinterpret_cast<void*>(GetProcAddress(library, "GetAdaptersAddresses")))
                   : nullptr;
  }();
  return function;
}

class CSystemIpHelper : public IIpHelper {
 public:
  DWORD GetIpForwardTable(PMIB_IPFORWARDTABLE table, PULONG size, BOOL order) override {
    return ::GetIpForwardTable(table, size, order);
  }
  DWORD CreateIpForwardEntry(PMIB_IPFORWARDROW row) override { return ::CreateIpForwardEntry(row); }
  DWORD DeleteIpForwardEntry(PMIB_IPFORWARDROW row) override { return ::DeleteIpForwardEntry(row); }
  DWORD GetAdaptersInfo(PIP_ADAPTER_INFO info, PULONG size) override { return ::GetAdaptersInfo(info, size); }

  bool ReadInterfaceMetrics(std::vector<InterfaceMetric>& metrics) override {
    metrics.clear();
    HMODULE library = GetModuleHandleW(L"iphlpapi.dll");
    if (!library) return false;
    auto getTable = reinterpret_cast<GetIpInterfaceTableFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "GetIpInterfaceTable")));
    auto freeTable =
        reinterpret_cast<FreeMibTableFn>(reinterpret_cast<void*>(GetProcAddress(library, "FreeMibTable")));
    if (!getTable || !freeTable) return false;
    PMIB_IPINTERFACE_TABLE table = nullptr;
    if (getTable(AF_INET, &table) != NO_ERROR || !table) return false;
    for (ULONG i = 0; i < table->NumEntries; ++i)
      metrics.push_back({table->Table[i].InterfaceIndex, table->Table[i].Metric});
    freeTable(table);
    return true;
  }
};

class CWinForwardTable : public IForwardTable {
 public:
  explicit CWinForwardTable(IIpHelper& helper) : helper_(helper) {}

  std::uint32_t ReadForwardTable(std::vector<ForwardRow>& rows) override {
    rows.clear();
    std::vector<unsigned char> buffer(sizeof(MIB_IPFORWARDTABLE));
    ULONG size = 0;
    DWORD status = helper_.GetIpForwardTable(reinterpret_cast<PMIB_IPFORWARDTABLE>(buffer.data()), &size, FALSE);
    if (status == ERROR_INSUFFICIENT_BUFFER) {
      buffer.assign(size, 0);
      status = helper_.GetIpForwardTable(reinterpret_cast<PMIB_IPFORWARDTABLE>(buffer.data()), &size, FALSE);
    }
    if (status != NO_ERROR) return status;
    const auto* table = reinterpret_cast<const MIB_IPFORWARDTABLE*>(buffer.data());
    for (DWORD i = 0; i < table->dwNumEntries; ++i) rows.push_back(FromSystem(table->table[i]));
    return 0;
  }

  std::uint32_t AddForwardRow(const ForwardRow& row) override {
    MIB_IPFORWARDROW r = ToSystem(row);
    // CreateIpForwardEntry takes network-management rows only; a template
    // copied from a route the system learned (DHCP, the stack) says otherwise.
    // Here every caller is covered and the rows we read stay as read.
    r.dwForwardProto = MIB_IPPROTO_NETMGMT;
    return helper_.CreateIpForwardEntry(&r);
  }

  std::uint32_t DeleteForwardRow(const ForwardRow& row) override {
    MIB_IPFORWARDROW r = ToSystem(row);
    return helper_.DeleteIpForwardEntry(&r);
  }

  std::uint32_t ListAdapters(std::vector<AdapterAddress>& adapters) override {
    adapters.clear();
    ULONG size = 0;
    DWORD status = helper_.GetAdaptersInfo(nullptr, &size);
    if (status != ERROR_BUFFER_OVERFLOW) return status;
    std::vector<unsigned char> buffer(size);
    auto* info = reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data());
    status = helper_.GetAdaptersInfo(info, &size);
    if (status != NO_ERROR) return status;
    for (const IP_ADAPTER_INFO* a = info; a; a = a->Next)
      adapters.push_back({a->Index, NarrowToWide(a->IpAddressList.IpAddress.String)});
    return 0;
  }

  bool ReadInterfaceMetrics(std::vector<InterfaceMetric>& metrics) override {
    return helper_.ReadInterfaceMetrics(metrics);
  }

  std::uint32_t ListAdapterDns(std::vector<AdapterDnsServers>& adapters) override {
    adapters.clear();
    const GetAdaptersAddressesFn getAddresses = AdaptersAddressesFunction();
    if (!getAddresses) return 1;
    ULONG size = 0;
    std::vector<unsigned char> buffer;
    ULONG status = getAddresses(AF_INET, 0, nullptr, nullptr, &size);
    if (status == ERROR_BUFFER_OVERFLOW) {
      buffer.assign(size, 0);
      status = getAddresses(AF_INET, 0, nullptr, reinterpret_cast<PIP_ADAPTER_ADDRESSES>(buffer.data()), &size);
    }
    if (status != NO_ERROR) return status;
    if (buffer.empty()) return 0;
    for (auto* a = reinterpret_cast<PIP_ADAPTER_ADDRESSES>(buffer.data()); a; a = a->Next) {
      AdapterDnsServers adapter;
      adapter.friendlyName = a->FriendlyName ? a->FriendlyName : L"";
      for (const IP_ADAPTER_DNS_SERVER_ADDRESS* d = a->FirstDnsServerAddress; d; d = d->Next) {
        DnsServerAddress server;
        const SOCKADDR* address = d->Address.lpSockaddr;
        if (address && address->sa_family == AF_INET) {
          server.ipv4 = true;
          server.address = reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr;
        }
        adapter.servers.push_back(server);
      }
      adapters.push_back(std::move(adapter));
    }
    return 0;
  }

 private:
  IIpHelper& helper_;
};

}  // namespace

IIpHelper& SystemIpHelper() {
  static CSystemIpHelper helper;
  return helper;
}

std::unique_ptr<IForwardTable> CreateWinForwardTable(IIpHelper& helper) {
  return std::make_unique<CWinForwardTable>(helper);
}

std::unique_ptr<IForwardTable> CreateSystemForwardTable() { return CreateWinForwardTable(SystemIpHelper()); }
