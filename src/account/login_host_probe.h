// The login host race: one probe transfer per base URL of a host list, the
// first valid reply wins the login host for the rest of the run. The main
// window owns one, forwards its probe messages and its retry timer to it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "account/curl_plus.h"
#include "account/request_random.h"
#include "platform/message_target.h"

constexpr std::uint32_t kLoginHostProbeMessage = kWmUser + 3;
constexpr std::uint32_t kLoginHostProbeTimerId = 2;
constexpr std::uint32_t kLoginHostProbeRetryMs = 5000;

// What the probe needs from the window that owns it.
class ILoginHostProbeOwner {
 public:
  virtual ~ILoginHostProbeOwner() = default;
  // A one-shot timer; on expiry the owner kills it and calls OnRetryTimer.
  virtual void RequestProbeTimer(std::uint32_t timerId, std::uint32_t delayMs) = 0;
  // A probe won: the announcements document now holds its reply.
  virtual void OnLoginHostWon(const std::wstring& announcementsPath) = 0;
};

struct LoginHostProbeSettings {
  std::wstring overrideFilePath;   // the local override file (may be missing)
  std::wstring announcementsPath;  // the cached announcements document
  CurlPlusLimits limits;
};

// Which source the next probe uses: 0 the remembered host, 1 to 5 the
// built-in lists. Lives for the process and is never reset.
int& ProcessLoginHostListPosition();

// Advances `position` over up to six sources and returns the first that
// yields a URL, or nothing after six empty sources. An override list that
// yields no usable URL counts as absent, so the built-in lists still serve.
std::vector<std::wstring> NextLoginHostList(int& position, const std::wstring& rememberedHost,
                                            const std::wstring& overrideHosts);

class CLoginHostProbe {
 public:
  CLoginHostProbe(IMessageTarget* target, ILoginHostProbeOwner* owner, LoginHostProbeSettings settings,
                  int* listPosition = &ProcessLoginHostListPosition(), RandomSource random = NextRequestRandom);
  ~CLoginHostProbe();
  CLoginHostProbe(const CLoginHostProbe&) = delete;
  CLoginHostProbe& operator=(const CLoginHostProbe&) = delete;

  // Starts one transfer per URL of the next host list; returns how many.
  std::size_t StartLoginHostProbe();
  // For messages kLoginHostProbeMessage; events of transfers we no longer
  // hold are ignored. Returns true when this event made a winner.
  bool OnLoginHostProbeEvent(std::uintptr_t wParam, std::intptr_t lParam);
  void OnRetryTimer();

  bool HasWinner() const { return hasWinner_; }
  const std::wstring& LoginBaseUrl() const { return loginBaseUrl_; }
  // The login flow's switch to HTTPS replaces the base for the rest of the run.
  void SetLoginBaseUrl(std::wstring url) { loginBaseUrl_ = std::move(url); }
  const std::wstring& WebSiteUrl() const { return webSiteUrl_; }
  void SetWebSiteUrl(std::wstring url) { webSiteUrl_ = std::move(url); }
  std::size_t RunningProbes() const { return probes_.size(); }
  const std::vector<std::wstring>& LastProbedUrls() const { return lastUrls_; }

 private:
  void ReleaseProbes();

  IMessageTarget* target_;
  ILoginHostProbeOwner* owner_;
  LoginHostProbeSettings settings_;
  int* listPosition_;
  RandomSource random_;
  std::vector<CCurlPlus> probes_;
  std::vector<std::wstring> lastUrls_;
  std::size_t finished_ = 0;
  bool hasWinner_ = false;
  std::wstring loginBaseUrl_;
  std::wstring webSiteUrl_;
};
