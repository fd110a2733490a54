// What the client sends to the account service's client.php and how it
// reads the route reply. The transfers themselves are CCurlPlus.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "account/curl_plus.h"
#include "account/request_random.h"

inline constexpr const char* kClientVersionText = "2.3.0.2";
inline constexpr const char* kInterfaceLanguage = "en";
inline constexpr const wchar_t* kServiceScript = L"client.php";

// The three machine identity texts, computed once at start-up elsewhere.
struct MachineIdentities {
  std::string bios;
  std::string disk;
  std::string network;
};

struct MaskedSecret {
  std::string masked;
  std::string pad;
};

// Appends "rf=main" with "?" or "&" as the URL needs.
std::wstring AddChannelTag(std::wstring_view url);

// Masks a secret with a random pad of its length; empty in, empty out.
MaskedSecret MaskSecret(std::string_view secret, const RandomSource& random = NextRequestRandom);

// RFC 4648 standard alphabet with "=" padding.
std::string Base64Encode(std::string_view bytes);

// A reply scrambling key for one request: 1 to 254.
std::int32_t ChooseScrambleKey(const RandomSource& random = NextRequestRandom);

// The secrets of one login, masked once: every request of that login (both
// login attempts, the route command) sends these same values, so a service
// may tie the later requests to the login.
struct LoginSecrets {
  MaskedSecret password;  // the password in the narrow code page
  MaskedSecret bios;
  MaskedSecret disk;
  MaskedSecret network;
};
LoginSecrets MaskLoginSecrets(std::wstring_view password, const MachineIdentities& identities,
                              const RandomSource& random = NextRequestRandom);

// `time` is seconds since 1970 (UTC); its low 32 bits are sent as a signed number.
CCurlPlus BuildLoginRequest(std::wstring_view loginBaseUrl, std::wstring_view account, const LoginSecrets& secrets,
                            std::int64_t time, const RandomSource& random = NextRequestRandom,
                            const CurlPlusLimits& limits = CurlPlusLimits());

// `password` is the login's masked password, sent as it was in the login.
CCurlPlus BuildRouteRequest(std::wstring_view loginBaseUrl, std::wstring_view account, const MaskedSecret& password,
                            std::wstring_view section, std::wstring_view routeId,
                            const RandomSource& random = NextRequestRandom,
                            const CurlPlusLimits& limits = CurlPlusLimits());

// The host probe of one base URL: v, l and xor only, no channel tag.
CCurlPlus BuildProbeRequest(std::wstring_view loginBaseUrl, const RandomSource& random = NextRequestRandom,
                            const CurlPlusLimits& limits = CurlPlusLimits());

// The getvpnroutes reply: plain lines up to the first NUL byte.
std::vector<std::wstring> SplitRouteLines(std::string_view reply);

std::wstring ToHttpsBase(std::wstring_view base);
std::wstring BaseUrlOf(std::wstring_view url);
std::wstring DeriveWebSiteUrl(std::wstring_view base);

// A ";"-separated list of login base URLs: pieces trimmed, empty pieces and
// pieces that are not http or https URLs dropped, a missing final "/" added
// (the script name is appended to each base as it is).
std::vector<std::wstring> SplitLoginHostList(std::wstring_view list);
