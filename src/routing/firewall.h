// The system's packet filter as leak protection uses it: one set of rules of
// our own, replaced whole. nftables on Linux, the filtering platform on
// Windows, a recording fake in tests.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "routing/firewall_policy.h"

// Error results are the system's own numbers (errno values on Linux, Win32
// or filtering-platform codes on Windows); 0 is success.
class IFirewall {
 public:
  virtual ~IFirewall() = default;
  // Puts `rules` in force in place of whatever of ours was there, in one
  // step: no moment with neither set, nor with both. An empty list is
  // Remove. On failure what was in force stays.
  virtual std::uint32_t Apply(const FirewallRuleSet& rules) = 0;
  // Takes away every rule of ours, a previous run's included; 0 also when
  // there was none.
  virtual std::uint32_t Remove() = 0;
  // Whether rules of ours are in force, a previous run's included.
  virtual bool Present() = 0;
  // The system's words about the last failure, for the log.
  virtual std::string LastError() const { return {}; }
};

std::unique_ptr<IFirewall> CreateSystemFirewall();
