// Waiting for a transfer's events in tests, with a bound.
#pragma once
#include <chrono>
#include <vector>

#include "account/curl_plus.h"
#include "platform/message_target.h"

// Collects the transfer's events until its end event, at most timeoutMs.
// Events of other transfers are kept in `others` when given.
inline std::vector<std::uintptr_t> WaitForTransferEnd(CMessageQueue& queue, std::intptr_t eventId, int timeoutMs,
                                                       std::vector<PostedMessage>* others = nullptr) {
  std::vector<std::uintptr_t> kinds;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    auto m = queue.Wait(static_cast<int>(left.count()));
    if (!m) break;
    if (m->lParam != eventId) {
      if (others) others->push_back(*m);
      continue;
    }
    kinds.push_back(m->wParam);
    if (m->wParam == kCurlEventEnded) break;
  }
  return kinds;
}
