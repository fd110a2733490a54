// The running system's major version number (5 for the oldest supported
// Windows, 6 and up later); none where the question has no answer.
#pragma once
#include <cstdint>
#include <optional>

std::optional<std::uint32_t> SystemMajorVersion();

struct SystemVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t servicePack = 0;
};
// As the system tells this program (Wine can be told to say otherwise per
// program); none where the question has no answer.
std::optional<SystemVersion> RunningSystemVersion();
