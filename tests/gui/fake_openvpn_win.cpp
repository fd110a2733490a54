// Stands in for openvpn.exe in the Wine tests of the client, where no tunnel
// can be made: it prints a version line for --version, lists one adapter
// for --show-adapters, asks for the credentials the way openvpn does, then
// plays a connection and waits for the exit event named by --service. A
// file "fake-openvpn.mode" beside it chooses the play: "connect" (the
// default) completes and reports traffic, "hold" stops after the peer's
// answer and never completes, "refuse" ends with an authentication failure,
// "drop" completes and loses the server two seconds later, "deaf" completes
// and never looks at the exit event.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void Say(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

std::string Mode(const wchar_t* program) {
  std::wstring path(program);
  const std::size_t slash = path.find_last_of(L"\\/");
  path = (slash == std::wstring::npos ? L"" : path.substr(0, slash + 1)) + L"fake-openvpn.mode";
  FILE* f = _wfopen(path.c_str(), L"rb");
  if (!f) return "connect";
  char buffer[32] = {};
  const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
  std::fclose(f);
  std::string mode(buffer, n);
  while (!mode.empty() && (mode.back() == '\n' || mode.back() == '\r' || mode.back() == ' ')) mode.pop_back();
  return mode;
}

bool ReadLine() {
  char line[256];
  return std::fgets(line, sizeof line, stdin) != nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring exitEvent;
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--show-adapters") == 0) {
      Say("Available TAP-WIN32 adapters [name, GUID]:\n'Local Area Connection 2' {4D36E972-E325-11CE-BFC1-08002BE10318}\n");
      return 0;
    }
    if (std::wcscmp(argv[i], L"--version") == 0) {
      // As the shipped program words it; the client reads the release from the first line.
      Say("OpenVPN 2.6.14 x86_64-w64-mingw32 [SSL (OpenSSL)] [LZO] [LZ4] [AEAD]\n"
          "library versions: OpenSSL 3.0.17 1 Jul 2025, LZO 2.10\n");
      return 1;
    }
    if (std::wcscmp(argv[i], L"--service") == 0 && i + 1 < argc) exitEvent = argv[i + 1];
  }
  const std::string mode = Mode(argv[0]);
  HANDLE event = exitEvent.empty() || mode == "deaf" ? nullptr : ::CreateEventW(nullptr, FALSE, FALSE, exitEvent.c_str());
  // One line per start in "fake-openvpn.runs" beside it: tests count the reconnects.
  {
    std::wstring runs(argv[0]);
    const std::size_t slash = runs.find_last_of(L"\\/");
    runs = (slash == std::wstring::npos ? L"" : runs.substr(0, slash + 1)) + L"fake-openvpn.runs";
    if (FILE* f = _wfopen(runs.c_str(), L"ab")) {
      std::fputs((mode + "\n").c_str(), f);
      std::fclose(f);
    }
  }

  Say("OpenVPN 2.1.4 i686-pc-mingw32 [SSL] [LZO2] [PKCS11] built on Nov  8 2010\n");
  Say("Enter Auth Username:");
  if (!ReadLine()) return 1;
  Say("Enter Auth Password:");
  if (!ReadLine()) return 1;
  Say("\nControl Channel MTU parms [ L:1542 D:138 EF:38 EB:0 ET:0 EL:0 ]\n");
  Sleep(150);
  Say("TLS: Initial packet from 127.0.0.1:1194, sid=5a1f3c2e 9b8d7e6f\n");
  Sleep(150);
  if (mode == "refuse") {
    Say("AUTH: Received AUTH_FAILED control message\nSIGTERM[soft,auth-failure] received, process exiting\n");
    return 1;
  }
  Say("[server] Peer Connection Initiated with 127.0.0.1:1194\n");
  if (mode != "hold") {
    Sleep(150);
    Say("PUSH: Received control message: 'PUSH_REPLY,route-gateway 10.8.0.1,ping 10,ping-restart 120,"
        "ifconfig 10.8.0.6 255.255.255.0'\n");
    Say("Initialization Sequence Completed\n");
  }
  // Traffic letters as --verb 5 prints them, so the tray icon has something to show.
  for (unsigned tick = 0;; ++tick) {
    if (event) {
      if (::WaitForSingleObject(event, 500) == WAIT_OBJECT_0) break;
    } else {
      Sleep(500);
    }
    if (mode != "hold") Say(tick % 2 ? "W" : "RwrW");
    if (mode == "drop" && tick >= 4) {
      Say("\n[server] Inactivity timeout (--ping-restart), restarting\nSIGTERM[soft,ping-restart] received, process exiting\n");
      return 1;
    }
  }
  Say("\nSIGTERM[hard,] received, process exiting\n");
  return 0;
}
