// The forwarding table the product changes routes through: the system's,
// with every change journaled in the program data folder, so that no crash
// of ours leaves a route behind. Connections and the route request server
// get it by default; start-up replays what an earlier run left.
#pragma once
#include "routing/route_journal.h"
#include "routing/route_table.h"

IForwardTable& ProductForwardTable();
// Once at start-up, before the first connection: deletes the routes a run
// that died left in the table.
RouteJournalReplay ReplayProductRouteJournal();
