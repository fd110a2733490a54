// What the bind module decides inside an application, shared by the Windows
// provider and the Linux preload library: whether this program is activated
// (the application list file), whether a tunnel is up (a small record the
// client publishes), and what to do before a connect or a datagram.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/file_io.h"
#include "platform/tick.h"

class CIniDocument;

struct AppBindOptions {
  bool activated = false;
  bool useAsyncMode = false;
  bool forceWspBind = false;
  bool operator==(const AppBindOptions&) const = default;
};

// The options of the first section whose AppFullname is `imagePath` and whose
// Active is 1. Paths compare ignoring ASCII case where the platform's file
// names do.
AppBindOptions FindActivation(const CIniDocument& list, const std::wstring& imagePath);

// A list larger than this is not ours: nobody names that many programs, and
// reading it in every process would cost every program.
constexpr std::uint64_t kMaxAppListBytes = 1u << 20;

// Reads the list file when it changed, at most once per `recheckMs`.
class CActivationWatch {
 public:
  // Like ReadFileIfChanged; a reader refuses files over kMaxAppListBytes
  // by returning Missing.
  using Reader = std::function<FileReadResult(const FileIdentity* known, FileIdentity& identity, std::string& bytes)>;
  using Clock = std::function<Tick()>;
  static constexpr std::uint32_t kRecheckMs = 200;

  CActivationWatch(std::wstring imagePath, Reader reader, Clock clock = GetTickMs);
  AppBindOptions Current();

 private:
  std::mutex lock_;
  std::wstring imagePath_;
  Reader reader_;
  Clock clock_;
  bool checked_ = false;
  Tick lastCheck_ = 0;
  bool haveIdentity_ = false;
  FileIdentity identity_;
  AppBindOptions options_;
};

// The tunnel record the client publishes and activated programs read:
// version, a generation that changes with every start, up, local address
// (network byte order). The writer bumps `sequence` to odd before a change
// and to even after it, so a reader never pairs fields of two starts.
struct BindTunnelRecord {
  std::atomic<std::uint32_t> sequence;
  std::atomic<std::uint32_t> version;
  std::atomic<std::uint32_t> generation;
  std::atomic<std::uint32_t> up;
  std::atomic<std::uint32_t> localIp;
};
static_assert(sizeof(BindTunnelRecord) == 20);

struct TunnelState {
  bool up = false;
  std::uint32_t localIp = 0;  // network byte order
  std::uint32_t generation = 0;
};

// False when `version` is not the interface this module speaks.
bool PublishTunnelUp(BindTunnelRecord& record, std::int32_t version, std::uint32_t localIp);
void PublishTunnelDown(BindTunnelRecord& record);
// A record that is being written, or of another version, reads as down.
TunnelState ReadTunnelState(const BindTunnelRecord& record);

// Addresses a host route makes no sense for: loopback, unspecified, limited
// broadcast, multicast. Network byte order.
bool IsRoutableDestination(std::uint32_t address);

struct BindDecision {
  bool askRoute = false;
  bool waitForReply = false;
  bool bindToTunnel = false;  // bind the still unbound socket to the tunnel's address first
};

BindDecision DecideBind(const AppBindOptions& options, const TunnelState& tunnel, std::uint32_t destination,
                        bool socketBound);

// IPv4 destination of a socket address, plain or IPv4-mapped IPv6; false for
// anything else. `bytes` is the system's sockaddr of `length` bytes.
bool Ipv4DestinationOf(const void* bytes, std::size_t length, std::uint32_t& address);

// The tunnel's address as a socket address of the (already checked)
// destination's family: IPv4, or IPv4-mapped for an IPv6 socket. Its length.
std::size_t TunnelBindAddress(const void* destination, std::uint32_t localIp, unsigned char (&out)[28]);
