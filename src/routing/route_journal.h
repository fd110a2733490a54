// A record on disk of every route the client has added and not yet deleted,
// so that routes survive no crash of ours: at the next start-up Replay
// deletes the ones still in the table.
//
// The record is append-only: "+" before a row is added, "=" once the system
// took it, "!" when it refused it, "-" once it was deleted. Replay counts
// per row: a row is ours while its adds taken outnumber its deletes. Routes do not outlive a
// reboot, so the file only has to outlive the process (no flush to the
// disk), and a record from an earlier boot is dropped without touching the
// table. A crash between "+" and "=" leaves a row whose owner is unknown (it
// may be a route that was already there, which is why the add failed):
// Replay keeps such a row rather than risk deleting a route we did not add.
#pragma once
#include <cstdint>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

#include "routing/route_table.h"

struct RouteJournalReplay {
  int deleted = 0;    // ours and still there: deleted
  int missing = 0;    // ours but already gone
  int uncertain = 0;  // a crash came between asking and hearing back; kept
  int failed = 0;     // ours and there, but the deletion failed
  bool otherBoot = false;
};

class CRouteJournal {
 public:
  // `folder` is where the client keeps its machine-wide data.
  explicit CRouteJournal(const std::wstring& folder);
  ~CRouteJournal();
  const std::wstring& Path() const { return path_; }

  void BeforeAdd(const ForwardRow& row);
  void AfterAdd(const ForwardRow& row, bool added);
  void AfterDelete(const ForwardRow& row);
  bool Owns(const ForwardRow& row);

  // Run once at start-up, before anything is added.
  RouteJournalReplay Replay(IForwardTable& table);

 private:
  void Write(char op, const ForwardRow& row);
  bool Open(bool truncate);
  std::mutex mutex_;
  std::wstring path_;
  std::ofstream file_;
  bool opened_ = false;
  bool mayTruncate_ = false;
  // Rows added and not yet deleted; when none is left the file starts over.
  std::map<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t>, int> live_;
};

// The table every part of the client changes routes through: rows are
// recorded before they are added and forgotten after they are deleted.
class CJournaledForwardTable : public IForwardTable {
 public:
  CJournaledForwardTable(IForwardTable& inner, CRouteJournal& journal) : inner_(inner), journal_(journal) {}
  std::uint32_t ReadForwardTable(std::vector<ForwardRow>& rows) override { return inner_.ReadForwardTable(rows); }
  std::uint32_t AddForwardRow(const ForwardRow& row) override;
  std::uint32_t DeleteForwardRow(const ForwardRow& row) override;
  std::uint32_t ListAdapters(std::vector<AdapterAddress>& adapters) override { return inner_.ListAdapters(adapters); }
  bool ReadInterfaceMetrics(std::vector<InterfaceMetric>& metrics) override {
    return inner_.ReadInterfaceMetrics(metrics);
  }
  std::uint32_t ListAdapterDns(std::vector<AdapterDnsServers>& adapters) override {
    return inner_.ListAdapterDns(adapters);
  }
  bool OwnsRow(const ForwardRow& row) override { return journal_.Owns(row); }

 private:
  IForwardTable& inner_;
  CRouteJournal& journal_;
};

// Tells one boot of the machine from the next; empty when unknown.
std::string CurrentBootId();
// Whether two boot identities name the same boot (an unknown one matches).
bool SameBoot(const std::string& recorded, const std::string& current);
