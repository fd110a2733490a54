// The process-wide pseudo-random generator behind the request scrambling
// keys and the secret pads. Seeded once at start-up; safe from any thread.
#pragma once
#include <cstdint>
#include <functional>

void SeedRequestRandom(std::uint32_t seed);
std::uint32_t NextRequestRandom();

// A source of random numbers; the account requests take one so tests can
// replay a sequence.
using RandomSource = std::function<std::uint32_t()>;
