// An in-memory forwarding table that refuses what a kernel refuses:
// duplicates, masks that are not masks, host bits outside the mask, unknown
// interfaces. Errors carry Windows' numbers. Safe to use from several threads.
#pragma once
#include <mutex>
#include <optional>
#include <vector>

#include "routing/route_table.h"

class CFakeForwardTable : public IForwardTable {
 public:
  static constexpr std::uint32_t kErrorNotFound = 1168;
  static constexpr std::uint32_t kErrorInvalidParameter = 87;
  static constexpr std::uint32_t kErrorAlreadyExists = 5010;

  std::uint32_t ReadForwardTable(std::vector<ForwardRow>& rows) override;
  std::uint32_t AddForwardRow(const ForwardRow& row) override;
  std::uint32_t DeleteForwardRow(const ForwardRow& row) override;
  std::uint32_t ListAdapters(std::vector<AdapterAddress>& adapters) override;
  bool ReadInterfaceMetrics(std::vector<InterfaceMetric>& metrics) override;
  std::uint32_t ListAdapterDns(std::vector<AdapterDnsServers>& adapters) override;
  bool OwnsRow(const ForwardRow& row) override;

  // Set-up and inspection; each call takes the lock.
  void AddAdapter(std::uint32_t ifIndex, const std::wstring& firstAddress, std::optional<std::uint32_t> metric = {});
  void PutRow(const ForwardRow& row);  // as the system would, without checks
  std::vector<ForwardRow> Rows() const;
  std::size_t CountRows() const;
  bool Has(const ForwardRow& row) const;  // by the system's identity of a row
  int adds() const;
  int deletes() const;

  // Knobs for failure paths.
  std::uint32_t readStatus = 0;
  std::uint32_t adaptersStatus = 0;
  bool metricsAvailable = true;
  std::uint32_t dnsStatus = 0;
  std::vector<AdapterDnsServers> dns;
  std::vector<ForwardRow> owned;  // what a journal would say the client added

 private:
  static bool SameKey(const ForwardRow& a, const ForwardRow& b);
  mutable std::mutex mutex_;
  std::vector<ForwardRow> rows_;
  std::vector<AdapterAddress> adapters_;
  std::vector<InterfaceMetric> metrics_;
  int adds_ = 0;
  int deletes_ = 0;
};

// A default route through 192.168.1.1 on interface 2 (192.168.1.10, metric
// 25) and a VPN adapter 7 holding 10.8.0.6 (metric 5).
ForwardRow MakeRow(const wchar_t* destination, const wchar_t* mask, const wchar_t* nextHop, std::uint32_t ifIndex,
                   std::uint32_t metric1);
void SetUpHomeNetwork(CFakeForwardTable& table);
