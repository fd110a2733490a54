// The millisecond tick: 32 bits that wrap about every 49.7 days. Logic takes
// `now` as a parameter and compares ticks only through TickElapsed.
#pragma once
#include <cstdint>

using Tick = std::uint32_t;

Tick GetTickMs();

// Milliseconds from `since` to `now`, correct across one wrap.
inline std::uint32_t TickElapsed(Tick now, Tick since) { return now - since; }
