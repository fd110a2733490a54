// What the dialogs are opened on in tests, the driver and the benchmark: a
// login reply with servers on loopback addresses, a UDP responder answering
// each address after its own delay, and a small application list.
#pragma once
#include "platform/win32.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

// Text table, skin, common controls, COM and sockets, once per process; the
// pointer off every window, so that nothing shows hovered.
void EnsureDialogTestEnvironment();

struct ReplyFixture {
  int servers = 120;
  // Categories cycle over these; an empty list gives servers without one.
  std::vector<std::wstring> categories = {L"china", L"usa", L"asia"};
  bool hideDefaultRoutes = false;
  int listedRoutes = 2;
};
// Every server sits on 127.0.0.1: Wine binds a socket for another loopback
// address as if for every address, so one responder cannot answer as many.
void WriteLoginReply(const std::wstring& path, const ReplyFixture& fixture);
// The delay of the n-th request the responder answers.
int DelayOfServer(int n);

// A time-service stand-in on 127.0.0.1 answering its n-th request after
// DelayOfServer(n) ms, so the speed column fills with measured values
// spread over the three speed icons. Loopback only.
class CUdpDelayResponder {
 public:
  CUdpDelayResponder();
  ~CUdpDelayResponder();
  std::uint16_t Port() const { return port_; }
  bool Ok() const { return ok_; }
  int Answered() const { return answered_.load(); }
  int Received() const { return requests_.load(); }

 private:
  void Serve();
  SOCKET socket_ = INVALID_SOCKET;
  std::atomic<int> requests_{0};
  std::uint16_t port_ = 0;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<int> answered_{0};
  std::thread thread_;
};

// An override file that leaves only the UDP probe, so the delays show.
std::wstring WriteUdpOnlyOverride(const std::wstring& directory);

// A temporary folder under the system's temp folder, removed with its files.
class CScratchFolder {
 public:
  CScratchFolder();
  ~CScratchFolder();
  const std::wstring& Path() const { return path_; }
  std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// Creates a small file (programs and documents for the application list).
void WriteFile(const std::wstring& path, const std::string& bytes);

// Three programs and a shortcut-less document in `folder`, the programs
// entered in its applist.ini as the list file keeps them.
void WriteAppListFixture(const CScratchFolder& folder);
