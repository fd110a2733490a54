// A network namespace of a test's own (named with the qv prefix), removed
// when the object goes, and a thread that runs inside it. Sockets and TUN
// devices belong to the namespace of the thread that makes them, and
// threads started from inside inherit it, so the speed test's workers run
// in the namespace without the test process ever leaving its own.
#pragma once
#include <functional>
#include <string>

class CTestNetns {
 public:
  // `tag` keeps names apart between tests; the process id is added.
  explicit CTestNetns(const std::string& tag);
  ~CTestNetns();
  CTestNetns(const CTestNetns&) = delete;
  CTestNetns& operator=(const CTestNetns&) = delete;

  bool Ok() const { return ok_; }
  const std::string& Name() const { return name_; }
  // Runs `command` with "ip -n NAME" in front; true when it exits with 0.
  bool Ip(const std::string& command) const;
  // Runs a shell command inside the namespace.
  bool Exec(const std::string& command) const;
  // Runs `body` on a fresh thread that has entered the namespace; returns
  // false when the thread could not enter it.
  bool RunInside(const std::function<void()>& body) const;

 private:
  std::string name_;
  bool ok_ = false;
};

// Whether this process may make namespaces and TUN devices.
bool CanUseTestNetns(std::string& whyNot);

// Drops CAP_NET_RAW from the calling thread (and the threads it starts).
bool DropRawSocketRight();
