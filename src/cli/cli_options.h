// The terminal client's command line. Everything the user may choose is
// read here into plain values; the run itself never looks at argv again, so
// no password ever has to be a program argument.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Exit codes.
constexpr int kCliExitOk = 0;  // disconnected on request
constexpr int kCliExitLoginFailed = 1;
constexpr int kCliExitConnectFailed = 2;
constexpr int kCliExitDropped = 3;
constexpr int kCliExitNotRunning = 4;  // disconnect: no client runs on this data folder
constexpr int kCliExitBusy = 5;        // another client runs on this data folder
constexpr int kCliExitUsage = 64;
constexpr int kCliExitCannotRun = 127;  // run: the program could not be started

enum class CliServerPick { First, ById, Fastest };

struct CliOptions {
  // "connect", "login", "disconnect", "run", "restore-routes" or "help"
  std::string command;
  std::wstring serviceUrl;      // --service: http(s) base of the account service
  std::wstring overrideFile;    // --override: an override file naming LoginHosts
  std::wstring caFile;          // --ca-file: a PEM CA the --service host's certificate chains to
  std::wstring account;         // --account
  std::string passwordFile;     // --password-file; "-" is standard input
  std::wstring configFolder;    // --config: user settings (default: the platform's)
  std::wstring dataFolder;      // --data: program data, reply and route journal
  std::wstring programFolder;   // --program-folder: holds openvpn/ca.crt
  // Not given: the last choice (the chooser's memory), as the window does.
  bool routeGiven = false, typeGiven = false, serverGiven = false;
  std::int32_t routeDefiner = 1;  // --route all|app|listed[:N]|custom[:N]
  std::int32_t routeIndex = 0;
  std::int32_t vpnType = 0;     // --type auto|openvpn
  CliServerPick server = CliServerPick::First;
  std::int32_t serverId = -1;   // --server ID
  std::vector<std::string> program;  // run: the program and its arguments
  // --leak-protection, --allow-lan, --reconnect on|off. Not given: the
  // remembered choice; given: remembered from now on.
  std::optional<bool> leakProtection, allowLocalNetwork, reconnect;
};

// False with `error` set when the arguments cannot be used; the dial-up
// types are refused here with the reason.
bool ParseCliOptions(const std::vector<std::string>& arguments, CliOptions& options, std::string& error);
// What `quillnet help` prints.
std::string CliUsage();
// A base URL the client may send its credentials to: http:// or https://,
// a host, nothing that could break out of an INI line.
bool AcceptableServiceUrl(const std::wstring& url);
// Text from the service or openvpn made safe for a terminal: control
// characters (escape sequences included) become '?'.
std::wstring TerminalSafe(const std::wstring& text);
