#include "dialogs_gui/dialog_fixtures_win.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include <commctrl.h>
#include <objbase.h>

#include "account/reply_document.h"
#include "skin/registered_skin.h"
#include "skin/skin_attributes.h"
#include "text/text_table.h"

void EnsureDialogTestEnvironment() {
  static bool done = [] {
    LoadTextTable();
    ::CoInitialize(nullptr);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);
    RegisterSkin(GetSkinAttributes());
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    ::SetCursorPos(0, 0);
    return true;
  }();
  (void)done;
}

int DelayOfServer(int index) {
  if (index % 10 == 9) return 600;  // a few slow ones, for the bad icon
  return (index * 37) % 250 + 2;
}

void WriteLoginReply(const std::wstring& path, const ReplyFixture& f) {
  // Written in one piece: a thousand servers key by key would take minutes.
  std::string text = "[Reply]\r\nMagicTag=VpnServerResponse\r\n[Routes]\r\n";
  text += "HideDefaultRoutes=" + std::to_string(f.hideDefaultRoutes ? 1 : 0) + "\r\n";
  for (int i = 0; i < f.listedRoutes; ++i) {
    const std::string n = std::to_string(i);
    text += "Title" + n + "=Route set " + std::to_string(i + 1) + "\r\nComment" + n + "=Listed networks only\r\n";
  }
  static const char* const kProtocols[] = {"pptp,l2tp,openvpn", "openvpn", "pptp,l2tp", ""};
  static const char* const kPlaces[] = {"Shanghai", "Los Angeles", "Tokyo", "Hong Kong", "Dallas"};
  text += "[Servers]\r\n";
  for (int i = 0; i < f.servers; ++i) {
    const std::string n = std::to_string(i);
    char title[64];
    std::snprintf(title, sizeof title, "%s %03d", kPlaces[i % 5], i + 1);
    char load[16];
    std::snprintf(load, sizeof load, "%.2f", (i * 13 % 100) / 100.0);
    text += "ServerId" + n + "=" + std::to_string(i + 1) + "\r\n";
    text += "Title" + n + "=" + title + "\r\n";
    text += "Comment" + n + "=" + (i % 7 == 0 ? "Dedicated IP" : "Shared line, 100 Mbit/s") + "\r\n";
    text += "ServerHost" + n + "=127.0.0.1\r\n";
    // Every fortieth server offers nothing; the rest cycle through the three.
    text += "Protocols" + n + "=" + (i % 40 == 39 ? kProtocols[3] : kProtocols[i % 3]) + "\r\n";
    text += "Load" + n + "=" + load + "\r\n";
    if (!f.categories.empty()) {
      const std::wstring& c = f.categories[i % f.categories.size()];
      text += "Categories" + n + "=" + std::string(c.begin(), c.end()) + "\r\n";
    }
  }
  WriteFile(path, text);
}

CUdpDelayResponder::CUdpDelayResponder() {
  WSADATA data;
  ::WSAStartup(MAKEWORD(2, 2), &data);
  socket_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof at;
  if (socket_ == INVALID_SOCKET || ::bind(socket_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
      ::getsockname(socket_, reinterpret_cast<sockaddr*>(&at), &length) != 0)
    return;
  port_ = ntohs(at.sin_port);
  ok_ = true;
  thread_ = std::thread([this] { Serve(); });
}

CUdpDelayResponder::~CUdpDelayResponder() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
}

void CUdpDelayResponder::Serve() {
  struct Due {
    ULONGLONG at;
    sockaddr_in to;
  };
  std::vector<Due> due;
  while (!stop_) {
    const ULONGLONG now = ::GetTickCount64();
    for (auto it = due.begin(); it != due.end();) {
      if (it->at > now) {
        ++it;
        continue;
      }
      const char answer[48] = {0x1c};
      ::sendto(socket_, answer, sizeof answer, 0, reinterpret_cast<sockaddr*>(&it->to), sizeof it->to);
      ++answered_;
      it = due.erase(it);
    }
    ULONGLONG wait = 50;
    for (const Due& d : due) wait = std::min(wait, d.at > now ? d.at - now : 0);
    fd_set read;
    FD_ZERO(&read);
    FD_SET(socket_, &read);
    timeval tv{0, static_cast<long>(wait * 1000)};
    if (::select(0, &read, nullptr, nullptr, &tv) <= 0) continue;
    char buffer[512];
    sockaddr_in from{};
    int length = sizeof from;
    if (::recvfrom(socket_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length) < 0) continue;
    due.push_back({::GetTickCount64() + static_cast<ULONGLONG>(DelayOfServer(requests_++)), from});
  }
}

std::wstring WriteUdpOnlyOverride(const std::wstring& directory) {
  const std::wstring path = directory + L"\\override.ini";
  IniWriteInt(path, L"Main", L"AllowPingByICMP", 0);
  IniWriteInt(path, L"Main", L"AllowPingByUDP", 1);
  return path;
}

CScratchFolder::CScratchFolder() {
  wchar_t base[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, base);
  path_ = std::wstring(base) + L"quillnet-dialogs-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
          std::to_wstring(::GetTickCount64());
  ::CreateDirectoryW(path_.c_str(), nullptr);
}

CScratchFolder::~CScratchFolder() {
  WIN32_FIND_DATAW found;
  HANDLE h = ::FindFirstFileW((path_ + L"\\*").c_str(), &found);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      ::DeleteFileW((path_ + L"\\" + found.cFileName).c_str());
    } while (::FindNextFileW(h, &found));
    ::FindClose(h);
  }
  ::RemoveDirectoryW(path_.c_str());
}

void WriteFile(const std::wstring& path, const std::string& bytes) {
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(h);
}

void WriteAppListFixture(const CScratchFolder& folder) {
  const std::wstring list = folder.File(L"applist.ini");
  for (const wchar_t* name : {L"browser.exe", L"game client.exe", L"mail.exe"}) {
    const std::wstring path = folder.File(name);
    WriteFile(path, "MZ");
    IniWriteString(list, path, L"AppFullname", path);
    IniWriteInt(list, path, L"UseAsyncMode", 0);
    IniWriteInt(list, path, L"ForceWSPBind", 0);
    IniWriteInt(list, path, L"Active", 0);
  }
  WriteFile(folder.File(L"notes.txt"), "notes");
}
