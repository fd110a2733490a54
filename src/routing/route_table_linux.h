// The Linux forwarding table over rtnetlink. Rows map to routes of the main
// table: destination and prefix, gateway (none for direct routes, whose next
// hop is the preferred source), output interface, metric 1 as the priority.
#pragma once
#include <memory>
#include <string>

#include "routing/route_table.h"

// `runFolder` is where the resolver daemons publish per-link state ("/run");
// tests point it at a folder of their own.
std::unique_ptr<IForwardTable> CreateLinuxForwardTable(const std::string& runFolder);
