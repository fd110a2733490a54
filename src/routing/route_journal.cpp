#include "routing/route_journal.h"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <tuple>

#include "platform/file_io.h"
#include "platform/text_parse.h"

namespace {

constexpr char kFileName[] = "routes.journal";
constexpr char kBootPrefix[] = "boot ";

using RowKey = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t>;

RowKey KeyOf(const ForwardRow& row) {
  return {row.destination, row.mask, row.nextHop, row.ifIndex, row.metric1};
}

}  // namespace

bool SameBoot(const std::string& recorded, const std::string& current) {
  if (recorded.empty() || current.empty()) return true;
  if (recorded == current) return true;
  // Boot times in seconds wobble with the clock's reading of the tick.
  const IntRead a = ReadInt(recorded, 10, INT64_MIN / 2, INT64_MAX / 2);
  const IntRead b = ReadInt(current, 10, INT64_MIN / 2, INT64_MAX / 2);
  if (a.used != recorded.size() || b.used != current.size()) return false;
  return a.value - b.value <= 120 && b.value - a.value <= 120;
}

CRouteJournal::CRouteJournal(const std::wstring& folder)
    : path_((std::filesystem::path(folder) / kFileName).wstring()) {}

CRouteJournal::~CRouteJournal() = default;

bool CRouteJournal::Open(bool truncate) {
  file_.close();
  file_.clear();
  const std::filesystem::path path(path_);
  std::error_code ignored;
  std::filesystem::create_directories(path.parent_path(), ignored);
  // A journal left by a run that was never replayed must not be cut short.
  if (!truncate && !opened_) mayTruncate_ = !std::filesystem::exists(path, ignored) ||
                                            std::filesystem::file_size(path, ignored) == 0;
  file_.open(path, std::ios::binary | (truncate ? std::ios::trunc : std::ios::app));
  opened_ = true;
  if (!file_) return false;
  if (truncate || mayTruncate_) {
    if (file_.tellp() == 0) file_ << kBootPrefix << CurrentBootId() << '\n';
  }
  return true;
}

void CRouteJournal::Write(char op, const ForwardRow& row) {
  if (!opened_ && !Open(false)) return;
  if (!file_) return;
  file_ << op << ' ' << row.destination << ' ' << row.mask << ' ' << row.nextHop << ' ' << row.ifIndex << ' '
        << row.metric1 << '\n';
  // Into the system's hands at once: it must survive our process, not the
  // machine.
  file_.flush();
}

void CRouteJournal::BeforeAdd(const ForwardRow& row) {
  std::lock_guard lock(mutex_);
  Write('+', row);
}

void CRouteJournal::AfterAdd(const ForwardRow& row, bool added) {
  std::lock_guard lock(mutex_);
  // A failed add has its own word: the row may well be one we hold from an
  // earlier add (a duplicate entry, a DNS host route also listed), and a
  // delete's word here would make replay forget it.
  Write(added ? '=' : '!', row);
  if (added) ++live_[KeyOf(row)];
}

bool CRouteJournal::Owns(const ForwardRow& row) {
  std::lock_guard lock(mutex_);
  return live_.count(KeyOf(row)) != 0;
}

void CRouteJournal::AfterDelete(const ForwardRow& row) {
  std::lock_guard lock(mutex_);
  auto it = live_.find(KeyOf(row));
  if (it == live_.end()) return;  // not one of ours: nothing to record
  Write('-', row);
  if (--it->second == 0) live_.erase(it);
  if (live_.empty() && mayTruncate_) Open(true);
}

RouteJournalReplay CRouteJournal::Replay(IForwardTable& table) {
  std::lock_guard lock(mutex_);
  RouteJournalReplay result;
  std::string bytes;
  if (ReadWholeFile(path_, bytes)) {
    std::istringstream lines(bytes);
    std::string line;
    // Per row: adds the system took, deletes done, and adds asked for that
    // never heard back (the crash came in between).
    struct Count {
      int asked = 0, added = 0, failed = 0, deleted = 0;
    };
    std::map<RowKey, Count> counts;
    std::string boot;
    while (std::getline(lines, line)) {
      if (line.rfind(kBootPrefix, 0) == 0) {
        boot = line.substr(sizeof kBootPrefix - 1);
        continue;
      }
      std::istringstream fields(line);
      char op = 0;
      ForwardRow row;
      // A torn last line from the crash reads short and is dropped.
      if (!(fields >> op >> row.destination >> row.mask >> row.nextHop >> row.ifIndex >> row.metric1)) continue;
      Count& c = counts[KeyOf(row)];
      if (op == '+') ++c.asked;
      else if (op == '=') ++c.added;
      else if (op == '!') ++c.failed;
      else if (op == '-') ++c.deleted;
    }
    result.otherBoot = !SameBoot(boot, CurrentBootId());
    std::vector<ForwardRow> rows;
    const bool haveTable = !result.otherBoot && table.ReadForwardTable(rows) == 0;
    if (!result.otherBoot && !haveTable) {
      // Without the table nothing can be told apart; try again next time.
      result.failed = static_cast<int>(counts.size());
      return result;
    }
    for (const auto& [key, c] : counts) {
      if (result.otherBoot) continue;
      if (c.added - c.deleted <= 0) {
        if (c.asked > c.added + c.failed) ++result.uncertain;
        continue;
      }
      const ForwardRow* present = nullptr;
      ForwardRow wanted;
      std::tie(wanted.destination, wanted.mask, wanted.nextHop, wanted.ifIndex, wanted.metric1) = key;
      for (const ForwardRow& r : rows)
        if (SameRoute(r, wanted)) present = &r;
      if (!present) {
        ++result.missing;
        continue;
      }
      if (table.DeleteForwardRow(*present) == 0) ++result.deleted;
      else ++result.failed;
    }
  }
  RemoveFile(path_);
  file_.close();
  opened_ = false;
  live_.clear();
  return result;
}

std::uint32_t CJournaledForwardTable::AddForwardRow(const ForwardRow& row) {
  journal_.BeforeAdd(row);
  const std::uint32_t result = inner_.AddForwardRow(row);
  journal_.AfterAdd(row, result == 0);
  return result;
}

std::uint32_t CJournaledForwardTable::DeleteForwardRow(const ForwardRow& row) {
  const std::uint32_t result = inner_.DeleteForwardRow(row);
  if (result == 0) journal_.AfterDelete(row);
  return result;
}
