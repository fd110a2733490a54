#include "app/online_update.h"

#include <openssl/evp.h>

#include <cmath>
#include <cstdio>
#include <cwctype>
#include <memory>

#include "account/operator_hosts.h"
#include "account/reply_document.h"
#include "platform/file_io.h"
#include "platform/strings.h"
#include "platform/text_parse.h"
#include "text/text_table.h"

namespace {

constexpr wchar_t kVpn[] = L"VPN";
constexpr wchar_t kBindModuleFile[] = L"QuillnetBind.dll";

std::FILE* OpenFile(const std::wstring& path, const char* mode) {
#ifdef _WIN32
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(path.c_str(), wideMode.c_str());
#else
  return std::fopen(WideToNarrow(path).c_str(), mode);
#endif
}

std::wstring Trim(std::wstring_view text) { return std::wstring(TrimAsciiSpace(text)); }

// One "%u": optional white space, an optional sign, decimal digits; the
// value wraps like the C conversion does.
bool ReadUnsigned(std::wstring_view text, std::size_t& at, std::uint32_t& value) {
  // The magnitude saturates like strtoul; a minus sign then wraps it.
  const IntRead read = ReadInt(text.substr(at), 10, -0xFFFFFFFFll, 0xFFFFFFFFll);
  if (read.used == 0) return false;
  at += read.used;
  value = static_cast<std::uint32_t>(read.value);
  return true;
}

}  // namespace

std::optional<std::uint64_t> ParseRequiredVersion(std::wstring_view text) {
  std::uint32_t parts[4];
  std::size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (at >= text.size() || text[at] != L'.') return std::nullopt;
      ++at;
    }
    if (!ReadUnsigned(text, at, parts[i])) return std::nullopt;
  }
  std::uint64_t value = 0;
  for (std::uint32_t p : parts) value = value * 65536 + p;
  return value;
}

bool NeedsUpdate(std::uint64_t own, std::uint64_t required, std::wstring_view forceTest) {
  return own < required || !forceTest.empty();
}

UpdateKind ChooseUpdateKind(std::wstring_view forceTest, bool bindModuleBeside) {
  if (forceTest == L"green") return UpdateKind::Portable;
  if (forceTest == L"setup") return UpdateKind::Installer;
  return bindModuleBeside ? UpdateKind::Installer : UpdateKind::Portable;
}

std::wstring FormatByteSize(double value) {
  static const wchar_t* const kUnits[] = {L"B", L"KB", L"MB", L"GB"};
  int unit = 0;
  while (value > 1024 && unit < 3) {
    value /= 1024;
    ++unit;
  }
  wchar_t buffer[64];
  const double whole = std::floor(value);
  if (value - whole < 0.01)
    std::swprintf(buffer, 64, L"%u %ls", static_cast<unsigned>(whole), kUnits[unit]);
  else
    std::swprintf(buffer, 64, L"%.2f %ls", value, kUnits[unit]);
  return buffer;
}

std::string Md5OfFile(const std::wstring& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(OpenFile(path, "rb"), &std::fclose);
  if (!file) return {};
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) return {};
  unsigned char block[4096];
  std::size_t n = 0;
  while ((n = std::fread(block, 1, sizeof block, file.get())) > 0)
    if (EVP_DigestUpdate(ctx.get(), block, n) != 1) return {};
  if (std::ferror(file.get())) return {};
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return {};
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < length; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 15];
  }
  return out;
}

bool IsWebAddress(std::wstring_view url) {
  const auto startsNoCase = [&](std::wstring_view prefix) {
    return url.size() > prefix.size() && EqualsNoCaseAscii(url.substr(0, prefix.size()), prefix);
  };
  if (!startsNoCase(L"http://") && !startsNoCase(L"https://")) return false;
  // Control characters and quotes never belong in an address we hand on.
  for (wchar_t c : url)
    if (c < 0x20 || c == 0x7F || c == L'"') return false;
  return true;
}

std::wstring PortableUpdateArguments(const std::wstring& modulePath) {
  return L" /update \"" + modulePath + L"\"";
}

