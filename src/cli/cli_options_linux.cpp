#include "cli/cli_options.h"

#include <cstdlib>

#include "platform/strings.h"

namespace {

bool ParseNumber(const std::string& text, std::int32_t& value) {
  if (text.empty() || text.size() > 9) return false;
  std::int32_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  value = n;
  return true;
}

bool ParseRoute(const std::string& text, CliOptions& o) {
  const std::size_t colon = text.find(':');
  const std::string word = text.substr(0, colon);
  std::int32_t index = 0;
  if (colon != std::string::npos && !ParseNumber(text.substr(colon + 1), index)) return false;
  if (word == "all" && colon == std::string::npos) {
    o.routeDefiner = 1;
  } else if (word == "app" && colon == std::string::npos) {
    o.routeDefiner = 2;
  } else if (word == "listed") {
    o.routeDefiner = 1001;
  } else if (word == "custom") {
    o.routeDefiner = 1002;
  } else {
    return false;
  }
  o.routeIndex = index;
  return true;
}

bool ParseOnOff(const std::string& text, std::optional<bool>& value) {
  if (text != "on" && text != "off") return false;
  value = text == "on";
  return true;
}

}  // namespace

std::string CliUsage() {
  return "usage: quillnet connect --account NAME --password-file FILE|- (--service URL [--ca-file PEM] | --override FILE)\n"
         "                        [--route all|app|listed[:N]|custom[:N]] [--type auto|openvpn]\n"
         "                        [--server first|fastest|ID] [--config DIR] [--data DIR] [--program-folder DIR]\n"
         "                        [--leak-protection on|off] [--allow-lan on|off] [--reconnect on|off]\n"
         "The password is read from FILE, or from standard input with '-' (first line, never echoed).\n"
         "Route, type and server left out are the last choice that connected. Ctrl-C, SIGTERM or\n"
         "'quillnet disconnect' disconnects and restores the routes; SIGUSR1 disconnects and keeps\n"
         "the client running, and a second SIGUSR1 logs in and connects again.\n"
         "While connected, traffic outside the tunnel is blocked (the local network allowed) and a\n"
         "dropped tunnel is reconnected; each is on until turned off, and a choice given is remembered.\n"
         "       quillnet login --account NAME --password-file FILE|- (--service URL [--ca-file PEM] | --override FILE)\n"
         "The login goes over HTTPS (verified; --ca-file adds a CA to the system's) even when URL is http.\n"
         "Logs in and lists the offered routes and servers with their measured speeds.\n"
         "       quillnet disconnect [--config DIR] [--data DIR]\n"
         "Ends the client connected on this data folder and waits until its routes are restored.\n"
         "       quillnet run [--config DIR] [--data DIR] PROGRAM [ARGUMENTS...]\n"
         "Activates PROGRAM in the application list and starts it under the bind module: while the\n"
         "client is connected per application, its connections go through the tunnel.\n"
         "       quillnet restore-routes [--config DIR] [--data DIR] [--program-folder DIR]\n"
         "Deletes the routes a killed run left behind and ends its openvpn (connect does this first, too).\n";
}

bool AcceptableServiceUrl(const std::wstring& url) {
  std::size_t at = 0;
  if (url.rfind(L"http://", 0) == 0) {
    at = 7;
  } else if (url.rfind(L"https://", 0) == 0) {
    at = 8;
  } else {
    return false;
  }
  if (url.size() <= at || url.size() > 512) return false;
  for (wchar_t c : url) {
    const bool ok = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
                    std::wstring_view(L"-._~:/?#[]@!$&'()*+,;=%").find(c) != std::wstring_view::npos;
    if (!ok) return false;
  }
  return url[at] != L'/';
}

std::wstring TerminalSafe(const std::wstring& text) {
  std::wstring out = text;
  for (wchar_t& c : out)
    if (c < 0x20 || (c >= 0x7f && c < 0xa0)) c = L'?';
  return out;
}

