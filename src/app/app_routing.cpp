#include "app/app_routing.h"

CAppRouting::CAppRouting(std::unique_ptr<IForwardTable> system, const std::wstring& programDataFolder)
    : system_(std::move(system)), journal_(programDataFolder), journaled_(*system_, journal_) {}

RouteJournalReplay CAppRouting::ReplayAtStart() {
  // A second replay would find our own fresh rows and delete them.
  if (replayed_) return {};
  replayed_ = true;
  return journal_.Replay(*system_);
}
