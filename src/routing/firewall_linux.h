// The packet filter on Linux: one nftables table of ours ("inet quillnet"),
// written whole in one transaction for every change, so the kernel switches
// from the old rules to the new in one step.
#pragma once
#include <memory>
#include <string>

#include "routing/firewall.h"

constexpr const char* kFirewallTableName = "quillnet";

// The nftables commands that replace table `tableName` with `rules` (or
// remove it, for an empty list); empty when a name in the set is not a
// plain interface name.
std::string MakeNftablesScript(const FirewallRuleSet& rules, const std::string& tableName);

std::unique_ptr<IFirewall> CreateLinuxFirewall(const std::string& tableName = kFirewallTableName);
