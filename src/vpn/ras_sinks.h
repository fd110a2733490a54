// Who may still hear the dial-up service. The service's callback carries a
// number, not a pointer to the connection: a notification that comes after
// its connection was forgotten (and perhaps deleted) finds nobody.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "vpn/ras_api.h"

class CRasSinkRegistry {
 public:
  // A new non-zero number that reaches `sink` until it is forgotten.
  std::uintptr_t Register(IRasDialSink& sink);
  // Calls the sink registered under `id`; false when there is none.
  bool Deliver(std::uintptr_t id, RasHandle connection, std::uint32_t state, std::uint32_t error);
  // Once this returns the sink hears nothing more: its numbers are dropped
  // and a call into it on another thread has returned. From inside the
  // sink's own notification it only drops the numbers.
  void Forget(IRasDialSink& sink);

 private:
  struct Running {
    IRasDialSink* sink;
    std::thread::id thread;
  };
  bool RunningElsewhereLocked(const IRasDialSink* sink) const;

  std::mutex mutex_;
  std::condition_variable ended_;
  std::map<std::uintptr_t, IRasDialSink*> sinks_;
  std::uintptr_t next_ = 1;
  std::vector<Running> running_;
};
