#include "fakes/fake_ras_api.h"

CFakeRasApi::CFakeRasApi() : thread_([this] { DeliverLoop(); }) {}

CFakeRasApi::~CFakeRasApi() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void CFakeRasApi::DeliverLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return quit_ || (!queue_.empty() && !held_); });
    if (quit_) return;
    Event event = queue_.front();
    queue_.pop_front();
    delivering_ = true;
    lock.unlock();
    const bool delivered = sinks_.Deliver(event.sink, event.handle, event.step.first, event.step.second);
    lock.lock();
    if (!delivered) ++record_.undelivered;
    delivering_ = false;
    if (queue_.empty()) idle_.notify_all();
  }
}

void CFakeRasApi::WaitIdle() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return queue_.empty() && !delivering_; });
}

void CFakeRasApi::Hold(bool hold) {
  std::lock_guard lock(mutex_);
  held_ = hold;
  wake_.notify_all();
}

RasHandle CFakeRasApi::NewHandleLocked(const std::wstring& entryName) {
  RasHandle handle = reinterpret_cast<RasHandle>(nextHandle_);
  nextHandle_ += 0x10;
  connections_[handle] = Conn{entryName};
  return handle;
}

RasHandle CFakeRasApi::AddConnection(const std::wstring& entryName) {
  std::lock_guard lock(mutex_);
  return NewHandleLocked(entryName);
}

void CFakeRasApi::Notify(std::uint32_t state, std::uint32_t error) {
  std::lock_guard lock(mutex_);
  if (!lastSink_) return;
  queue_.push_back({lastSink_, lastHandle_, {state, error}});
  wake_.notify_all();
}

std::uint32_t CFakeRasApi::EnumConnections(std::uint32_t& bufferBytes, std::vector<RasConnection>& connections) {
  std::lock_guard lock(mutex_);
  ++record_.enumerations;
  record_.enumerationBuffers.push_back(bufferBytes);
  std::vector<RasConnection> active;
  for (const auto& [handle, conn] : connections_) {
    if (!conn.hungUp) active.push_back({handle, conn.entryName});
  }
  const std::uint32_t needed = static_cast<std::uint32_t>(active.size() * sizeof(ras::Connection));
  if (enumerationAlwaysTooSmall || bufferBytes < needed) {
    bufferBytes = enumerationAlwaysTooSmall ? bufferBytes + sizeof(ras::Connection) : needed;
    return kRasErrorBufferTooSmall;
  }
  connections = std::move(active);
  return 0;
}

std::uint32_t CFakeRasApi::HangUp(RasHandle connection) {
  std::lock_guard lock(mutex_);
  record_.hangUps.push_back(connection);
  auto it = connections_.find(connection);
  if (it == connections_.end() || it->second.hungUp) return kRasErrorInvalidHandle;
  it->second.hungUp = true;
  it->second.queriesLeft = statusQueriesBeforeGone;
  return 0;
}

std::uint32_t CFakeRasApi::GetConnectStatus(RasHandle connection) {
  std::lock_guard lock(mutex_);
  ++record_.statusQueries;
  auto it = connections_.find(connection);
  if (it == connections_.end()) return kRasErrorInvalidHandle;
  if (!it->second.hungUp || neverGone) return 0;
  if (it->second.queriesLeft > 0) {
    --it->second.queriesLeft;
    return 0;
  }
  return kRasErrorInvalidHandle;
}

std::uint32_t CFakeRasApi::SetEntryProperties(const std::wstring& entryName, const ras::Entry& entry) {
  std::lock_guard lock(mutex_);
  record_.entryNames.push_back(entryName);
  record_.entries.push_back(entry);
  return entryResult;
}

std::uint32_t CFakeRasApi::SetCredentials(const std::wstring&, const ras::Credentials& credentials) {
  std::lock_guard lock(mutex_);
  record_.credentials.push_back(credentials);
  return 0;
}

std::uint32_t CFakeRasApi::Dial(const ras::DialParams& params, IRasDialSink& sink, RasHandle& connection) {
  std::lock_guard lock(mutex_);
  record_.dials.push_back(params);
  if (dialResult) {
    connection = handleOnFailedDial ? NewHandleLocked(ras::ReadText(params.entryName)) : nullptr;
    return dialResult;
  }
  connection = NewHandleLocked(ras::ReadText(params.entryName));
  lastSink_ = sinks_.Register(sink);
  lastHandle_ = connection;
  for (const Step& step : dialScript) queue_.push_back({lastSink_, connection, step});
  wake_.notify_all();
  return 0;
}

void CFakeRasApi::ForgetSink(IRasDialSink& sink) {
  {
    std::lock_guard lock(mutex_);
    ++record_.forgets;
  }
  // Without our lock: a delivery running now may call back into us.
  sinks_.Forget(sink);
}

std::uint32_t CFakeRasApi::GetPppIpProjection(RasHandle connection, std::uint32_t recordBytes,
                                              std::uint32_t& reportedBytes, std::wstring& localIp) {
  std::lock_guard lock(mutex_);
  record_.projectionRecordBytes.push_back(recordBytes);
  auto it = connections_.find(connection);
  if (it == connections_.end() || it->second.hungUp) return kRasErrorInvalidHandle;
  if (projectionResult) return projectionResult;
  reportedBytes = projectionBytes;
  if (recordBytes < projectionBytes) return kRasErrorBufferTooSmall;
  localIp = projectionIp;
  return 0;
}

std::uint32_t CFakeRasApi::GetConnectionStatistics(RasHandle connection, ras::Statistics& statistics) {
  if (duringStatistics) duringStatistics();
  std::lock_guard lock(mutex_);
  record_.statisticsSizes.push_back(statistics.size);
  auto it = connections_.find(connection);
  if (it == connections_.end() || it->second.hungUp) return kRasErrorInvalidHandle;
  if (statisticsResult) return statisticsResult;
  if (statistics.size != sizeof(ras::Statistics)) return 632;  // the system's "invalid size"
  statistics.bytesSent = bytesSent;
  statistics.bytesReceived = bytesReceived;
  return 0;
}

std::wstring CFakeRasApi::GetErrorString(std::uint32_t error) {
  return L"[system text " + std::to_wstring(error) + L"]";
}

CFakeRasApi::Record CFakeRasApi::Seen() const {
  std::lock_guard lock(mutex_);
  return record_;
}

bool CFakeRasApi::IsActive(RasHandle connection) const {
  std::lock_guard lock(mutex_);
  auto it = connections_.find(connection);
  return it != connections_.end() && !it->second.hungUp;
}
