// What the client does after a tunnel it did not end goes down: which
// server to try next, how long to wait first, whether to log in again, and
// when to stop trying. Pure decisions over plain values and a tick, so the
// connect flow and the tests drive the same rules.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/tick.h"
#include "servers/server_list.h"

// The pause before attempt n (0-based): none before the first, then
// doubling from kReconnectFirstPauseMs up to kReconnectMaxPauseMs.
constexpr std::uint32_t kReconnectFirstPauseMs = 1000;
constexpr std::uint32_t kReconnectMaxPauseMs = 30000;
// After this many attempts without a tunnel the client stops trying and
// stays blocked until the user acts.
constexpr int kReconnectMaxAttempts = 10;
// Attempts on the dropped server before moving on: a restart of the
// server's process or a short outage is over by then.
constexpr int kReconnectSameServerAttempts = 2;
// A tunnel that stayed up this long dropped for a new reason: the next
// drop starts the sequence afresh instead of continuing its pauses.
constexpr std::uint32_t kReconnectStableMs = 60000;

enum class ReconnectOutcome {
  Failed,   // the tunnel did not come up
  Refused,  // the server refused the credentials: log in again first
};

struct ReconnectStep {
  bool giveUp = false;
  int attempt = 0;  // 0-based count since the drop
  std::size_t serverIndex = 0;  // into the order given to Begin
  std::uint32_t pauseMs = 0;
  bool loginFirst = false;
};

std::uint32_t ReconnectPause(int attempt);

// The dropped server first, then the others by measured speed (fastest
// first; unmeasured or unreachable ones after every measured one, by id).
// `others` may hold the dropped server too; it is listed once.
std::vector<VpnServerInfo> OrderReconnectServers(const VpnServerInfo& dropped, const VpnServerMap& others);

class CReconnectPlan {
 public:
  // A drop of the tunnel; `serverCount` servers are in the order to try.
  // Returns the first step. A drop soon after a reconnect continues the earlier
  // sequence, so a flapping server is not hammered.
  ReconnectStep OnDrop(std::size_t serverCount, Tick now);
  // The attempt of the last step ended without a tunnel.
  ReconnectStep OnAttemptEnded(ReconnectOutcome outcome);
  // The attempt of the last step brought the tunnel up.
  void OnConnected(Tick now);
  // The user stopped: no step follows until the next drop.
  void Stop();

  bool Active() const { return active_; }
  int Attempts() const { return attempt_; }

 private:
  ReconnectStep Step(bool loginFirst);

  std::size_t serverCount_ = 0;
  int attempt_ = 0;
  bool active_ = false;
  bool everConnected_ = false;
  Tick upTick_ = 0;
};
