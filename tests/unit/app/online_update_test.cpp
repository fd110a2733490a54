#include "app/online_update.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <vector>

#include "account/reply_document.h"
#include "fakes/fake_module_version.h"
#include "fakes/temp_dir.h"
#include "platform/file_io.h"
#include "platform/strings.h"
#include "text/text_table.h"

namespace {

class OnlineUpdate : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadTextTable(); }
};

TEST_F(OnlineUpdate, RequiredVersionParsing) {
  const std::uint64_t v2302 = CFakeModuleVersion::Pack(2, 3, 0, 2);
  struct Case {
    const wchar_t* text;
    std::optional<std::uint64_t> value;
  } cases[] = {
      {L"2.3.0.2", v2302},
      {L" 2. 3.0.2", v2302},  // the conversion skips leading blanks
      {L"2.3.0.2-beta", v2302},
      {L"2.3", std::nullopt},
      {L"2.3.0", std::nullopt},
      {L"2.3..2", std::nullopt},
      {L"", std::nullopt},
      {L"v2.3.0.2", std::nullopt},
      {L"65535.65535.65535.65535", 0xFFFFFFFFFFFFFFFFull},
      {L"1.65536.0.0", CFakeModuleVersion::Pack(2, 0, 0, 0)},  // the packing carries, as it always did
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.text));
    EXPECT_EQ(ParseRequiredVersion(c.text), c.value);
  }
}

TEST_F(OnlineUpdate, UpdateDecisionAndKind) {
  const std::uint64_t own = CFakeModuleVersion::Pack(2, 3, 0, 2);
  EXPECT_FALSE(NeedsUpdate(own, CFakeModuleVersion::Pack(2, 3, 0, 2), L""));
  EXPECT_TRUE(NeedsUpdate(own, CFakeModuleVersion::Pack(2, 3, 0, 3), L""));
  EXPECT_FALSE(NeedsUpdate(own, CFakeModuleVersion::Pack(2, 2, 9, 9), L""));
  EXPECT_TRUE(NeedsUpdate(own, CFakeModuleVersion::Pack(1, 0, 0, 0), L"x"));
  struct Case {
    const wchar_t* force;
    bool bindBeside;
    UpdateKind kind;
  } cases[] = {
      {L"green", true, UpdateKind::Portable}, {L"green", false, UpdateKind::Portable},
      {L"setup", false, UpdateKind::Installer}, {L"setup", true, UpdateKind::Installer},
      {L"yes", true, UpdateKind::Installer},  {L"yes", false, UpdateKind::Portable},
      {L"", true, UpdateKind::Installer},     {L"", false, UpdateKind::Portable},
      {L"Green", false, UpdateKind::Portable}, {L"Green", true, UpdateKind::Installer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.force));
    EXPECT_EQ(ChooseUpdateKind(c.force, c.bindBeside), c.kind);
  }
}

