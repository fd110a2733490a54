#include "account/account_service.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "account/login_host_probe.h"
#include "account/operator_hosts.h"
#include "fakes/form_fields.h"
#include "platform/strings.h"

namespace {

// Replays a fixed sequence of random numbers.
RandomSource Sequence(std::vector<std::uint32_t> values) {
  auto at = std::make_shared<std::size_t>(0);
  return [values, at]() { return values[(*at)++ % values.size()]; };
}

// The service side of the masking, written from the rule, not from MaskSecret.
std::string Unmask(const std::string& masked, const std::string& pad) {
  const std::size_t n = masked.size();
  std::string out(n, '\0');
  if (n == 0) return out;
  const std::size_t start = (255 - static_cast<unsigned char>(pad[0])) % n;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t pos = (start + i) % n;
    const auto r = static_cast<unsigned char>(pad[i]);
    const auto y = static_cast<unsigned char>(masked[i]);
    out[pos] = static_cast<char>(pos % 3 == 0 ? (y ^ r) : pos % 3 == 1 ? (y - r) : (y + r));
  }
  return out;
}

TEST(AccountService, AddChannelTag) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"http://h/client.php", L"http://h/client.php?rf=main"},
      {L"http://h/page?x=1", L"http://h/page?x=1&rf=main"},
      {L"", L"?rf=main"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(AddChannelTag(in), out) << in.c_str();
}

TEST(AccountService, Base64MatchesTheStandardVectors) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},          {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xfb\xff\xbf", "+/+/"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(Base64Encode(in), out);
}

TEST(AccountService, MaskSecretFollowsTheStartPositionAndThreeModes) {
  struct Case {
    std::string input;
    std::vector<std::uint32_t> random;
    std::string masked;
    std::string pad;
  };
  const Case cases[] = {
      // start (255-250)%3 = 2: c-250, then a^1, then b+2
      {"abc", {250, 1, 2}, std::string{char(105), char(96), char(100)}, std::string{char(250), char(1), char(2)}},
      // one byte: position 0, exclusive or; only the low 8 bits count
      {"A", {0x1207}, std::string{char('A' ^ 7)}, std::string{char(7)}},
      {"", {9}, "", ""},
  };
  for (const Case& c : cases) {
    const MaskedSecret m = MaskSecret(c.input, Sequence(c.random));
    EXPECT_EQ(m.masked, c.masked) << c.input;
    EXPECT_EQ(m.pad, c.pad) << c.input;
  }
}

TEST(AccountService, MaskSecretRoundTripsEveryLengthAndByte) {
  std::mt19937 gen(12345);
  for (std::size_t n = 1; n < 300; ++n) {
    std::string secret(n, '\0');
    for (char& c : secret) c = static_cast<char>(gen() & 0xff);
    const MaskedSecret m = MaskSecret(secret, [&gen] { return static_cast<std::uint32_t>(gen()); });
    ASSERT_EQ(m.masked.size(), n);
    ASSERT_EQ(m.pad.size(), n);
    ASSERT_EQ(Unmask(m.masked, m.pad), secret) << "length " << n;
  }
}

TEST(AccountService, LoginRequestCarriesItsFieldsInOrder) {
  MachineIdentities ids{"BIOS-1", "DISK\xe9", "00-11-22-33-44-55"};
  std::mt19937 gen(7);
  const RandomSource random = [&gen] { return static_cast<std::uint32_t>(gen()); };
  CCurlPlus r = BuildLoginRequest(L"http://127.0.0.1:8088/", L"alice", MaskLoginSecrets(L"p\u00e4ss word", ids, random),
                                  0x180000000LL + 5, random);
  EXPECT_EQ(r.Url(), L"http://127.0.0.1:8088/client.php?rf=main");
  const auto fields = FormFields(r.PostBody());
  std::vector<std::string> names;
  std::map<std::string, std::string> values;
  for (const auto& [k, v] : fields) {
    names.push_back(k);
    values[k] = v;
  }
  EXPECT_EQ(names, (std::vector<std::string>{"xor", "u", "p", "s", "a", "b", "c", "d", "e", "f", "t", "v", "l", "cmd"}));
  const int key = std::stoi(values["xor"]);
  EXPECT_GE(key, 1);
  EXPECT_LE(key, 254);
  EXPECT_EQ(r.ScrambleKey(), key);
  EXPECT_EQ(values["u"], "alice");
  EXPECT_EQ(Unmask(Base64Decode(values["p"]), Base64Decode(values["s"])), WideToNarrow(L"p\u00e4ss word"));
  EXPECT_EQ(Unmask(Base64Decode(values["b"]), Base64Decode(values["a"])), ids.bios);
  EXPECT_EQ(Unmask(Base64Decode(values["d"]), Base64Decode(values["c"])), ids.disk);
  EXPECT_EQ(Unmask(Base64Decode(values["f"]), Base64Decode(values["e"])), ids.network);
  EXPECT_EQ(values["t"], "-2147483643") << "low 32 bits, signed";
  EXPECT_EQ(values["v"], "2.3.0.2");
  EXPECT_EQ(values["l"], "en");
  EXPECT_EQ(values["cmd"], "login");
}

