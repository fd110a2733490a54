// The dial-up service's records byte for byte as the system reads them: its
// headers pack them to 4 bytes, so only the handle and the callback id change
// size between x86 and x64. We pass the older record forms (the ones every
// supported system accepts) and fill them in portable code, so the same bytes
// are checked by the native tests.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ras {

constexpr std::size_t kMaxEntryName = 256;
constexpr std::size_t kMaxPhoneNumber = 128;
constexpr std::size_t kMaxCallbackNumber = 128;
constexpr std::size_t kMaxDeviceType = 16;
constexpr std::size_t kMaxDeviceName = 128;
constexpr std::size_t kMaxAreaCode = 10;
constexpr std::size_t kMaxPadType = 32;
constexpr std::size_t kMaxX25Address = 200;
constexpr std::size_t kMaxFacilities = 200;
constexpr std::size_t kMaxUserData = 200;
constexpr std::size_t kMaxDnsSuffix = 256;
constexpr std::size_t kMaxPath = 260;
constexpr std::size_t kUserNameLength = 256;
constexpr std::size_t kPasswordLength = 256;
constexpr std::size_t kDomainLength = 15;
constexpr std::size_t kMaxIpAddress = 15;

#pragma pack(push, 4)

struct Guid {
  std::uint32_t data1;
  std::uint16_t data2, data3;
  std::uint8_t data4[8];
};

// RASENTRYW, the form with the second and third option words.
struct Entry {
  std::uint32_t size;
  std::uint32_t options;
  std::uint32_t countryId;
  std::uint32_t countryCode;
  char16_t areaCode[kMaxAreaCode + 1];
  char16_t localPhoneNumber[kMaxPhoneNumber + 1];
  std::uint32_t alternateOffset;
  std::uint32_t ipAddress, dnsAddress, dnsAltAddress, winsAddress, winsAltAddress;
  std::uint32_t frameSize;
  std::uint32_t netProtocols;
  std::uint32_t framingProtocol;
  char16_t script[kMaxPath];
  char16_t autodialDll[kMaxPath];
  char16_t autodialFunc[kMaxPath];
  char16_t deviceType[kMaxDeviceType + 1];
  char16_t deviceName[kMaxDeviceName + 1];
  char16_t x25PadType[kMaxPadType + 1];
  char16_t x25Address[kMaxX25Address + 1];
  char16_t x25Facilities[kMaxFacilities + 1];
  char16_t x25UserData[kMaxUserData + 1];
  std::uint32_t channels;
  std::uint32_t reserved1, reserved2;
  std::uint32_t subEntries;
  std::uint32_t dialMode;
  std::uint32_t dialExtraPercent, dialExtraSampleSeconds;
  std::uint32_t hangUpExtraPercent, hangUpExtraSampleSeconds;
  std::uint32_t idleDisconnectSeconds;
  std::uint32_t entryType;
  std::uint32_t encryptionType;
  std::uint32_t customAuthKey;
  Guid guidId;
  char16_t customDialDll[kMaxPath];
  std::uint32_t vpnStrategy;
  std::uint32_t options2;
  std::uint32_t options3;
  char16_t dnsSuffix[kMaxDnsSuffix];
  std::uint32_t tcpWindowSize;
  char16_t prerequisitePbk[kMaxPath];
  char16_t prerequisiteEntry[kMaxEntryName + 1];
  std::uint32_t redialCount;
  std::uint32_t redialPause;
};

// RASDIALPARAMSW with the sub-entry and the callback id, without the
// interface index of later systems.
struct DialParams {
  std::uint32_t size;
  char16_t entryName[kMaxEntryName + 1];
  char16_t phoneNumber[kMaxPhoneNumber + 1];
  char16_t callbackNumber[kMaxCallbackNumber + 1];
  char16_t userName[kUserNameLength + 1];
  char16_t password[kPasswordLength + 1];
  char16_t domain[kDomainLength + 1];
  std::uint32_t subEntry;
  std::uintptr_t callbackId;
};

