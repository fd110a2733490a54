// An openvpn a killed client left running keeps its tunnel and the routes
// it set up itself. The next run asks it to end, as the Windows client does
// through its exit event; only an openvpn started with this client's own
// ca.crt and whose parent is not a running client is touched.
#pragma once
#include <string>
#include <sys/types.h>
#include <vector>

// The arguments of a /proc cmdline file (NUL-separated).
std::vector<std::string> SplitCmdline(const std::string& bytes);
// True when `arguments` are an openvpn run with `--ca` naming `caFile`
// (compared as canonical paths).
bool IsOpenVpnWithCa(const std::vector<std::string>& arguments, const std::string& caFile);

struct LeftoverReport {
  std::vector<pid_t> ended;
  std::vector<pid_t> stillRunning;
};
// Sends SIGTERM to every leftover openvpn of `caFile` and waits up to
// `waitMs` for each to end.
LeftoverReport EndLeftoverOpenVpn(const std::string& caFile, int waitMs);
