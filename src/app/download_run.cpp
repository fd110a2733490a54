#include "app/download_run.h"

#include "account/reply_document.h"

CDownloadRun::StartReport CDownloadRun::Start() {
  StartReport report;
  winner_ = -1;
  if (requests_.empty()) {
    report.noRequest = true;
    return report;
  }
  for (CCurlPlus& request : requests_) {
    request.SetNotify(target_, kMessage);
    if (!request.Start()) {
      // It will never report; count it as ended so the run cannot wait forever.
      ++report.notStarted;
      ++ended_;
    }
  }
  if (ended_ == static_cast<int>(requests_.size())) {
    ReleaseAll();
    state_ = State::Failed;
  }
  return report;
}

void CDownloadRun::OnTransferEvent(std::uintptr_t wParam, std::intptr_t lParam) {
  if (state_ != State::Running || wParam != kCurlEventEnded) return;
  int index = -1;
  for (std::size_t i = 0; i < requests_.size(); ++i)
    if (requests_[i] && requests_[i].EventId() == lParam) index = static_cast<int>(i);
  if (index < 0) return;
  CCurlPlus& request = requests_[static_cast<std::size_t>(index)];
  if (winner_ == -1 && request.ResponseCode() == 200) {
    const std::string body = request.TakeReceived();
    const bool acceptable = !checkMarker_ || (!body.empty() && HasReplyMarker(body.data(), body.size()));
    if (acceptable && (!sink_ || sink_(body))) winner_ = index;
  }
  if (request.CertificateRefused()) certificateRefused_ = true;
  if (winner_ != -1) {
    ReleaseAll();
    state_ = State::Accepted;
    return;
  }
  request = CCurlPlus();
  if (++ended_ >= static_cast<int>(requests_.size())) {
    ReleaseAll();
    state_ = State::Failed;
  }
}

void CDownloadRun::CancelByUser() {
  if (state_ != State::Running) return;
  userCancelled_ = true;
  ReleaseAll();
  state_ = State::Failed;
}

void CDownloadRun::ReleaseAll() {
  for (CCurlPlus& request : requests_) {
    if (request) request.Cancel();
    request = CCurlPlus();
  }
}
