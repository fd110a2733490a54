#include "config.h"

#include <cctype>
#include <ctime>
#include <fstream>
#include <sstream>

namespace {

std::string Trim(const std::string& s) {
  std::size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return s.substr(a, b - a);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool ParseInt(const std::string& text, int& value) {
  try {
    std::size_t used = 0;
    value = std::stoi(text, &used, 10);
    return used == text.size();
  } catch (...) {
    return false;
  }
}

}  // namespace

std::optional<std::string> ConfigSection::Get(const std::string& key) const {
  for (const auto& [k, v] : entries)
    if (Lower(k) == Lower(key)) return v;
  return std::nullopt;
}

std::vector<ConfigSection> ParseIni(const std::string& text) {
  std::vector<ConfigSection> sections;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#') continue;
    if (t.front() == '[' && t.back() == ']') {
      sections.push_back({Trim(t.substr(1, t.size() - 2)), {}});
      continue;
    }
    const std::size_t eq = t.find('=');
    if (eq == std::string::npos || sections.empty()) continue;
    sections.back().entries.emplace_back(Trim(t.substr(0, eq)), Trim(t.substr(eq + 1)));
  }
  return sections;
}

std::optional<std::int64_t> ParseExpiry(const std::string& text) {
  if (text.empty()) return 0;
  int y = 0, m = 0, d = 0;
  char dash1 = 0, dash2 = 0;
  std::istringstream in(text);
  if (text.size() == 10 && (in >> y >> dash1 >> m >> dash2 >> d) && dash1 == '-' && dash2 == '-') {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = m - 1;
    tm.tm_mday = d;
    return static_cast<std::int64_t>(timegm(&tm));
  }
  try {
    std::size_t used = 0;
    const long long v = std::stoll(text, &used, 10);
    if (used == text.size()) return v;
  } catch (...) {
  }
  return std::nullopt;
}

bool LoadServiceConfig(const std::string& path, ServiceConfig& config, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot read " + path;
    return false;
  }
  std::stringstream buffer;
  buffer << file.rdbuf();
  for (const ConfigSection& s : ParseIni(buffer.str())) {
    const std::string name = Lower(s.name);
    if (name == "service") {
      for (const auto& [k, v] : s.entries) {
        const std::string key = Lower(k);
        int n = 0;
        const bool isInt = ParseInt(v, n);
        if (key == "bind") config.bind = v;
        else if (key == "certificatefile") config.certificateFile = v;
        else if (key == "keyfile") config.keyFile = v;
        else if (!isInt) {
          error = "[Service] " + k + " needs a number, not \"" + v + "\"";
          return false;
        } else if (key == "httpport") config.httpPort = n;
        else if (key == "httpsport") config.httpsPort = n;
        else if (key == "delayms") config.delayMs = n;
        else if (key == "noanswer") config.noAnswer = n != 0;
        else if (key == "wrongmarker") config.wrongMarker = n != 0;
        else if (key == "httpstatus") config.httpStatus = n;
        else if (key == "echosecrets") config.echoSecrets = n != 0;
        else if (key == "tieroutestologin") config.tieRoutesToLogin = n != 0;
      }
    } else if (name.rfind("account ", 0) == 0) {
      Account a;
      a.name = Trim(s.name.substr(8));
      a.password = s.Get("Password").value_or("");
      const auto expiry = ParseExpiry(s.Get("Expires").value_or(""));
      if (!expiry) {
        error = "[" + s.name + "] Expires is neither a date (YYYY-MM-DD) nor seconds";
        return false;
      }
      a.expires = *expiry;
      a.message = s.Get("Message").value_or("");
      a.bios = s.Get("Bios");
      a.disk = s.Get("Disk");
      a.network = s.Get("Network");
      config.accounts.push_back(std::move(a));
    } else if (name.rfind("routelist ", 0) == 0) {
      // [RouteList <section> <id>]: the values, in order, are the reply's lines.
      std::istringstream words(s.name.substr(10));
      std::string section, id;
      words >> section >> id;
      std::vector<std::string> lines;
      for (const auto& entry : s.entries) lines.push_back(entry.second);
      config.routeLists[section + " " + id] = std::move(lines);
    } else if (name == "downloads") {
      config.downloads = s.entries;
    } else {
      config.replySections.push_back(s);
    }
  }
  return true;
}
