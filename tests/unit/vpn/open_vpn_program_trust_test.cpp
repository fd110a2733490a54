// The openvpn program runs with the client's rights: one that someone else
// may change is refused with words that say why, and never started.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "fakes/fake_forward_table.h"
#include "fakes/temp_dir.h"
#include "text/text_table.h"
#include "vpn/open_vpn.h"

namespace {

TEST(OpenVpnProgramTrust, AProgramOthersMayChangeIsNotRun) {
  LoadTextTable();
  struct Case {
    const char* what;
    mode_t mode;
    uid_t owner;  // (uid_t)-1: the test's own
    const char* refusal;  // null: started
  } cases[] = {
      {"ours, 0755", 0755, static_cast<uid_t>(-1), nullptr},
      {"ours, 0700", 0700, static_cast<uid_t>(-1), nullptr},
      {"group-writable", 0775, static_cast<uid_t>(-1), "group or others can write it"},
      {"world-writable", 0757, static_cast<uid_t>(-1), "group or others can write it"},
      {"another user's", 0755, 65534, "is not owned by root"},
  };
  for (const Case& c : cases) {
    if (c.owner != static_cast<uid_t>(-1) && geteuid() != 0) continue;  // only root can give a file away
    CTempDir dir;
    const std::filesystem::path program = dir.Path() / "openvpn";
    const std::filesystem::path ran = dir.Path() / "ran";
    std::ofstream(program) << "#!/bin/sh\ntouch '" << ran.string() << "'\n";
    ASSERT_EQ(chown(program.c_str(), c.owner, static_cast<gid_t>(-1)), 0) << c.what;
    ASSERT_EQ(chmod(program.c_str(), c.mode), 0) << c.what;
    CFakeForwardTable table;
    SetUpHomeNetwork(table);
    COpenVpn vpn(table);
    vpn.openVpnDirectory = dir.Path().wstring() + L"/";
    vpn.openVpnParams = L"udp,1194";
    vpn.SetServerHost(L"10.99.0.1");
    const std::int32_t started = vpn.Start();
    if (!c.refusal) {
      EXPECT_EQ(started, 0) << c.what;
      // It ran: wait for its mark (bounded; a busy machine is slow).
      for (int i = 0; i < 3000 && !std::filesystem::exists(ran); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } else {
      EXPECT_EQ(started, OPEN_VPN_ERROR_EXEC) << c.what;
      const std::wstring text = vpn.GetErrorText(OPEN_VPN_ERROR_EXEC);
      EXPECT_NE(text.find(program.wstring()), std::wstring::npos) << c.what;
      EXPECT_NE(text.find(std::wstring(c.refusal, c.refusal + std::strlen(c.refusal))), std::wstring::npos)
          << c.what;
    }
    vpn.Stop();
    EXPECT_EQ(std::filesystem::exists(ran), c.refusal == nullptr) << c.what;
  }
}

}  // namespace
#endif
