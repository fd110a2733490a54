#include "platform/system_version.h"

std::optional<std::uint32_t> SystemMajorVersion() { return std::nullopt; }

std::optional<SystemVersion> RunningSystemVersion() { return std::nullopt; }
