// Sleeping and reading the tick behind one interface, so that code which
// polls the system (service starts, hang-ups) is tested without waiting.
#pragma once
#include <cstdint>

#include "platform/tick.h"

class IClock {
 public:
  virtual Tick Now() = 0;
  virtual void Sleep(std::uint32_t ms) = 0;

 protected:
  ~IClock() = default;
};

// The real tick and a real sleep; shared, stateless.
IClock& SystemClock();
