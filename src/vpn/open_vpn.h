// A VPN connection made by running openvpn as a hidden child: the command
// line comes from the chosen server's record, the credential prompts are
// answered on its input, and its log drives the connection's states.
#pragma once
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "vpn/console_redirector.h"
#include "vpn/general_vpn.h"

enum OpenVpnError : std::int32_t {
  OPEN_VPN_ERROR_EXEC = 9,
  OPEN_VPN_ERROR_NO_ADAPTER = 10,
  OPEN_VPN_ERROR_TLS_ERROR = 11,
  // The server record asked for something openvpn must not be given; the
  // error text names it.
  OPEN_VPN_ERROR_REFUSED_SETTING = 12,
};

// How long Stop lets openvpn take to exit after asking it to. On its way
// out openvpn deletes the routes it added itself (the default-gateway pair
// and every pushed route), one system call or route.exe run each; on a busy
// system a push of some hundred routes takes seconds, and an openvpn cut off
// halfway leaves the rest in the table. Ten seconds covers that while
// Disconnect still ends in bounded time.
constexpr unsigned kOpenVpnExitWaitMs = 10000;
constexpr unsigned kOpenVpnExitPollMs = 100;

#ifdef _WIN32
constexpr wchar_t kSystemOpenVpnProgram[] = L"";
#else
// Never looked up on the search path: the client runs with the right to
// change the network.
constexpr wchar_t kSystemOpenVpnProgram[] = L"/usr/sbin/openvpn";
#endif

constexpr wchar_t kOpenVpnExitEvent[] = L"OPENVPN_EXIT_{05F607A4-6E2F-42e8-AFE0-7F56211E6B88}";

// The server record's "protocol,port,extra options" text, already turned
// into command-line pieces.
struct OpenVpnParams {
  std::wstring protocolPiece;  // " tcp-client", " udp" or empty
  std::wstring port;
  std::wstring extraOptions;
};
OpenVpnParams SplitOpenVpnParams(std::wstring_view text);

// What the server's push message tells the client.
// A field the message did not carry stays unset.
struct OpenVpnPush {
  std::optional<std::wstring> localIp;
  std::optional<std::wstring> gateway;
  std::vector<std::wstring> dns;
};
// The text between "PUSH: Received control message: " and the next line
// feed, when both are in the buffer.
std::optional<std::string> ExtractPushMessage(std::string_view buffer);
OpenVpnPush ParsePushMessage(std::string_view message);

// Everything the command line is made of.
struct OpenVpnCommand {
  std::wstring openVpnDirectory;  // ends with the path separator
  std::wstring serverHost;
  std::wstring openVpnParams;
  std::int32_t routeMode = RouteModeNone;
  std::int32_t proxyType = 0;
  std::wstring proxyServer;
  std::int32_t proxyPort = 0;
  // Where the system keeps openvpn, used when none ships beside the client
  // (Linux only; Windows always runs the shipped one).
  std::wstring systemProgram = kSystemOpenVpnProgram;
};
std::wstring BuildOpenVpnCommandLine(const OpenVpnCommand& command);
// Empty when the command's server, port, proxy and extra options may reach
// openvpn; otherwise what was refused, for the user.
std::wstring RefusedOpenVpnSetting(const OpenVpnCommand& command);

// openvpn at verbosity 5 prints one letter per packet (w, W written; r, R
// read) between its log lines, and a run of them can run straight into the
// next line's time stamp. Only such runs count: letters in log words do not.
// Fed the output piece by piece, it counts the same wherever the pieces
// are cut. The newest letter of a run is only settled by the next byte (it
// may begin a word, a Windows time stamp's "Wed"); until then it is Pending.
struct TrafficLetters {
  std::uint32_t sent = 0;
  std::uint32_t received = 0;
};
class CTrafficLetterCounter {
 public:
  // The letters of `text` that are settled now, the held one of an earlier
  // piece included when `text` settles it.
  TrafficLetters Count(std::string_view text);
  // The held letter, 0 or 1 in one of the fields.
  TrafficLetters Pending() const;
  // The next byte follows a completion message in the middle of its line;
  // a held letter is settled as traffic.
  TrafficLetters ResumeMidLine();

 private:
  bool lineStart_ = true;
  bool inRun_ = false;
  char held_ = 0;  // the run's newest letter, until the next byte tells
};

// What an openvpn that had to be ended left on its tunnel's interface: the
// rows someone added there (network management) that our journal does not
// own. The interface's own rows stay, and ours are the journal's to delete.
std::vector<ForwardRow> LeftoverTunnelRows(const std::vector<ForwardRow>& rows, std::uint32_t tunnelIfIndex,
                                           IForwardTable& table);

class COpenVpn : public CGeneralVpn, public CConsoleRedirector {
 public:
  // `clock` times the wait for openvpn's exit; it outlives the object.
  explicit COpenVpn(IForwardTable& forwardTable = ProductForwardTable(),
                    std::unique_ptr<CVpnRouteRequestBaseServer> routeRequestServer = nullptr,
                    IClock& clock = SystemClock());
  ~COpenVpn() override;

  std::int32_t Start() override;
  std::int32_t Stop() override;
  std::int32_t GetStatistics(std::uint32_t& sent, std::uint32_t& received) override;
  std::wstring GetErrorDetailText(std::int32_t detail) override;
  std::wstring GetErrorText(std::int32_t errorCode) override;

  // The chosen server record's openVpn text, set by the owner before Start.
  std::wstring openVpnParams;
  // Where openvpn and ca.crt live; the TAP check fixes it for the process,
  // tests point it elsewhere.
  std::wstring openVpnDirectory;
  std::wstring systemOpenVpnProgram = kSystemOpenVpnProgram;

 protected:
  void OnOutput(const char* bytes, std::size_t count) override;
  void OnChildExit() override;
  // Writes a prompt's answer to openvpn's input (which empties the buffer).
  virtual void AnswerPrompt(const std::wstring& answer) { WriteInput(answer); }

 private:
  void ParseOpenVpnOutput();
  void HandlePush(std::string_view message);

  void AddTraffic(const TrafficLetters& settled);
  // The interface holding the VPN's address; 0 when none does.
  std::uint32_t TunnelInterface();
  void RemoveLeftoverTunnelRows(std::uint32_t tunnelIfIndex);

  IClock& clock_;

  // Settled letters plus the pending one, for GetStatistics.
  std::atomic<std::uint32_t> sentCount{0};
  std::atomic<std::uint32_t> receivedCount{0};
  bool pushHandled = false;
  // Reader thread only.
  CTrafficLetterCounter traffic;
  TrafficLetters settledTraffic;
  std::string sigtermCarry;  // the end of the last taken text, for a cut "SIGTERM["
  std::wstring refusedSetting;  // what Start refused, for the error text
};

// The OpenVPN directory of the process, set by CheckOpenVpnComponent.
std::wstring OpenVpnDirectory();
void SetOpenVpnDirectory(const std::wstring& directory);
