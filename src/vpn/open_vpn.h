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

#include "vpn/console_redirector.h"
#include "vpn/general_vpn.h"

enum OpenVpnError : std::int32_t {
  OPEN_VPN_ERROR_EXEC = 9,
  OPEN_VPN_ERROR_NO_ADAPTER = 10,
  OPEN_VPN_ERROR_TLS_ERROR = 11,
};

// How long Stop lets openvpn take to exit after asking it to.
constexpr unsigned kOpenVpnExitWaitMs = 2000;

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
};
std::wstring BuildOpenVpnCommandLine(const OpenVpnCommand& command);

class COpenVpn : public CGeneralVpn, public CConsoleRedirector {
 public:
  explicit COpenVpn(IForwardTable& forwardTable,
                    std::unique_ptr<CVpnRouteRequestBaseServer> routeRequestServer = nullptr);
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

 protected:
  void OnOutput(const char* bytes, std::size_t count) override;
  void OnChildExit() override;
  // Writes a prompt's answer to openvpn's input (which empties the buffer).
  virtual void AnswerPrompt(const std::wstring& answer) { WriteInput(answer); }

 private:
  void ParseOpenVpnOutput();
  void HandlePush(std::string_view message);

  std::atomic<std::uint32_t> sentCount{0};
  std::atomic<std::uint32_t> receivedCount{0};
  bool pushHandled = false;
};

// The OpenVPN directory of the process, set by CheckOpenVpnComponent.
std::wstring OpenVpnDirectory();
void SetOpenVpnDirectory(const std::wstring& directory);
