// One client per data folder. A second client's start would replay the
// route journal of the first and take its routes away, so connect and
// restore-routes hold a lock on a file in the data folder for as long as
// they run; the file names the holder, so disconnect knows whom to end. The
// lock goes with the process, also when it is killed.
#pragma once
#include <sys/types.h>

#include <string>

class CClientLock {
 public:
  explicit CClientLock(std::string path) : path_(std::move(path)) {}
  ~CClientLock();
  CClientLock(const CClientLock&) = delete;
  CClientLock& operator=(const CClientLock&) = delete;
  // False when another process holds it (`holder` its pid, 0 if unknown) or
  // the file cannot be made (`holder` -1).
  bool Take(pid_t& holder);

 private:
  std::string path_;
  int fd_ = -1;
};

// The pid of the client holding the lock at `path`; 0 when none does.
pid_t LockHolder(const std::string& path);
// Asks the holder to disconnect (SIGTERM) and waits until its lock is free,
// at most `waitMs`; the holder's pid, 0 when none ran, -1 when it did not end.
pid_t EndLockHolder(const std::string& path, int waitMs);
