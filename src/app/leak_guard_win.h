// Leak protection in the Windows client: the filtering platform behind the
// connect flow, and its lines in a log of their own (the window has no room
// for them, and a failure must never stop a connect).
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "app/leak_guard.h"

// "QuillnetProtection.log" in the program data folder, kept short.
std::wstring ProtectionLogPath();
void AppendProtectionLog(const std::wstring& line);
// What a run killed outright or crashed left in force; at start-up, by the
// one running client.
void LiftLeftoverLeakBlock();
// The guard over the system's filtering platform and interfaces; the
// account service's hosts come from `loginBaseUrl` when first needed.
std::unique_ptr<CFlowLeakGuard> CreateSystemLeakGuard(std::function<std::wstring()> loginBaseUrl);
