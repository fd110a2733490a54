// The login progress dialog's algorithm: the transfers it runs side by
// side, the first acceptable reply wins and goes to the sink, the others
// are released. The dialog (or a terminal or test view) only pumps the
// transfer events into it and shows the outcome.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "account/curl_plus.h"
#include "platform/message_target.h"

class CDownloadRun {
 public:
  static constexpr std::uint32_t kMessage = kWmUser + 1;
  enum class State { Running, Accepted, Failed };
  // Writes the winning body; false when it could not be stored, which makes
  // the reply count as not received.
  using Sink = std::function<bool(const std::string& body)>;

  explicit CDownloadRun(IMessageTarget* target) : target_(target) {}
  ~CDownloadRun() { ReleaseAll(); }
  CDownloadRun(const CDownloadRun&) = delete;
  CDownloadRun& operator=(const CDownloadRun&) = delete;

  void AddRequest(CCurlPlus request) { requests_.push_back(std::move(request)); }
  void SetSink(Sink sink) { sink_ = std::move(sink); }
  // Set when the run is made; the route command clears it.
  void SetCheckMarker(bool check) { checkMarker_ = check; }

  struct StartReport {
    bool noRequest = false;  // show NoLoginHost; the run waits for Cancel
    int notStarted = 0;      // show CannotStartInternetConnection once
  };
  StartReport Start();
  // For kMessage. Events of released transfers are ignored.
  void OnTransferEvent(std::uintptr_t wParam, std::intptr_t lParam);
  // Cancel or Enter in the dialog.
  void CancelByUser();

  State GetState() const { return state_; }
  bool UserCancelled() const { return userCancelled_; }
  // Some transfer of the run was refused for its peer's certificate.
  bool CertificateRefused() const { return certificateRefused_; }
  int Winner() const { return winner_; }

 private:
  void ReleaseAll();

  IMessageTarget* target_;
  std::vector<CCurlPlus> requests_;
  Sink sink_;
  bool checkMarker_ = true;
  int winner_ = -1;
  int ended_ = 0;
  bool userCancelled_ = false;
  bool certificateRefused_ = false;
  State state_ = State::Running;
};
