#include "account/account_service.h"

#include <cwctype>

#include "platform/strings.h"
#include "platform/text_parse.h"

namespace {

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}


std::wstring CommandUrl(std::wstring_view loginBaseUrl) {
  std::wstring url(loginBaseUrl);
  url += kServiceScript;
  return url;
}

void AddCommonHead(CCurlPlus& request, std::int32_t key) {
  request.SetScrambleKey(key);
  request.AddField("xor", std::to_string(key));
}

void AddMasked(CCurlPlus& request, const char* maskedName, const char* padName, const MaskedSecret& m,
               bool padFirst) {
  if (padFirst) {
    request.AddField(padName, Base64Encode(m.pad));
    request.AddField(maskedName, Base64Encode(m.masked));
  } else {
    request.AddField(maskedName, Base64Encode(m.masked));
    request.AddField(padName, Base64Encode(m.pad));
  }
}

}  // namespace

std::wstring AddChannelTag(std::wstring_view url) {
  std::wstring out(url);
  out += out.find(L'?') == std::wstring::npos ? L'?' : L'&';
  out += L"rf=main";
  return out;
}

MaskedSecret MaskSecret(std::string_view secret, const RandomSource& random) {
  MaskedSecret out;
  const std::size_t n = secret.size();
  if (n == 0) return out;
  out.masked.reserve(n);
  out.pad.reserve(n);
  std::size_t pos = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const auto r = static_cast<unsigned char>(random() & 0xff);
    if (i == 0) pos = static_cast<std::size_t>(255 - r) % n;
    out.pad.push_back(static_cast<char>(r));
    const auto x = static_cast<unsigned char>(secret[pos]);
    unsigned char y = 0;
    switch (pos % 3) {
      case 0: y = static_cast<unsigned char>(x ^ r); break;
      case 1: y = static_cast<unsigned char>(x + r); break;
      default: y = static_cast<unsigned char>(x - r); break;
    }
    out.masked.push_back(static_cast<char>(y));
    pos = (pos + 1) % n;
  }
  return out;
}

std::string Base64Encode(std::string_view bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                            (static_cast<unsigned char>(bytes[i + 1]) << 8) | static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::int32_t ChooseScrambleKey(const RandomSource& random) {
  return static_cast<std::int32_t>(random() % 254u) + 1;
}

LoginSecrets MaskLoginSecrets(std::wstring_view password, const MachineIdentities& identities,
                              const RandomSource& random) {
  LoginSecrets secrets;
  secrets.password = MaskSecret(WideToNarrow(password), random);
  secrets.bios = MaskSecret(identities.bios, random);
  secrets.disk = MaskSecret(identities.disk, random);
  secrets.network = MaskSecret(identities.network, random);
  return secrets;
}

CCurlPlus BuildLoginRequest(std::wstring_view loginBaseUrl, std::wstring_view account, const LoginSecrets& secrets,
                            std::int64_t time, const RandomSource& random, const CurlPlusLimits& limits) {
  CCurlPlus request(AddChannelTag(CommandUrl(loginBaseUrl)), limits);
  AddCommonHead(request, ChooseScrambleKey(random));
  request.AddField("u", WideToNarrow(account));
  AddMasked(request, "p", "s", secrets.password, false);
  AddMasked(request, "b", "a", secrets.bios, true);
  AddMasked(request, "d", "c", secrets.disk, true);
  AddMasked(request, "f", "e", secrets.network, true);
  const auto low = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(time)));
  request.AddField("t", std::to_string(low));
  request.AddField("v", kClientVersionText);
  request.AddField("l", kInterfaceLanguage);
  request.AddField("cmd", "login");
  return request;
}

CCurlPlus BuildRouteRequest(std::wstring_view loginBaseUrl, std::wstring_view account, const MaskedSecret& password,
                            std::wstring_view section, std::wstring_view routeId, const RandomSource& random,
                            const CurlPlusLimits& limits) {
  CCurlPlus request(AddChannelTag(CommandUrl(loginBaseUrl)), limits);
  AddCommonHead(request, ChooseScrambleKey(random));
  request.AddField("u", WideToNarrow(account));
  AddMasked(request, "p", "s", password, false);
  request.AddField("v", kClientVersionText);
  request.AddField("l", kInterfaceLanguage);
  request.AddField("cmd", "getvpnroutes");
  request.AddField("section", WideToNarrow(section));
  request.AddField("id", WideToNarrow(routeId));
  return request;
}