TEST(AccountService, RouteRequestAndProbeRequest) {
  CCurlPlus r = BuildRouteRequest(L"https://h/", L"bob", MaskedSecret{}, L"CustomRoutes", L"r 7", Sequence({99}));
  EXPECT_EQ(r.Url(), L"https://h/client.php?rf=main");
  EXPECT_EQ(r.PostBody(), "xor=100&u=bob&p=&s=&v=2%2e3%2e0%2e2&l=en&cmd=getvpnroutes&section=CustomRoutes&id=r%207");
  EXPECT_EQ(r.ScrambleKey(), 100);

  CCurlPlus p = BuildProbeRequest(L"http://h:8088/", Sequence({253}));
  EXPECT_EQ(p.Url(), L"http://h:8088/client.php");
  EXPECT_EQ(p.PostBody(), "v=2%2e3%2e0%2e2&l=en&xor=254");
  EXPECT_EQ(p.ScrambleKey(), 254);
  EXPECT_EQ(ChooseScrambleKey(Sequence({254})), 1);
}

TEST(AccountService, SplitRouteLines) {
  using namespace std::string_literals;
  const std::pair<std::string, std::vector<std::wstring>> cases[] = {
      {"10.0.0.0 mask 255.0.0.0\r\n\n192.168.0.0/16", {L"10.0.0.0 mask 255.0.0.0", L"192.168.0.0/16"}},
      {"\n\n\n", {}},
      {"", {}},
      {"\r\r\n\r1.2.3.0/24\r\r", {L"1.2.3.0/24"}},
      {"1.0.0.0/8\n2.0.0.0/8\x00\n3.0.0.0/8"s, {L"1.0.0.0/8", L"2.0.0.0/8"}},
      {" 5.0.0.0/8 \n", {L" 5.0.0.0/8 "}},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(SplitRouteLines(in), out) << in;
}

TEST(AccountService, BaseUrlOf) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"http://h.example/client.php", L"http://h.example/"},
      {L"https://h:1723/client.php", L"https://h:1723/"},
      {L"https://a", L"https://a"},
      {L"http://a", L""},
      {L"ftp://host/client.php", L""},
      {L"HTTP://host/client.php", L""},
      {L"http://ab", L"http://ab"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(BaseUrlOf(in), out) << in.c_str();
}

TEST(AccountService, DeriveWebSiteUrl) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"https://login.quillnet.example:1723/", L"https://www.quillnet.example/"},
      {L"http://192.0.2.10:8088/", L"http://192.0.2.10/"},
      {L"http://example.com/", L"http://www.example.com/"},
      {L"http://a.b.c.example/", L"http://www.b.c.example/"},
      {L"https://localhost/", L"https://www.localhost/"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(DeriveWebSiteUrl(in), out) << in.c_str();
}

TEST(AccountService, ToHttpsBase) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"http://h.example:8088/", L"https://h.example/"},
      {L"http://h.example/", L"https://h.example/"},
      {L"http://127.0.0.1:80/x/y", L"https://127.0.0.1/"},
      {L"https://h:1723/", L"https://h:1723/"},
      {L"HTTP://h:8088/", L"HTTP://h:8088/"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(ToHttpsBase(in), out) << in.c_str();
}

TEST(AccountService, SplitLoginHostListKeepsOnlyUsableUrls) {
  const std::pair<std::wstring, std::vector<std::wstring>> cases[] = {
      {L" http://a/ ;;\thttps://b:1723/ ;", {L"http://a/", L"https://b:1723/"}},
      {L"http://a:8088", {L"http://a:8088/"}},
      {L"ftp://a/;file:///etc/passwd;a.example;javascript:x", {}},
      {L"HTTPS://A/", {L"https://A/"}},
      {L"http://;http:///x;http://a b/", {}},
      {L"", {}},
      {L" ; ; ", {}},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(SplitLoginHostList(in), out) << in.c_str();
}

TEST(LoginHostList, WalksRememberedHostThenTheFiveLists) {
  int position = -1;
  // No remembered host on a first start: list 1 at once.
  EXPECT_EQ(NextLoginHostList(position, L"", L""), SplitLoginHostList(kBuiltInLoginHostLists[0]));
  EXPECT_EQ(position, 1);
  for (int list = 2; list <= 5; ++list) {
    EXPECT_EQ(NextLoginHostList(position, L"http://r/", L""), SplitLoginHostList(kBuiltInLoginHostLists[list - 1]));
    EXPECT_EQ(position, list);
  }
  EXPECT_EQ(NextLoginHostList(position, L"http://r/", L""), std::vector<std::wstring>{L"http://r/"});
  EXPECT_EQ(position, 0);
}

TEST(LoginHostList, OverrideReplacesEveryBuiltInList) {
  int position = 0;
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(NextLoginHostList(position, L"", L" http://o:1/ ; "), std::vector<std::wstring>{L"http://o:1/"});
  EXPECT_EQ(position, 5);
  // A remembered host is still tried first in its turn.
  EXPECT_EQ(NextLoginHostList(position, L"http://r/", L"http://o:1/"), std::vector<std::wstring>{L"http://r/"});
  // An override without a usable URL does not silence the built-in lists.
  position = 0;
  EXPECT_EQ(NextLoginHostList(position, L"", L"; ftp://x/ ;"), SplitLoginHostList(kBuiltInLoginHostLists[0]));
}

TEST(LoginHostList, ABrokenRememberedHostIsSkipped) {
  int position = 5;
  EXPECT_EQ(NextLoginHostList(position, L"not a url", L""), SplitLoginHostList(kBuiltInLoginHostLists[0]));
  EXPECT_EQ(position, 1);
}

}  // namespace
