#include "vpn/ras_sinks.h"

#include <algorithm>

std::uintptr_t CRasSinkRegistry::Register(IRasDialSink& sink) {
  std::lock_guard lock(mutex_);
  const std::uintptr_t id = next_++;
  if (next_ == 0) next_ = 1;
  sinks_[id] = &sink;
  return id;
}

bool CRasSinkRegistry::Deliver(std::uintptr_t id, RasHandle connection, std::uint32_t state, std::uint32_t error) {
  IRasDialSink* sink = nullptr;
  {
    std::lock_guard lock(mutex_);
    const auto it = sinks_.find(id);
    if (it == sinks_.end()) return false;
    sink = it->second;
    running_.push_back({sink, std::this_thread::get_id()});
  }
  sink->OnRasNotification(connection, state, error);
  {
    std::lock_guard lock(mutex_);
    const auto me = std::find_if(running_.begin(), running_.end(), [&](const Running& r) {
      return r.sink == sink && r.thread == std::this_thread::get_id();
    });
    if (me != running_.end()) running_.erase(me);
  }
  ended_.notify_all();
  return true;
}

bool CRasSinkRegistry::RunningElsewhereLocked(const IRasDialSink* sink) const {
  const std::thread::id self = std::this_thread::get_id();
  return std::any_of(running_.begin(), running_.end(),
                     [&](const Running& r) { return r.sink == sink && r.thread != self; });
}

void CRasSinkRegistry::Forget(IRasDialSink& sink) {
  std::unique_lock lock(mutex_);
  std::erase_if(sinks_, [&](const auto& entry) { return entry.second == &sink; });
  ended_.wait(lock, [&] { return !RunningElsewhereLocked(&sink); });
}