CCurlPlus BuildProbeRequest(std::wstring_view loginBaseUrl, const RandomSource& random,
                            const CurlPlusLimits& limits) {
  CCurlPlus request(CommandUrl(loginBaseUrl), limits);
  const std::int32_t key = ChooseScrambleKey(random);
  request.SetScrambleKey(key);
  request.AddField("v", kClientVersionText);
  request.AddField("l", kInterfaceLanguage);
  request.AddField("xor", std::to_string(key));
  return request;
}

std::vector<std::wstring> SplitRouteLines(std::string_view reply) {
  const std::size_t nul = reply.find('\0');
  if (nul != std::string_view::npos) reply = reply.substr(0, nul);
  std::vector<std::wstring> routes;
  std::size_t start = 0;
  while (start <= reply.size()) {
    std::size_t end = reply.find('\n', start);
    if (end == std::string_view::npos) end = reply.size();
    std::string_view line = reply.substr(start, end - start);
    if (!line.empty()) {
      std::wstring text = NarrowToWide(line);
      std::size_t first = text.find_first_not_of(L'\r');
      if (first != std::wstring::npos) {
        std::size_t last = text.find_last_not_of(L'\r');
        routes.push_back(text.substr(first, last - first + 1));
      }
    }
    start = end + 1;
  }
  return routes;
}

std::wstring ToHttpsBase(std::wstring_view base) {
  std::wstring out(base);
  if (!StartsWith(base, L"http:")) return out;
  out = L"https:" + out.substr(5);
  const std::size_t colon = out.size() > 8 ? out.find(L':', 8) : std::wstring::npos;
  if (colon != std::wstring::npos) {
    out.resize(colon);
    out += L'/';
  }
  return out;
}

std::wstring BaseUrlOf(std::wstring_view url) {
  if (url.size() < 9 || !(StartsWith(url, L"http://") || StartsWith(url, L"https://"))) return {};
  const std::size_t slash = url.find(L'/', 8);
  if (slash == std::wstring_view::npos) return std::wstring(url);
  return std::wstring(url.substr(0, slash + 1));
}

std::wstring DeriveWebSiteUrl(std::wstring_view base) {
  std::wstring scheme = L"http";
  std::wstring_view text = base;
  if (StartsWith(text, L"https://")) {
    scheme = L"https";
    text.remove_prefix(8);
  } else if (StartsWith(text, L"http://")) {
    text.remove_prefix(7);
  }
  while (!text.empty() && text.front() == L'/') text.remove_prefix(1);
  while (!text.empty() && text.back() == L'/') text.remove_suffix(1);
  const std::size_t colon = text.find(L':');
  if (colon != std::wstring_view::npos) text = text.substr(0, colon);
  if (!text.empty() && text.back() >= L'0' && text.back() <= L'9')
    return scheme + L"://" + std::wstring(text) + L"/";
  const std::size_t firstDot = text.find(L'.');
  if (firstDot != std::wstring_view::npos && text.find(L'.', firstDot + 1) != std::wstring_view::npos)
    text.remove_prefix(firstDot + 1);
  return scheme + L"://www." + std::wstring(text) + L"/";
}

std::vector<std::wstring> SplitLoginHostList(std::wstring_view list) {
  std::vector<std::wstring> urls;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(L';', start);
    if (end == std::wstring_view::npos) end = list.size();
    const std::wstring_view piece = TrimAsciiSpace(list.substr(start, end - start));
    start = end + 1;
    std::wstring url(piece);
    std::size_t schemeLength = 0;
    const std::wstring lower = ToLowerAscii(std::wstring_view(url).substr(0, 8));
    if (StartsWith(lower, L"https://")) schemeLength = 8;
    else if (StartsWith(lower, L"http://")) schemeLength = 7;
    else continue;
    // A host is needed, and no blanks inside: they would never form a URL.
    if (url.size() <= schemeLength || url[schemeLength] == L'/' || url.find_first_of(L" \t") != std::wstring::npos)
      continue;
    url.replace(0, schemeLength, lower.substr(0, schemeLength));
    if (url.back() != L'/') url += L'/';
    urls.push_back(std::move(url));
  }
  return urls;
}
