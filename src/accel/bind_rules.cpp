#include "accel/bind_rules.h"

#include <cstring>

#include "account/ini_engine.h"
#include "account/reply_document.h"
#include "platform/strings.h"
#include "platform/text_parse.h"

namespace {

#ifdef _WIN32
constexpr bool kPathsIgnoreCase = true;
constexpr std::uint16_t kFamilyInet6 = 23;
#else
constexpr bool kPathsIgnoreCase = false;
constexpr std::uint16_t kFamilyInet6 = 10;
#endif
constexpr std::uint16_t kFamilyInet = 2;

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return kPathsIgnoreCase ? EqualsNoCaseAscii(a, b) : a == b;
}

int ReadFlag(const CIniDocument& list, const std::string& section, const char* key) {
  const std::string* value = list.Find(section, key);
  if (!value || value->empty()) return 0;
  return static_cast<int>(ParseIntAutoBase(value->c_str(), INT32_MIN, INT32_MAX));
}

std::uint32_t FromBytes(const unsigned char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

}  // namespace

AppBindOptions FindActivation(const CIniDocument& list, const std::wstring& imagePath) {
  AppBindOptions options;
  if (imagePath.empty()) return options;
  for (const std::string& section : list.SectionNames()) {
    const std::string* full = list.Find(section, "AppFullname");
    if (!full || ReadFlag(list, section, "Active") != 1) continue;
    if (!SamePath(NarrowToWide(full->c_str()), imagePath)) continue;
    options.activated = true;
    options.useAsyncMode = ReadFlag(list, section, "UseAsyncMode") == 1;
    options.forceWspBind = ReadFlag(list, section, "ForceWSPBind") == 1;
    return options;
  }
  return options;
}

CActivationWatch::CActivationWatch(std::wstring imagePath, Reader reader, Clock clock)
    : imagePath_(std::move(imagePath)), reader_(std::move(reader)), clock_(std::move(clock)) {}

AppBindOptions CActivationWatch::Current() {
  std::lock_guard<std::mutex> hold(lock_);
  const Tick now = clock_();
  if (checked_ && TickElapsed(now, lastCheck_) < kRecheckMs) return options_;
  checked_ = true;
  lastCheck_ = now;
  FileIdentity identity;
  std::string bytes;
  switch (reader_(haveIdentity_ ? &identity_ : nullptr, identity, bytes)) {
    case FileReadResult::Missing:
      haveIdentity_ = false;
      options_ = {};
      break;
    case FileReadResult::Unchanged:
      break;
    case FileReadResult::Read:
      haveIdentity_ = true;
      identity_ = identity;
      options_ = FindActivation(CIniDocument::Parse(bytes), imagePath_);
      break;
  }
  return options_;
}

bool PublishTunnelUp(BindTunnelRecord& record, std::int32_t version, std::uint32_t localIp) {
  if (version != 8) return false;
  const std::uint32_t s = record.sequence.load();
  record.sequence.store(s | 1u);
  record.version.store(static_cast<std::uint32_t>(version));
  record.generation.store(record.generation.load() + 1);
  record.localIp.store(localIp);
  record.up.store(1);
  record.sequence.store((s | 1u) + 1);
  return true;
}

void PublishTunnelDown(BindTunnelRecord& record) {
  const std::uint32_t s = record.sequence.load();
  record.sequence.store(s | 1u);
  record.up.store(0);
  record.localIp.store(0);
  record.sequence.store((s | 1u) + 1);
}

TunnelState ReadTunnelState(const BindTunnelRecord& record) {
  TunnelState state;
  const std::uint32_t before = record.sequence.load();
  if (before & 1u) return state;
  const std::uint32_t version = record.version.load();
  const std::uint32_t generation = record.generation.load();
  const std::uint32_t up = record.up.load();
  const std::uint32_t localIp = record.localIp.load();
  if (record.sequence.load() != before || version != 8 || up != 1) return state;
  state.up = true;
  state.localIp = localIp;
  state.generation = generation;
  return state;
}

bool IsRoutableDestination(std::uint32_t address) {
  const auto* b = reinterpret_cast<const unsigned char*>(&address);
  if (address == 0 || address == 0xFFFFFFFFu) return false;
  if (b[0] == 127) return false;
  if (b[0] >= 224 && b[0] <= 239) return false;
  return true;
}

BindDecision DecideBind(const AppBindOptions& options, const TunnelState& tunnel, std::uint32_t destination,
                        bool socketBound) {
  BindDecision decision;
  if (!options.activated || !tunnel.up || !IsRoutableDestination(destination)) return decision;
  // The tunnel's own address is reached locally whatever the table says.
  if (destination == tunnel.localIp) return decision;
  decision.askRoute = true;
  decision.waitForReply = !options.useAsyncMode;
  decision.bindToTunnel = options.forceWspBind && !socketBound && tunnel.localIp != 0;
  return decision;
}

bool Ipv4DestinationOf(const void* bytes, std::size_t length, std::uint32_t& address) {
  if (!bytes || length < 2) return false;
  const auto* p = static_cast<const unsigned char*>(bytes);
  // sa_family is the first 16-bit field except on systems with sa_len;
  // neither of ours has one.
  std::uint16_t family;
  std::memcpy(&family, p, 2);
  if (family == kFamilyInet && length >= 8) {
    address = FromBytes(p + 4);
    return true;
  }
  // sockaddr_in6: family, port, flow info, then the 16 address bytes.
  if (family == kFamilyInet6 && length >= 24) {
    static const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::memcmp(p + 8, kMapped, 12) != 0) return false;
    address = FromBytes(p + 20);
    return true;
  }
  return false;
}

std::size_t TunnelBindAddress(const void* destination, std::uint32_t localIp, unsigned char (&out)[28]) {
  std::memset(out, 0, sizeof out);
  std::uint16_t family = 0;
  std::memcpy(&family, destination, 2);
  std::memcpy(out, &family, 2);
  // sockaddr_in: family, port, address. sockaddr_in6: family, port, flow
  // information, 16 address bytes, scope. The same on both platforms.
  if (family == kFamilyInet) {
    std::memcpy(out + 4, &localIp, 4);
    return 16;
  }
  if (family == kFamilyInet6) {
    out[18] = 0xFF;
    out[19] = 0xFF;
    std::memcpy(out + 20, &localIp, 4);
    return 28;
  }
  return 0;
}
