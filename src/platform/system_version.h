// The running system's major version number (5 for the oldest supported
// Windows, 6 and up later); none where the question has no answer.
#pragma once
#include <cstdint>
#include <optional>

std::optional<std::uint32_t> SystemMajorVersion();