const char* TransferFailureTextKey(TransferFailure failure) {
  switch (failure) {
    case TransferFailure::Certificate:
      return "ServerCertificateRefused";
    case TransferFailure::Stalled:
      return "TransferStalled";
    default:
      return nullptr;
  }
}

void ShowUpdateFailure(IUpdateHost& host, const std::wstring& text, BoxIcon icon, const std::wstring& updatePage) {
  host.ShowMessage(text + L"\n\n" + GetText("OnlineUpdateFailureTip"), icon);
  if (IsWebAddress(updatePage)) host.OpenUrl(updatePage);
}

int CheckClientVersion(IUpdateHost& host, IModuleVersion& version, const UpdatePlaces& places,
                       const std::wstring& replyPath, std::wstring& webSiteUrl) {
  const std::wstring site = IniReadString(replyPath, kVpn, L"OfficalWebSiteUrl", webSiteUrl);
  if (IsWebAddress(site)) webSiteUrl = site;
  const std::wstring requiredText = IniReadString(replyPath, kVpn, L"RequiredClientVersion", L"");
  version.LoadVersion(nullptr);
  const std::optional<std::uint64_t> required = ParseRequiredVersion(requiredText);
  if (!required) return kVersionCheckUnreadable;
  const std::wstring force = IniReadString(places.overridePath, L"Main", L"ForceOnlineUpdateTest", L"");
  if (!NeedsUpdate(version.FileVersion(), *required, force)) return kVersionCheckOk;

  host.ShowMessage(GetText("ClientNeedUpdate"), BoxIcon::Information);
  const UpdateKind kind = ChooseUpdateKind(force, FileExists(places.moduleFolder + kBindModuleFile));
  DownloadAndRunUpdate(host, places, replyPath, kind == UpdateKind::Installer);
  host.ExitClient();
  return kVersionCheckUpdating;
}

void DownloadAndRunUpdate(IUpdateHost& host, const UpdatePlaces& places, const std::wstring& replyPath,
                          bool installer) {
  const std::wstring key = installer ? L"DownloadSetup" : L"DownloadGreen";
  const std::wstring updatePage = IniReadString(replyPath, kVpn, L"UpdateURL", L"");
  const std::wstring url = IniReadString(replyPath, kVpn, key, L"");
  // An address that is not a web address is treated as none: the service's
  // text never reaches the transfer as a file or other scheme.
  if (!IsWebAddress(url)) {
    ShowUpdateFailure(host, GetText("CanNotFindDownloadURL_Tip"), BoxIcon::Warning, updatePage);
    return;
  }
  const std::wstring& localPath = installer ? places.installerDownloadPath : places.clientDownloadPath;
  const UpdateDownloadOutcome outcome = host.RunUpdateDownload(url, localPath);
  if (!outcome.ok) {
    if (outcome.cancelledByUser)
      ShowUpdateFailure(host, GetText("UpdateCancelledByUser_Tip"), BoxIcon::Information, updatePage);
    else
      ShowUpdateFailure(host, GetText("DownloadUpdateFileFailed_Tip"), BoxIcon::Warning, updatePage);
    return;
  }
  // A transfer that broke off shows the digest failure, as a short file
  // always has, with the cause where it has a name.
  if (const char* cause = TransferFailureTextKey(outcome.failure)) {
    ShowUpdateFailure(host, GetText("CanNotDownloadFileCorrectly_Tip") + L" (" + GetText(cause) + L")",
                      BoxIcon::Warning, updatePage);
    return;
  }
  const std::string digest = Md5OfFile(localPath);
  const std::wstring expected = Trim(IniReadString(replyPath, kVpn, key + L"MD5", L""));
  if (digest.empty() || NarrowToWide(digest) != expected) {
    ShowUpdateFailure(host, GetText("CanNotDownloadFileCorrectly_Tip"), BoxIcon::Warning, updatePage);
    return;
  }
  // The digest only says the transfer was whole: it comes from the same
  // reply as the address. What runs is decided by the signature, checked
  // after this box on the file as it is started.
  host.ShowMessage(GetText("DownloadUpdateCompletedReadyToExecuteUpdateFile"), BoxIcon::Information);
  const std::wstring arguments = installer ? std::wstring() : PortableUpdateArguments(places.modulePath);
  const UpdateStartResult started = host.StartUpdate(localPath, arguments);
  if (started.outcome == UpdateStartResult::Outcome::Refused) {
    RemoveFile(localPath);
    const std::wstring reason =
        started.verdict.signature == SignatureCheck::Ok ? std::wstring(L"not newer than this version")
                                                        : NarrowToWide(SignatureCheckText(started.verdict.signature));
    ShowUpdateFailure(host, GetText("UpdateFileNotGenuine_Tip") + L" (" + reason + L")", BoxIcon::Warning,
                      updatePage);
  } else if (started.outcome != UpdateStartResult::Outcome::Started) {
    ShowUpdateFailure(host, GetText("CanNotExecuteUpdateFile_Tip"), BoxIcon::Warning, updatePage);
  }
}

