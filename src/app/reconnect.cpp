#include "app/reconnect.h"

#include <algorithm>

namespace {

// The better of the two probes' times; -1 when neither answered.
std::int32_t MeasuredSpeed(const VpnServerInfo& s) {
  std::int32_t best = -1;
  for (std::int32_t r : {s.icmpResult, s.udpResult})
    if (r >= 0 && (best < 0 || r < best)) best = r;
  return best;
}

}  // namespace

std::uint32_t ReconnectPause(int attempt) {
  if (attempt <= 0) return 0;
  std::uint32_t pause = kReconnectFirstPauseMs;
  for (int i = 1; i < attempt && pause < kReconnectMaxPauseMs; ++i) pause *= 2;
  return std::min(pause, kReconnectMaxPauseMs);
}

std::vector<VpnServerInfo> OrderReconnectServers(const VpnServerInfo& dropped, const VpnServerMap& others) {
  std::vector<VpnServerInfo> order{dropped};
  std::vector<const VpnServerInfo*> rest;
  for (const auto& [id, server] : others) {
    if (id < 0 || id == dropped.id) continue;
    rest.push_back(&server);
  }
  std::stable_sort(rest.begin(), rest.end(), [](const VpnServerInfo* a, const VpnServerInfo* b) {
    const std::int32_t sa = MeasuredSpeed(*a), sb = MeasuredSpeed(*b);
    if ((sa < 0) != (sb < 0)) return sb < 0;
    if (sa != sb) return sa < sb;
    return a->id < b->id;
  });
  for (const VpnServerInfo* server : rest) order.push_back(*server);
  return order;
}

ReconnectStep CReconnectPlan::OnDrop(std::size_t serverCount, Tick now) {
  const bool flapping = everConnected_ && !active_ && TickElapsed(now, upTick_) < kReconnectStableMs;
  if (!flapping && !active_) attempt_ = 0;
  serverCount_ = serverCount;
  active_ = true;
  return Step(false);
}

ReconnectStep CReconnectPlan::OnAttemptEnded(ReconnectOutcome outcome) {
  if (!active_) return ReconnectStep{true, attempt_, 0, 0, false};
  return Step(outcome == ReconnectOutcome::Refused);
}

void CReconnectPlan::OnConnected(Tick now) {
  active_ = false;
  everConnected_ = true;
  upTick_ = now;
}

void CReconnectPlan::Stop() {
  active_ = false;
  everConnected_ = false;
  attempt_ = 0;
}

ReconnectStep CReconnectPlan::Step(bool loginFirst) {
  ReconnectStep step;
  step.attempt = attempt_;
  if (serverCount_ == 0 || attempt_ >= kReconnectMaxAttempts) {
    step.giveUp = true;
    active_ = false;
    return step;
  }
  if (attempt_ >= kReconnectSameServerAttempts && serverCount_ > 1)
    step.serverIndex = static_cast<std::size_t>(attempt_ - kReconnectSameServerAttempts + 1) % serverCount_;
  step.pauseMs = ReconnectPause(attempt_);
  step.loginFirst = loginFirst;
  ++attempt_;
  return step;
}