bool ParseCliOptions(const std::vector<std::string>& arguments, CliOptions& o, std::string& error) {
  if (arguments.empty() || arguments[0] == "help" || arguments[0] == "--help") {
    o.command = "help";
    return true;
  }
  static const char* const kCommands[] = {"connect", "login", "disconnect", "run", "restore-routes"};
  for (const char* command : kCommands)
    if (arguments[0] == command) o.command = command;
  if (o.command.empty()) {
    error = "unknown command '" + arguments[0] + "'";
    return false;
  }
  // Only the folders mean something to the commands that do not log in.
  const bool logsIn = o.command == "connect" || o.command == "login";
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& name = arguments[i];
    if (o.command == "run" && (name == "--" || name.rfind("--", 0) != 0)) {
      o.program.assign(arguments.begin() + static_cast<std::ptrdiff_t>(i + (name == "--")), arguments.end());
      break;
    }
    const bool folder = name == "--config" || name == "--data" || name == "--program-folder";
    if (!folder && !logsIn) {
      error = "unknown option " + name + " for " + o.command;
      return false;
    }
    if (!logsIn && name == "--program-folder" && o.command != "restore-routes") {
      error = "unknown option " + name + " for " + o.command;
      return false;
    }
    if (i + 1 >= arguments.size()) {
      error = "option " + name + " needs a value";
      return false;
    }
    const std::string value = arguments[++i];
    if (name == "--service") {
      o.serviceUrl = NarrowToWide(value);
      if (!AcceptableServiceUrl(o.serviceUrl)) {
        error = "--service needs an http:// or https:// address";
        return false;
      }
    } else if (name == "--override") {
      o.overrideFile = NarrowToWide(value);
    } else if (name == "--ca-file") {
      o.caFile = NarrowToWide(value);
    } else if (name == "--account") {
      o.account = NarrowToWide(value);
    } else if (name == "--password-file") {
      o.passwordFile = value;
    } else if (name == "--config") {
      o.configFolder = NarrowToWide(value);
    } else if (name == "--data") {
      o.dataFolder = NarrowToWide(value);
    } else if (name == "--program-folder") {
      o.programFolder = NarrowToWide(value);
    } else if (name == "--route") {
      if (!ParseRoute(value, o)) {
        error = "--route is all, app, listed[:N] or custom[:N]";
        return false;
      }
      o.routeGiven = true;
    } else if (name == "--type") {
      if (value == "auto") {
        o.vpnType = 0;
      } else if (value == "openvpn") {
        o.vpnType = 3;
      } else if (value == "pptp" || value == "l2tp") {
        error = "VPN type " + value + " is not available on Linux: use openvpn or auto";
        return false;
      } else {
        error = "--type is auto or openvpn";
        return false;
      }
      o.typeGiven = true;
    } else if (name == "--server") {
      if (value == "first") {
        o.server = CliServerPick::First;
      } else if (value == "fastest") {
        o.server = CliServerPick::Fastest;
      } else if (ParseNumber(value, o.serverId)) {
        o.server = CliServerPick::ById;
      } else {
        error = "--server is first, fastest or a server id";
        return false;
      }
      o.serverGiven = true;
    } else if (name == "--leak-protection" || name == "--allow-lan" || name == "--reconnect") {
      std::optional<bool>& choice = name == "--leak-protection" ? o.leakProtection
                                    : name == "--allow-lan"      ? o.allowLocalNetwork
                                                                 : o.reconnect;
      if (!ParseOnOff(value, choice)) {
        error = name + " is on or off";
        return false;
      }
    } else {
      error = "unknown option " + name;
      return false;
    }
  }
  if (o.command == "run") {
    if (o.program.empty() || o.program[0].empty()) error = "run needs a program";
    return error.empty();
  }
  if (!logsIn) return true;
  if (o.account.empty()) error = "--account is required";
  else if (o.passwordFile.empty()) error = "--password-file is required (use - for standard input)";
  else if (o.serviceUrl.empty() == o.overrideFile.empty()) error = "give one of --service and --override";
  else if (!o.caFile.empty() && o.serviceUrl.empty()) error = "--ca-file goes with --service (an override file names its CaFile)";
  return error.empty();
}
