// The client's version check against every account-service reply, and the
// download, verification and start of an update: the installer, or a
// portable copy that replaces the running executable through "/update".
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "account/curl_plus.h"
#include "app/message_box.h"
#include "app/module_version.h"
#include "app/update_start.h"
#include "platform/message_target.h"
#include "platform/tick.h"

enum class UpdateKind { Installer, Portable };

// "%u.%u.%u.%u" as one 64-bit value, 16 bits per part (each part taken
// modulo 65536, as the packing does); nothing unless four numbers are read.
std::optional<std::uint64_t> ParseRequiredVersion(std::wstring_view text);
bool NeedsUpdate(std::uint64_t own, std::uint64_t required, std::wstring_view forceTest);
UpdateKind ChooseUpdateKind(std::wstring_view forceTest, bool bindModuleBeside);

// 512 -> "512 B", 1536 -> "1.50 KB", 1024 -> "1024 B".
std::wstring FormatByteSize(double value);
// 32 lower-case hex digits; empty when the file cannot be opened.
std::string Md5OfFile(const std::wstring& path);
// Only web addresses come from the service into a download or a browser.
bool IsWebAddress(std::wstring_view url);
// " /update \"<module path>\"".
std::wstring PortableUpdateArguments(const std::wstring& modulePath);

struct UpdateDownloadOutcome {
  bool ok = false;  // the transfer ended and the file is closed
  bool cancelledByUser = false;
  // Set when the transfer ended without the whole body: its file is gone.
  TransferFailure failure = TransferFailure::None;
};

// The text key that names a failed transfer's cause to the user; nullptr for
// causes that have no text of their own.
const char* TransferFailureTextKey(TransferFailure failure);

// What the update flow needs of the window that runs it.
class IUpdateHost {
 public:
  virtual void ShowMessage(const std::wstring& text, BoxIcon icon) = 0;
  // Runs the download dialog modally (a CUpdateDownloadRun behind it).
  virtual UpdateDownloadOutcome RunUpdateDownload(const std::wstring& url, const std::wstring& localPath) = 0;
  // Checks the downloaded program (our publisher's signature, a version
  // newer than the running client) and starts exactly the bytes it checked
  // (StartVerifiedProgram); nothing may be shown between the two.
  virtual UpdateStartResult StartUpdate(const std::wstring& path, const std::wstring& arguments) = 0;
  virtual void OpenUrl(const std::wstring& url) = 0;
  // Ends the program (the connect flow's ExitClient). Called from inside
  // the flow: a window should post its own end rather than destroy itself
  // under the caller; the flow does nothing more after it.
  virtual void ExitClient() = 0;

 protected:
  ~IUpdateHost() = default;
};

struct UpdatePlaces {
  std::wstring modulePath;
  std::wstring moduleFolder;  // with its trailing separator
  std::wstring installerDownloadPath;
  std::wstring clientDownloadPath;
  std::wstring overridePath;
};

constexpr int kVersionCheckOk = 0;
constexpr int kVersionCheckUnreadable = 1;
constexpr int kVersionCheckUpdating = 2;

// `webSiteUrl` is the main window's, replaced by the reply's
// OfficalWebSiteUrl when that is a web address.
int CheckClientVersion(IUpdateHost& host, IModuleVersion& version, const UpdatePlaces& places,
                       const std::wstring& replyPath, std::wstring& webSiteUrl);
void DownloadAndRunUpdate(IUpdateHost& host, const UpdatePlaces& places, const std::wstring& replyPath,
                          bool installer);
void ShowUpdateFailure(IUpdateHost& host, const std::wstring& text, BoxIcon icon, const std::wstring& updatePage);

// The download dialog's controls, as the run sees them.
class IUpdateDownloadView {
 public:
  // true: the progress bar shows and the busy bar hides; false the reverse.
  virtual void ShowProgressBar(bool known) = 0;
  virtual void SetProgress(int percent) = 0;
  virtual void SetStatusText(const std::wstring& text) = 0;
  virtual void ShowMessage(const std::wstring& text, BoxIcon icon) = 0;

 protected:
  ~IUpdateDownloadView() = default;
};

// The download dialog's algorithm: the file, the request, the speed text.
class CUpdateDownloadRun {
 public:
  static constexpr std::uint32_t kMessage = kWmUser + 1;
  CUpdateDownloadRun(IMessageTarget* target, IUpdateDownloadView& view, std::wstring url, std::wstring localPath,
                     CurlPlusLimits limits = CurlPlusLimits());
  ~CUpdateDownloadRun();
  CUpdateDownloadRun(const CUpdateDownloadRun&) = delete;
  CUpdateDownloadRun& operator=(const CUpdateDownloadRun&) = delete;

  // Opens the file and starts the request. False: the failure was shown and
  // the dialog idles until the user cancels.
  bool Open(Tick now);
  // For kMessage; true when the run has ended with OK.
  bool OnTransferEvent(std::uintptr_t wParam, std::intptr_t lParam, Tick now);
  // Cancel after the user said OK to the question, or Enter: a user's cancel.
  void CancelByUser();
  // Any ending: stops the request and closes the file.
  void Release();

  bool Ended() const { return ended_; }
  bool CancelledByUser() const { return cancelledByUser_; }
  TransferFailure Failure() const { return failure_; }

  // The speed step, kept apart so it can be checked with made-up numbers.
  struct SpeedClock {
    Tick lastTick = 0;
    std::uint64_t lastBytes = 0;
  };
  // The status text, or nothing when it is not time for one yet; advances
  // the clock when it gives one.
  static std::optional<std::wstring> SpeedStatus(SpeedClock& clock, std::uint64_t received, double total, Tick now);

 private:
  IMessageTarget* target_;
  IUpdateDownloadView& view_;
  std::wstring url_;
  std::wstring path_;
  CurlPlusLimits limits_;
  std::FILE* file_ = nullptr;
  CCurlPlus request_;
  SpeedClock clock_;
  bool ended_ = false;
  bool cancelledByUser_ = false;
  TransferFailure failure_ = TransferFailure::None;
};
