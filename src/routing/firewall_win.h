// The filtering platform's functions by name: the system's fwpuclnt, or in
// tests a stand-in that records the filters (Wine only stubs them).
#pragma once
#include <functional>
#include <memory>

#include "routing/firewall.h"

// Answers a function's export name with its address, or null.
using WfpFunctionLookup = std::function<void*(const char* name)>;
std::unique_ptr<IFirewall> CreateWfpFirewallOver(const WfpFunctionLookup& lookup);
