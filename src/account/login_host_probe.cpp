#include "account/login_host_probe.h"

#include "account/account_service.h"
#include "account/operator_hosts.h"
#include "account/reply_document.h"
#include "platform/file_io.h"

int& ProcessLoginHostListPosition() {
  static int position = -1;
  return position;
}

std::vector<std::wstring> NextLoginHostList(int& position, const std::wstring& rememberedHost,
                                            const std::wstring& overrideHosts) {
  const std::vector<std::wstring> overrideList = SplitLoginHostList(overrideHosts);
  for (int attempt = 0; attempt < 6; ++attempt) {
    position = (position + 1) % 6;
    if (position < 0) position += 6;
    std::vector<std::wstring> list;
    if (position == 0)
      list = SplitLoginHostList(rememberedHost);
    else if (!overrideList.empty())
      list = overrideList;
    else
      list = SplitLoginHostList(kBuiltInLoginHostLists[position - 1]);
    if (!list.empty()) return list;
  }
  return {};
}

CLoginHostProbe::CLoginHostProbe(IMessageTarget* target, ILoginHostProbeOwner* owner,
                                 LoginHostProbeSettings settings, int* listPosition, RandomSource random)
    : target_(target),
      owner_(owner),
      settings_(std::move(settings)),
      listPosition_(listPosition),
      random_(std::move(random)),
      webSiteUrl_(kBuiltInWebSiteUrl) {}

CLoginHostProbe::~CLoginHostProbe() { ReleaseProbes(); }

void CLoginHostProbe::ReleaseProbes() {
  // Ask every worker to stop first, so the waits overlap instead of adding up.
  for (CCurlPlus& probe : probes_) probe.Cancel();
  probes_.clear();
}

std::size_t CLoginHostProbe::StartLoginHostProbe() {
  ReleaseProbes();
  const std::wstring remembered = IniReadString(settings_.announcementsPath, L"Main", L"LastFastestHostUrl", L"");
  const std::wstring overrideHosts = IniReadString(settings_.overrideFilePath, L"Main", L"LoginHosts", L"");
  lastUrls_ = NextLoginHostList(*listPosition_, remembered, overrideHosts);
  finished_ = 0;
  for (const std::wstring& url : lastUrls_) {
    CCurlPlus probe = BuildProbeRequest(url, random_, settings_.limits);
    probe.SetNotify(target_, kLoginHostProbeMessage);
    // One that cannot start would never report its end and would hold the
    // race open for good; leave it out.
    if (probe.Start()) probes_.push_back(std::move(probe));
  }
  if (probes_.empty() && !lastUrls_.empty() && !hasWinner_ && owner_)
    owner_->RequestProbeTimer(kLoginHostProbeTimerId, kLoginHostProbeRetryMs);
  return probes_.size();
}

bool CLoginHostProbe::OnLoginHostProbeEvent(std::uintptr_t wParam, std::intptr_t lParam) {
  if (wParam != kCurlEventEnded) return false;
  CCurlPlus* probe = nullptr;
  for (CCurlPlus& p : probes_)
    if (p.EventId() == lParam) probe = &p;
  if (!probe) return false;

  bool won = false;
  if (!hasWinner_ && probe->ResponseCode() == 200 && probe->ReceivedCount() != 0) {
    const std::string body = probe->TakeReceived();
    if (HasReplyMarker(body.data(), body.size())) {
      loginBaseUrl_ = BaseUrlOf(probe->Url());
      webSiteUrl_ = DeriveWebSiteUrl(loginBaseUrl_);
      AtomicWriteFile(settings_.announcementsPath, body);
      IniWriteString(settings_.announcementsPath, L"Main", L"LastFastestHostUrl", loginBaseUrl_);
      hasWinner_ = true;
      won = true;
      if (owner_) owner_->OnLoginHostWon(settings_.announcementsPath);
    }
  }
  if (++finished_ >= probes_.size()) {
    probes_.clear();
    if (!hasWinner_ && owner_) owner_->RequestProbeTimer(kLoginHostProbeTimerId, kLoginHostProbeRetryMs);
  }
  return won;
}

void CLoginHostProbe::OnRetryTimer() {
  if (!hasWinner_) StartLoginHostProbe();
}
