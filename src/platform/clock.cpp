#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace {

class CSystemClock final : public IClock {
 public:
  Tick Now() override { return GetTickMs(); }
  void Sleep(std::uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

}  // namespace

IClock& SystemClock() {
  static CSystemClock clock;
  return clock;
}