// RASCONNW with the entry's GUID, flags and logon session.
struct Connection {
  std::uint32_t size;
  void* handle;
  char16_t entryName[kMaxEntryName + 1];
  char16_t deviceType[kMaxDeviceType + 1];
  char16_t deviceName[kMaxDeviceName + 1];
  char16_t phonebook[kMaxPath];
  std::uint32_t subEntry;
  Guid guidEntry;
  std::uint32_t flags;
  std::uint32_t luidLow;
  std::int32_t luidHigh;
};

// RASCREDENTIALSW.
struct Credentials {
  std::uint32_t size;
  std::uint32_t mask;
  char16_t userName[kUserNameLength + 1];
  char16_t password[kPasswordLength + 1];
  char16_t domain[kDomainLength + 1];
};

// RASPPPIPW with the option words.
struct PppIp {
  std::uint32_t size;
  std::uint32_t error;
  char16_t ipAddress[kMaxIpAddress + 1];
  char16_t serverIpAddress[kMaxIpAddress + 1];
  std::uint32_t options;
  std::uint32_t serverOptions;
};

// RAS_STATS.
struct Statistics {
  std::uint32_t size;
  std::uint32_t bytesSent;
  std::uint32_t bytesReceived;
  std::uint32_t framesSent, framesReceived;
  std::uint32_t crcErrors, timeoutErrors, alignmentErrors, hardwareOverrunErrors, framingErrors,
      bufferOverrunErrors;
  std::uint32_t compressionRatioIn, compressionRatioOut;
  std::uint32_t bitsPerSecond;
  std::uint32_t connectDuration;
};

#pragma pack(pop)

constexpr bool kIs64Bit = sizeof(void*) == 8;
static_assert(sizeof(Entry) == 5616);
static_assert(offsetof(Entry, guidId) == 3508 && offsetof(Entry, vpnStrategy) == 4044);
static_assert(sizeof(DialParams) == (kIs64Bit ? 2108 : 2104));
static_assert(offsetof(DialParams, callbackId) == 2100);
static_assert(sizeof(Connection) == (kIs64Bit ? 1372 : 1368));
static_assert(offsetof(Connection, entryName) == (kIs64Bit ? 12 : 8));
static_assert(sizeof(Credentials) == 1068);
static_assert(sizeof(PppIp) == 80);
static_assert(sizeof(Statistics) == 60);

// Copies `text` into a fixed field as UTF-16, cut to fit (never inside a
// surrogate pair) and always terminated.
template <std::size_t N>
void CopyText(char16_t (&field)[N], std::wstring_view text) {
  std::size_t out = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::uint32_t code = static_cast<std::uint32_t>(text[i]);
    char16_t units[2];
    std::size_t count = 1;
    if (code > 0xFFFF) {
      units[0] = static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      units[1] = static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
      count = 2;
    } else if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() &&
               static_cast<std::uint32_t>(text[i + 1]) >= 0xDC00 && static_cast<std::uint32_t>(text[i + 1]) < 0xE000) {
      units[0] = static_cast<char16_t>(code);  // a pair already, as on Windows
      units[1] = static_cast<char16_t>(text[++i]);
      count = 2;
    } else {
      units[0] = static_cast<char16_t>(code);
    }
    if (out + count > N - 1) break;
    for (std::size_t u = 0; u < count; ++u) field[out++] = units[u];
  }
  for (std::size_t i = out; i < N; ++i) field[i] = 0;
}

// The text of a terminated UTF-16 field, read no further than the field.
template <std::size_t N>
std::wstring ReadText(const char16_t (&field)[N]) {
  std::wstring text;
  for (std::size_t i = 0; i < N && field[i] != 0; ++i) {
    const std::uint32_t c = field[i];
    if constexpr (sizeof(wchar_t) == 4) {
      if (c >= 0xD800 && c < 0xDC00 && i + 1 < N && field[i + 1] >= 0xDC00 && field[i + 1] < 0xE000) {
        text += static_cast<wchar_t>(0x10000 + ((c - 0xD800) << 10) + (field[i + 1] - 0xDC00));
        ++i;
        continue;
      }
    }
    text += static_cast<wchar_t>(c);
  }
  return text;
}

}  // namespace ras
