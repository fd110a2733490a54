// Where the Linux bind module finds the client: the server's socket, the
// application list, the tunnel record. Tests move all three with
// environment variables (ignored in privileged programs).
#pragma once
#include <cstdint>
#include <string>

#include "accel/bind_rules.h"
#include "platform/file_io.h"

std::string BindSocketPath();  // QUILLNET_BIND_SOCKET
std::string AppListFilePath();  // QUILLNET_BIND_LIST; else the program data folder's
std::string TunnelRecordPath();  // QUILLNET_BIND_STATE
std::string ExecutablePath();

// ReadFileIfChanged that treats a file over `maxBytes`, or anything but a
// regular file, as missing.
FileReadResult ReadBoundedFile(const std::string& path, const FileIdentity* known, FileIdentity& identity,
                               std::string& bytes, std::uint64_t maxBytes);

// Maps the client's record read-only on first need; a missing record is
// looked for again at most once a second.
class CTunnelStateReader {
 public:
  TunnelState Read();

 private:
  const BindTunnelRecord* record_ = nullptr;
  bool tried_ = false;
  std::uint32_t lastTry_ = 0;
};

// The client's side: creates the record when needed.
bool PublishTunnel(bool up, std::int32_t version, std::uint32_t localIp);