CUpdateDownloadRun::CUpdateDownloadRun(IMessageTarget* target, IUpdateDownloadView& view, std::wstring url,
                                       std::wstring localPath, CurlPlusLimits limits)
    : target_(target), view_(view), url_(std::move(url)), path_(std::move(localPath)), limits_(limits) {}

CUpdateDownloadRun::~CUpdateDownloadRun() { Release(); }

bool CUpdateDownloadRun::Open(Tick now) {
  view_.ShowProgressBar(false);
  view_.SetStatusText(GetText("ConnectingToOnlineUpdateServer"));
  file_ = OpenFile(path_, "wb");
  if (!file_) {
    view_.ShowMessage(L"Can not write file: " + path_, BoxIcon::None);
    return false;
  }
  request_ = CCurlPlus(url_, limits_);
  request_.SetOutputFile(file_);
  request_.SetNotify(target_, kMessage);
  if (!request_.Start()) {
    request_ = CCurlPlus();
    view_.ShowMessage(GetText("CannotStartInternetConnection"), BoxIcon::None);
    return false;
  }
  clock_ = SpeedClock{now, 0};
  return true;
}

std::optional<std::wstring> CUpdateDownloadRun::SpeedStatus(SpeedClock& clock, std::uint64_t received, double total,
                                                            Tick now) {
  if (received == 0 || !(total > 0)) return std::nullopt;
  const std::uint32_t elapsed = TickElapsed(now, clock.lastTick);
  if (elapsed < 1000) return std::nullopt;
  const double speed = static_cast<double>(received - clock.lastBytes) / (elapsed / 1000.0);
  clock.lastTick = now;
  clock.lastBytes = received;
  return GetText("DownloadingUpdateFileSpeed") + FormatByteSize(speed) + L"/s";
}

bool CUpdateDownloadRun::OnTransferEvent(std::uintptr_t wParam, std::intptr_t lParam, Tick now) {
  if (!request_ || lParam != request_.EventId() || ended_) return false;
  const double total = request_.ContentLength();
  if (wParam == kCurlEventStatusOk) {
    view_.ShowProgressBar(total != -1);
    return false;
  }
  if (wParam != kCurlEventProgress && wParam != kCurlEventEnded) return false;
  const std::uint64_t received = request_.ReceivedCount();
  if (auto status = SpeedStatus(clock_, received, total, now)) {
    view_.SetStatusText(*status);
    view_.SetProgress(static_cast<int>(static_cast<double>(received) * 100 / total));
  }
  if (wParam != kCurlEventEnded) return false;
  // The transfer thread has finished writing; only now may the file close.
  failure_ = request_.Failure();
  if (failure_ == TransferFailure::None && request_.ResponseCode() != 200) failure_ = TransferFailure::Other;
  request_ = CCurlPlus();
  if (file_) std::fclose(file_);
  file_ = nullptr;
  // A part of a program is of no use to anyone: it never stays behind.
  if (failure_ != TransferFailure::None) RemoveFile(path_);
  ended_ = true;
  return true;
}

void CUpdateDownloadRun::CancelByUser() {
  cancelledByUser_ = true;
  Release();
}

void CUpdateDownloadRun::Release() {
  if (request_) request_.Cancel();
  request_ = CCurlPlus();  // the last handle waits for the worker
  if (file_) std::fclose(file_);
  file_ = nullptr;
}
