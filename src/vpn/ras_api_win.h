// The dial-up service's functions by name: the system's library, or in tests
// a stand-in that looks at the records it is handed (Wine only stubs them).
#pragma once
#include <functional>
#include <memory>

#include "vpn/ras_api.h"

// Answers a function's export name with its address, or null.
using RasFunctionLookup = std::function<void*(const char* name)>;
std::unique_ptr<IRasApi> CreateRasApiOver(const RasFunctionLookup& lookup);