TEST_F(OnlineUpdate, FormatByteSizeAndSpeedText) {
  struct Case {
    double value;
    const wchar_t* text;
  } cases[] = {
      {0, L"0 B"},          {512, L"512 B"},         {1024, L"1024 B"},       {1025, L"1 KB"},
      {1536, L"1.50 KB"},   {1048576, L"1024 KB"},   {976.5625 * 1024, L"976.56 KB"},
      {5.5 * 1024 * 1024 * 1024 * 1024, L"5632 GB"}, {10.004, L"10 B"},      {10.5, L"10.50 B"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatByteSize(c.value), c.text) << c.value;

  CUpdateDownloadRun::SpeedClock clock{1000, 0};
  EXPECT_FALSE(CUpdateDownloadRun::SpeedStatus(clock, 0, 5e6, 5000)) << "nothing arrived yet";
  EXPECT_FALSE(CUpdateDownloadRun::SpeedStatus(clock, 10, -1, 5000)) << "size unknown";
  EXPECT_FALSE(CUpdateDownloadRun::SpeedStatus(clock, 10, 5e6, 1999)) << "under a second";
  EXPECT_EQ(CUpdateDownloadRun::SpeedStatus(clock, 1500000, 5e6, 2500),
            std::optional<std::wstring>(L"Downloading update file ... Speed:976.56 KB/s"));
  EXPECT_EQ(clock.lastTick, 2500u);
  EXPECT_EQ(clock.lastBytes, 1500000u);
  // Across the tick's wrap.
  CUpdateDownloadRun::SpeedClock wrap{0xFFFFFC18u, 0};
  EXPECT_EQ(CUpdateDownloadRun::SpeedStatus(wrap, 2048, 1e6, 1000), std::optional<std::wstring>(L"Downloading update file ... Speed:1024 B/s"));
}

TEST_F(OnlineUpdate, Md5OfFile) {
  CTempDir dir;
  EXPECT_EQ(Md5OfFile(dir.Write(L"abc", "abc")), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5OfFile(dir.Write(L"empty", "")), "d41d8cd98f00b204e9800998ecf8427e");
  // More than one read block.
  EXPECT_EQ(Md5OfFile(dir.Write(L"big", std::string(10000, 'a'))), "0d0c9c4db6953fee9e03f528cafd7d3e");
  EXPECT_EQ(Md5OfFile(dir.File(L"missing")), "");
}

struct HostCall {
  std::string what;
  std::wstring text;
  BoxIcon icon = BoxIcon::None;
};

class CFakeUpdateHost : public IUpdateHost {
 public:
  void ShowMessage(const std::wstring& text, BoxIcon icon) override { calls.push_back({"box", text, icon}); }
  UpdateDownloadOutcome RunUpdateDownload(const std::wstring& url, const std::wstring& localPath) override {
    calls.push_back({"download", url + L" -> " + localPath});
    if (outcome.ok) AtomicWriteFile(localPath, downloadedBytes);
    return outcome;
  }
  UpdateStartResult StartUpdate(const std::wstring& path, const std::wstring& arguments) override {
    calls.push_back({"open", path + L"|" + arguments});
    fileThereAtStart = FileExists(path);
    UpdateStartResult r;
    r.outcome = start;
    r.verdict.signature = refusedFor;
    return r;
  }
  void OpenUrl(const std::wstring& url) override { calls.push_back({"url", url}); }
  void ExitClient() override { calls.push_back({"exit", L""}); }

  std::vector<std::string> Kinds() const {
    std::vector<std::string> out;
    for (const auto& c : calls) out.push_back(c.what);
    return out;
  }
  std::vector<HostCall> calls;
  UpdateDownloadOutcome outcome{true, false};
  std::string downloadedBytes = "abc";
  UpdateStartResult::Outcome start = UpdateStartResult::Outcome::Started;
  SignatureCheck refusedFor = SignatureCheck::Ok;
  bool fileThereAtStart = false;
};

struct UpdateBed {
  CTempDir dir;
  std::wstring reply = dir.File(L"reply.ini");
  UpdatePlaces places{dir.File(L"Quillnet.exe"), (dir.Path() / "").wstring(), dir.File(L"QuillnetInstaller.exe"),
                      dir.File(L"data-Quillnet.exe"), dir.File(L"Quillnet.exe.ini")};
  void Vpn(const wchar_t* key, const wchar_t* value) { IniWriteString(reply, L"VPN", key, value); }
};

TEST_F(OnlineUpdate, CheckClientVersionOutcomes) {
  struct Case {
    const char* name;
    const wchar_t* required;
    const wchar_t* force;
    bool bindBeside;
    int result;
    const wchar_t* downloaded;  // which file was fetched, null for none
  } cases[] = {
      {"equal", L"2.3.0.2", L"", false, kVersionCheckOk, nullptr},
      {"newer required", L"2.3.0.3", L"", false, kVersionCheckUpdating, L"data-Quillnet.exe"},
      {"newer, bind module beside", L"2.3.0.3", L"", true, kVersionCheckUpdating, L"QuillnetInstaller.exe"},
      {"two numbers, forced", L"2.3", L"green", false, kVersionCheckUnreadable, nullptr},
      {"missing", L"", L"", false, kVersionCheckUnreadable, nullptr},
      {"forced green", L"1.0.0.0", L"green", true, kVersionCheckUpdating, L"data-Quillnet.exe"},
      {"forced setup", L"1.0.0.0", L"setup", false, kVersionCheckUpdating, L"QuillnetInstaller.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateBed bed;
    bed.Vpn(L"RequiredClientVersion", c.required);
    bed.Vpn(L"OfficalWebSiteUrl", L"http://site.example/");
    bed.Vpn(L"DownloadGreen", L"http://127.0.0.1/green");
    bed.Vpn(L"DownloadGreenMD5", L" 900150983cd24fb0d6963f7d28e17f72 ");
    bed.Vpn(L"DownloadSetup", L"http://127.0.0.1/setup");
    bed.Vpn(L"DownloadSetupMD5", L"900150983cd24fb0d6963f7d28e17f72");
    if (*c.force) IniWriteString(bed.places.overridePath, L"Main", L"ForceOnlineUpdateTest", c.force);
    if (c.bindBeside) bed.dir.Write(L"QuillnetBind.dll", "MZ");
    CFakeUpdateHost host;
    CFakeModuleVersion version(CFakeModuleVersion::Pack(2, 3, 0, 2));
    std::wstring site = L"http://before.example/";
    EXPECT_EQ(CheckClientVersion(host, version, bed.places, bed.reply, site), c.result);
    EXPECT_EQ(site, L"http://site.example/");
    if (!c.downloaded) {
      EXPECT_TRUE(host.calls.empty());
      continue;
    }
    ASSERT_EQ(host.Kinds(), (std::vector<std::string>{"box", "download", "box", "open", "exit"}));
    EXPECT_EQ(host.calls[0].text.find(L"Your Quillnet is outdated"), 0u);
    EXPECT_EQ(host.calls[1].text.substr(host.calls[1].text.size() - std::wcslen(c.downloaded)), c.downloaded);
    const bool portable = std::wstring(c.downloaded) == L"data-Quillnet.exe";
    EXPECT_EQ(host.calls[3].text, bed.dir.File(c.downloaded) + L"|" +
                                      (portable ? L" /update \"" + bed.places.modulePath + L"\"" : L""));
  }
}

TEST_F(OnlineUpdate, DownloadFailuresEachShowTheirTextAndOpenTheUpdatePage) {
  constexpr auto kStarted = UpdateStartResult::Outcome::Started;
  constexpr auto kNotStarted = UpdateStartResult::Outcome::NotStarted;
  constexpr auto kRefused = UpdateStartResult::Outcome::Refused;
  struct Case {
    const char* name;
    const wchar_t* url;
    const wchar_t* md5;
    UpdateDownloadOutcome outcome;
    UpdateStartResult::Outcome start;
    const char* key;  // the failure text, null for success
    BoxIcon icon;
    const char* cause = nullptr;  // the text key in brackets after it
  } cases[] = {
      {"no address", L"", L"x", {true, false}, kStarted, "CanNotFindDownloadURL_Tip", BoxIcon::Warning},
      {"not a web address", L"file:///etc/passwd", L"x", {true, false}, kStarted, "CanNotFindDownloadURL_Tip",
       BoxIcon::Warning},
      {"user cancelled", L"http://h/x", L"x", {false, true}, kStarted, "UpdateCancelledByUser_Tip",
       BoxIcon::Information},
      {"closed otherwise", L"http://h/x", L"x", {false, false}, kStarted, "DownloadUpdateFileFailed_Tip",
       BoxIcon::Warning},
      {"upper-case digest", L"http://h/x", L"900150983CD24FB0D6963F7D28E17F72", {true, false}, kStarted,
       "CanNotDownloadFileCorrectly_Tip", BoxIcon::Warning},
      {"no digest", L"http://h/x", L"", {true, false}, kStarted, "CanNotDownloadFileCorrectly_Tip", BoxIcon::Warning},
      {"not started", L"http://h/x", L"900150983cd24fb0d6963f7d28e17f72", {true, false}, kNotStarted,
       "CanNotExecuteUpdateFile_Tip", BoxIcon::Warning},
      {"not ours: deleted", L"http://h/x", L"900150983cd24fb0d6963f7d28e17f72", {true, false}, kRefused,
       "UpdateFileNotGenuine_Tip", BoxIcon::Warning},
      {"started", L"http://h/x", L"900150983cd24fb0d6963f7d28e17f72", {true, false}, kStarted, nullptr, BoxIcon::None},
      // A transfer that broke off says why, even when the file left would match.
      {"stalled", L"http://h/x", L"900150983cd24fb0d6963f7d28e17f72", {true, false, TransferFailure::Stalled},
       kStarted, "CanNotDownloadFileCorrectly_Tip", BoxIcon::Warning, "TransferStalled"},
      {"certificate refused", L"https://h/x", L"900150983cd24fb0d6963f7d28e17f72",
       {true, false, TransferFailure::Certificate}, kStarted, "CanNotDownloadFileCorrectly_Tip", BoxIcon::Warning,
       "ServerCertificateRefused"},
      {"broken off, no named cause", L"http://h/x", L"", {true, false, TransferFailure::Other}, kStarted,
       "CanNotDownloadFileCorrectly_Tip", BoxIcon::Warning},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateBed bed;
    bed.Vpn(L"DownloadSetup", c.url);
    bed.Vpn(L"DownloadSetupMD5", c.md5);
    bed.Vpn(L"UpdateURL", L"http://site.example/update.html");
    CFakeUpdateHost host;
    host.outcome = c.outcome;
    host.start = c.start;
    host.refusedFor = SignatureCheck::Unsigned;
    DownloadAndRunUpdate(host, bed.places, bed.reply, true);
    ASSERT_FALSE(host.calls.empty());
    if (!c.key) {
      EXPECT_EQ(host.Kinds(), (std::vector<std::string>{"download", "box", "open"}));
      EXPECT_EQ(host.calls[2].text, bed.places.installerDownloadPath + L"|");
      continue;
    }
    ASSERT_GE(host.calls.size(), 2u);
    const HostCall& box = host.calls[host.calls.size() - 2];
    EXPECT_EQ(box.what, "box");
    EXPECT_EQ(box.icon, c.icon);
    std::wstring why = c.start == UpdateStartResult::Outcome::Refused ? L" (not signed)" : L"";
    if (c.cause) why = L" (" + GetText(c.cause) + L")";
    EXPECT_EQ(box.text, GetText(c.key) + why + L"\n\n" + GetText("OnlineUpdateFailureTip"));
    if (c.start == UpdateStartResult::Outcome::Refused) {
      EXPECT_TRUE(host.fileThereAtStart);
      EXPECT_FALSE(FileExists(bed.places.installerDownloadPath)) << "a refused program stays on disk";
    }
    EXPECT_EQ(host.calls.back().what, "url");
    EXPECT_EQ(host.calls.back().text, L"http://site.example/update.html");
  }
}

TEST_F(OnlineUpdate, UpdatePageThatIsNotAWebAddressIsNotOpened) {
  UpdateBed bed;
  bed.Vpn(L"UpdateURL", L"C:\\Windows\\system32\\calc.exe");
  CFakeUpdateHost host;
  DownloadAndRunUpdate(host, bed.places, bed.reply, false);
  EXPECT_EQ(host.Kinds(), std::vector<std::string>{"box"});
}

}  // namespace
