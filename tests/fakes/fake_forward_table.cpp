#include "fakes/fake_forward_table.h"

#include <algorithm>

bool CFakeForwardTable::SameKey(const ForwardRow& a, const ForwardRow& b) {
  return a.destination == b.destination && a.mask == b.mask && a.nextHop == b.nextHop && a.ifIndex == b.ifIndex;
}

std::uint32_t CFakeForwardTable::ReadForwardTable(std::vector<ForwardRow>& rows) {
  std::lock_guard lock(mutex_);
  rows.clear();
  if (readStatus != 0) return readStatus;
  rows = rows_;
  return 0;
}

std::uint32_t CFakeForwardTable::AddForwardRow(const ForwardRow& row) {
  std::lock_guard lock(mutex_);
  if (MaskToPrefixLength(row.mask) < 0 || (row.destination & ~row.mask) != 0 || row.destination == kAddressNone)
    return kErrorInvalidParameter;
  if (std::none_of(adapters_.begin(), adapters_.end(), [&](const AdapterAddress& a) { return a.ifIndex == row.ifIndex; }))
    return kErrorInvalidParameter;
  for (const ForwardRow& r : rows_)
    if (SameKey(r, row)) return kErrorAlreadyExists;
  rows_.push_back(row);
  ++adds_;
  return 0;
}

std::uint32_t CFakeForwardTable::DeleteForwardRow(const ForwardRow& row) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(rows_.begin(), rows_.end(), [&](const ForwardRow& r) { return SameKey(r, row); });
  if (it == rows_.end()) return kErrorNotFound;
  rows_.erase(it);
  ++deletes_;
  return 0;
}

std::uint32_t CFakeForwardTable::ListAdapters(std::vector<AdapterAddress>& adapters) {
  std::lock_guard lock(mutex_);
  adapters.clear();
  if (adaptersStatus != 0) return adaptersStatus;
  adapters = adapters_;
  return 0;
}

bool CFakeForwardTable::ReadInterfaceMetrics(std::vector<InterfaceMetric>& metrics) {
  std::lock_guard lock(mutex_);
  metrics.clear();
  if (!metricsAvailable) return false;
  metrics = metrics_;
  return true;
}

std::uint32_t CFakeForwardTable::ListAdapterDns(std::vector<AdapterDnsServers>& adapters) {
  std::lock_guard lock(mutex_);
  adapters.clear();
  if (dnsStatus != 0) return dnsStatus;
  adapters = dns;
  return 0;
}

void CFakeForwardTable::AddAdapter(std::uint32_t ifIndex, const std::wstring& firstAddress,
                                   std::optional<std::uint32_t> metric) {
  std::lock_guard lock(mutex_);
  adapters_.push_back({ifIndex, firstAddress});
  if (metric) metrics_.push_back({ifIndex, *metric});
}

void CFakeForwardTable::PutRow(const ForwardRow& row) {
  std::lock_guard lock(mutex_);
  rows_.push_back(row);
}

std::vector<ForwardRow> CFakeForwardTable::Rows() const {
  std::lock_guard lock(mutex_);
  return rows_;
}

std::size_t CFakeForwardTable::CountRows() const {
  std::lock_guard lock(mutex_);
  return rows_.size();
}

bool CFakeForwardTable::Has(const ForwardRow& row) const {
  std::lock_guard lock(mutex_);
  return std::any_of(rows_.begin(), rows_.end(), [&](const ForwardRow& r) { return SameKey(r, row); });
}

int CFakeForwardTable::adds() const {
  std::lock_guard lock(mutex_);
  return adds_;
}

int CFakeForwardTable::deletes() const {
  std::lock_guard lock(mutex_);
  return deletes_;
}

ForwardRow MakeRow(const wchar_t* destination, const wchar_t* mask, const wchar_t* nextHop, std::uint32_t ifIndex,
                   std::uint32_t metric1) {
  ForwardRow row;
  row.destination = ParseIpv4(destination);
  row.mask = ParseIpv4(mask);
  row.nextHop = ParseIpv4(nextHop);
  row.ifIndex = ifIndex;
  row.type = kRouteTypeIndirect;
  row.protocol = kRouteProtocolNetMgmt;
  row.age = 1234;
  row.metric1 = metric1;
  row.metric2 = row.metric3 = row.metric4 = row.metric5 = kMetricUnused;
  return row;
}

void SetUpHomeNetwork(CFakeForwardTable& table) {
  table.AddAdapter(1, L"127.0.0.1", 75);
  table.AddAdapter(2, L"192.168.1.10", 25);
  table.AddAdapter(7, L"10.8.0.6", 5);
  table.PutRow(MakeRow(L"0.0.0.0", L"0.0.0.0", L"192.168.1.1", 2, 25));
  table.PutRow(MakeRow(L"192.168.1.0", L"255.255.255.0", L"192.168.1.10", 2, 281));
  table.PutRow(MakeRow(L"10.8.0.0", L"255.255.255.0", L"10.8.0.6", 7, 261));
}

bool CFakeForwardTable::OwnsRow(const ForwardRow& row) {
  std::lock_guard lock(mutex_);
  for (const ForwardRow& o : owned)
    if (SameKey(o, row)) return true;
  return false;
}
