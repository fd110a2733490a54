// The service's configuration file: INI layout, sections and keys kept in
// file order (reply sections are copied out in that order).
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct ConfigSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> entries;
  std::optional<std::string> Get(const std::string& key) const;  // key matched without case
};

struct Account {
  std::string name;
  std::string password;
  std::int64_t expires = 0;  // seconds since 1970 UTC; 0 for none
  std::string message;       // AuthMessage on success
  std::optional<std::string> bios, disk, network;  // must match when set
};

struct ServiceConfig {
  std::string bind = "127.0.0.1";
  int httpPort = 0;    // 0 picks a free port; -1 switches HTTP off
  int httpsPort = 0;   // same for HTTPS
  std::string certificateFile, keyFile;  // PEM; empty: a fresh self-signed pair per run
  // Test knobs.
  int delayMs = 0;
  bool noAnswer = false;
  bool wrongMarker = false;
  int httpStatus = 200;
  bool echoSecrets = false;
  // Route commands are taken only with the p and s of the user's last
  // accepted login, as a service that ties them to the login would.
  bool tieRoutesToLogin = false;

  std::vector<Account> accounts;
  std::vector<ConfigSection> replySections;  // VPN, Announcements, Servers, Routes, CustomRoutes
  std::map<std::string, std::vector<std::string>> routeLists;  // "section id" -> lines
  std::vector<std::pair<std::string, std::string>> downloads;  // reply key -> local file
};

std::vector<ConfigSection> ParseIni(const std::string& text);
// False with a reason when the file cannot be read or a value is unusable.
bool LoadServiceConfig(const std::string& path, ServiceConfig& config, std::string& error);
// "2031-05-17" (midnight UTC) or a number of seconds; nothing when neither.
std::optional<std::int64_t> ParseExpiry(const std::string& text);
