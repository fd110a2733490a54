// A network namespace of the test's own, entered by the calling thread (and
// inherited by the threads it starts) and removed again afterwards. Names
// start with "qr" so that other test runs on the machine are left alone.
#pragma once
#include <string>

bool RunningAsRoot();
// Runs a shell command; its exit status.
int Shell(const std::string& command);
// Runs a shell command and returns what it printed.
std::string ShellOutput(const std::string& command);

class CTestNamespace {
 public:
  CTestNamespace();
  ~CTestNamespace();
  CTestNamespace(const CTestNamespace&) = delete;
  CTestNamespace& operator=(const CTestNamespace&) = delete;

  bool Ok() const { return ok_; }
  const std::string& Name() const { return name_; }
  // "ip -n <name> " + arguments.
  int Ip(const std::string& arguments) const;
  // Every IPv4 route of every table, sorted: the table's full content.
  std::string RouteDump() const;
  // The main table's routes as `ip` prints them, one per line, sorted.
  std::string MainRoutes() const;

  // A LAN adapter qrlan0 (192.168.77.2/24, default route via .1 with metric
  // 100) and a VPN adapter qrvpn0 holding 10.8.0.2/24.
  bool AddHomeNetwork() const;

 private:
  std::string name_;
  int original_ = -1;
  bool ok_ = false;
};
