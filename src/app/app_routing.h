// The process's forwarding-table stack: the system table, the route journal
// in the program data folder, and the journaled table every route change of
// the client goes through. Made once at start-up.
#pragma once
#include <memory>
#include <string>

#include "routing/route_journal.h"
#include "routing/route_table.h"

class CAppRouting {
 public:
  CAppRouting(std::unique_ptr<IForwardTable> system, const std::wstring& programDataFolder);
  // Deletes what a crashed run left in the table; call once, before any route
  // is added. Goes to the system table directly: the journal is what it reads.
  RouteJournalReplay ReplayAtStart();
  IForwardTable& Table() { return journaled_; }
  CRouteJournal& Journal() { return journal_; }

 private:
  std::unique_ptr<IForwardTable> system_;
  CRouteJournal journal_;
  CJournaledForwardTable journaled_;
  bool replayed_ = false;
};
