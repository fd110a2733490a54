// An in-memory dial-up service. Like the real one it reports a dial's
// progress on its own thread, asks for a bigger buffer (603) when the
// connections do not fit, and answers 6 for a connection once it is gone.
// Failures are scripted through the public knobs. Safe from several threads.
#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "vpn/ras_api.h"
#include "vpn/ras_sinks.h"

class CFakeRasApi : public IRasApi {
 public:
  using Step = std::pair<std::uint32_t, std::uint32_t>;  // connection state, error number

  CFakeRasApi();
  ~CFakeRasApi() override;

  std::uint32_t EnumConnections(std::uint32_t& bufferBytes, std::vector<RasConnection>& connections) override;
  std::uint32_t HangUp(RasHandle connection) override;
  std::uint32_t GetConnectStatus(RasHandle connection) override;
  std::uint32_t SetEntryProperties(const std::wstring& entryName, const ras::Entry& entry) override;
  std::uint32_t SetCredentials(const std::wstring& entryName, const ras::Credentials& credentials) override;
  std::uint32_t Dial(const ras::DialParams& params, IRasDialSink& sink, RasHandle& connection) override;
  void ForgetSink(IRasDialSink& sink) override;
  std::uint32_t GetPppIpProjection(RasHandle connection, std::uint32_t recordBytes, std::uint32_t& reportedBytes,
                                   std::wstring& localIp) override;
  std::uint32_t GetConnectionStatistics(RasHandle connection, ras::Statistics& statistics) override;
  std::wstring GetErrorString(std::uint32_t error) override;

  // A connection made before the test, under `entryName`.
  RasHandle AddConnection(const std::wstring& entryName);
  // Queues one more notification for the last dial, as the service would
  // send it later (a drop, for instance).
  void Notify(std::uint32_t state, std::uint32_t error);
  // Returns once every queued notification has been handled.
  void WaitIdle();
  // While held, notifications queue up instead of being delivered.
  void Hold(bool hold);

  // Knobs, set before use.
  std::vector<Step> dialScript = {{0, 0}, {kRasStateConnectDevice, 0}, {kRasStateAuthenticate, 0},
                                  {kRasStateAuthenticated, 0}, {kRasStateConnected, 0}};
  std::uint32_t entryResult = 0;
  std::uint32_t dialResult = 0;
  bool handleOnFailedDial = false;
  std::uint32_t projectionResult = 0;    // an error for every projection read
  std::uint32_t projectionBytes = 80;    // what the service asks for
  std::wstring projectionIp = L"10.8.0.6";
  std::uint32_t statisticsResult = 0;
  std::uint32_t bytesSent = 0, bytesReceived = 0;
  // Runs inside GetConnectionStatistics, as a notification on the
  // service's thread may.
  std::function<void()> duringStatistics;
  bool enumerationAlwaysTooSmall = false;
  int statusQueriesBeforeGone = 0;  // after a hang-up
  bool neverGone = false;

  // What the service was told.
  struct Record {
    int enumerations = 0;
    std::vector<std::uint32_t> enumerationBuffers;
    std::vector<RasHandle> hangUps;
    int statusQueries = 0;
    std::vector<ras::Entry> entries;
    std::vector<std::wstring> entryNames;
    std::vector<ras::Credentials> credentials;
    std::vector<ras::DialParams> dials;
    std::vector<std::uint32_t> projectionRecordBytes;
    std::vector<std::uint32_t> statisticsSizes;
    int forgets = 0;
    int undelivered = 0;  // notifications whose sink had been forgotten
  };
  Record Seen() const;
  // Whether the connection is up (dialled or added and not hung up).
  bool IsActive(RasHandle connection) const;

 private:
  struct Conn {
    std::wstring entryName;
    bool hungUp = false;
    int queriesLeft = 0;
  };
  struct Event {
    std::uintptr_t sink;
    RasHandle handle;
    Step step;
  };
  void DeliverLoop();
  RasHandle NewHandleLocked(const std::wstring& entryName);

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<Event> queue_;
  bool delivering_ = false;
  bool held_ = false;
  bool quit_ = false;
  std::map<RasHandle, Conn> connections_;
  std::uintptr_t nextHandle_ = 0x100;
  CRasSinkRegistry sinks_;
  std::uintptr_t lastSink_ = 0;
  RasHandle lastHandle_ = nullptr;
  Record record_;
  std::thread thread_;
};
