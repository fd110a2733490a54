#include "routing/product_forward_table.h"

#include <memory>

#include "account/settings.h"

namespace {

struct ProductTable {
  ProductTable() : system(CreateSystemForwardTable()), journal(ProgramDataFolder()), journaled(*system, journal) {}
  std::unique_ptr<IForwardTable> system;
  CRouteJournal journal;
  CJournaledForwardTable journaled;
};

// Process-wide by design: the journal is one file for the whole machine.
ProductTable& Product() {
  static ProductTable table;
  return table;
}

}  // namespace

IForwardTable& ProductForwardTable() { return Product().journaled; }

RouteJournalReplay ReplayProductRouteJournal() {
  ProductTable& product = Product();
  return product.journal.Replay(*product.system);
}
