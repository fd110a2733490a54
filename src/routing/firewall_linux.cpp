#include "routing/firewall_linux.h"

#include <nftables/libnftables.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

// What the kernel takes as an interface name, and nothing that could end a
// quoted word in the script.
bool PlainName(const std::string& name) {
  if (name.empty() || name.size() > 15) return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
              c == '.';
    if (!ok) return false;
  }
  return true;
}

std::string Words(const std::string& text) {
  std::string out;
  for (char c : text) out += (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ? c : ' ';
  return out;
}

// The rule's match words; false when the rule cannot be written (an
// interface the set does not name).
bool MatchText(const FirewallRule& rule, const FirewallRuleSet& set, std::string& out) {
  switch (rule.interface) {
    case FirewallInterface::Any:
      break;
    case FirewallInterface::Loopback:
      out += "oifname \"lo\" ";
      break;
    case FirewallInterface::Tunnel:
      if (set.tunnelInterfaceName.empty()) return false;
      out += "oifname \"" + set.tunnelInterfaceName + "\" ";
      break;
    case FirewallInterface::Physical:
      if (!set.physicalInterfaceName.empty()) {
        out += "oifname \"" + set.physicalInterfaceName + "\" ";
      } else if (!set.tunnelInterfaceName.empty()) {
        out += "oifname != { \"lo\", \"" + set.tunnelInterfaceName + "\" } ";
      } else {
        out += "oifname != \"lo\" ";
      }
      break;
  }
  if (rule.hasRemote) {
    out += rule.remote.address.family == 4 ? "ip daddr " : "ip6 daddr ";
    out += FormatIpNetwork(rule.remote) + " ";
  } else if (rule.family == 4) {
    out += "meta nfproto ipv4 ";
  } else if (rule.family == 6) {
    out += "meta nfproto ipv6 ";
  }
  int family = rule.hasRemote ? rule.remote.address.family : rule.family;
  switch (rule.protocol) {
    case FirewallProtocol::Any:
      break;
    case FirewallProtocol::Icmp:
      out += family == 4 ? "meta l4proto icmp " : family == 6 ? "meta l4proto ipv6-icmp " : "meta l4proto { icmp, ipv6-icmp } ";
      break;
    case FirewallProtocol::Tcp:
    case FirewallProtocol::Udp: {
      const char* name = rule.protocol == FirewallProtocol::Tcp ? "tcp" : "udp";
      out += std::string("meta l4proto ") + name + " ";
      if (rule.localPort) out += std::string(name) + " sport " + std::to_string(rule.localPort) + " ";
      if (rule.remotePort) out += std::string(name) + " dport " + std::to_string(rule.remotePort) + " ";
      break;
    }
  }
  return true;
}

}  // namespace

std::string MakeNftablesScript(const FirewallRuleSet& set, const std::string& tableName) {
  if (!PlainName(tableName)) return {};
  if (!set.tunnelInterfaceName.empty() && !PlainName(set.tunnelInterfaceName)) return {};
  if (!set.physicalInterfaceName.empty() && !PlainName(set.physicalInterfaceName)) return {};
  // "add" then "delete" removes the table whether or not it was there, and
  // in the same batch as the new one, so the swap is one transaction.
  std::string script = "add table inet " + tableName + "\ndelete table inet " + tableName + "\n";
  if (set.rules.empty()) return script;
  script += "table inet " + tableName + " {\n  chain output {\n    type filter hook output priority filter; policy accept;\n";
  for (const FirewallRule& rule : set.rules) {
    std::string line;
    // A rule about an interface that is not known matches nothing: leaving
    // it out keeps the same meaning.
    if (!MatchText(rule, set, line)) continue;
    line += "counter ";
    line += rule.action == FirewallAction::Permit ? "accept" : "drop";
    if (!rule.why.empty()) line += " comment \"" + Words(rule.why) + "\"";
    script += "    " + line + "\n";
  }
  script += "  }\n}\n";
  return script;
}

namespace {

class CLinuxFirewall : public IFirewall {
 public:
  explicit CLinuxFirewall(std::string tableName) : tableName_(std::move(tableName)) {}

  std::uint32_t Apply(const FirewallRuleSet& rules) override {
    std::string script = MakeNftablesScript(rules, tableName_);
    if (script.empty()) {
      lastError_ = "an interface name the packet filter cannot take";
      return EINVAL;
    }
    return Run(script, nullptr);
  }

  std::uint32_t Remove() override { return Run(MakeNftablesScript({}, tableName_), nullptr); }

  bool Present() override {
    std::string output;
    return Run("list table inet " + tableName_, &output) == 0;
  }

  std::string LastError() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
  }

 private:
  std::uint32_t Run(const std::string& commands, std::string* output) {
    std::lock_guard<std::mutex> lock(mutex_);
    nft_ctx* ctx = nft_ctx_new(NFT_CTX_DEFAULT);
    if (!ctx) {
      lastError_ = "no nftables context";
      return ENOMEM;
    }
    nft_ctx_buffer_output(ctx);
    nft_ctx_buffer_error(ctx);
    int rc = nft_run_cmd_from_buffer(ctx, commands.c_str());
    const char* err = nft_ctx_get_error_buffer(ctx);
    const char* out = nft_ctx_get_output_buffer(ctx);
    lastError_ = err ? err : "";
    if (output && out) *output = out;
    nft_ctx_free(ctx);
    if (rc == 0) return 0;
    if (lastError_.find("Operation not permitted") != std::string::npos) return EPERM;
    if (lastError_.find("No such file or directory") != std::string::npos) return ENOENT;
    return EIO;
  }

  std::string tableName_;
  mutable std::mutex mutex_;
  std::string lastError_;
};

}  // namespace

std::unique_ptr<IFirewall> CreateLinuxFirewall(const std::string& tableName) {
  return std::make_unique<CLinuxFirewall>(tableName);
}

std::unique_ptr<IFirewall> CreateSystemFirewall() { return CreateLinuxFirewall(kFirewallTableName); }
