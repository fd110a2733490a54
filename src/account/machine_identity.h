// The three texts that identify this computer to the account service: BIOS,
// disk and network adapters. The system is read into plain records by an
// IMachineInfoSource; the texts are formed from those records by the pure
// functions below, the same on every platform.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Property name to value text, of the first BIOS instance the system gave.
using BiosProperties = std::map<std::wstring, std::wstring>;

// One drive's answer to one query, in query order.
struct DriveAnswer {
  enum class Kind { IdentifyData, DeviceDescriptor, Text };
  Kind kind = Kind::Text;
  std::size_t index = 0;        // the drive number the answer is stored at
  std::vector<std::uint8_t> bytes;  // 512 identify bytes, or the descriptor as answered
  std::string text;             // Kind::Text: the formed description
};

struct AdapterRecord {
  std::uint32_t type = 0;       // the system's interface type number
  std::string description;      // narrow text
  std::vector<std::uint8_t> address;
};

constexpr std::uint32_t kAdapterTypePpp = 23;
constexpr std::uint32_t kAdapterTypeLoopback = 24;
constexpr std::uint32_t kAdapterTypeSlip = 28;
constexpr std::uint32_t kAdapterTypeEthernet = 6;
constexpr std::uint32_t kAdapterTypeOther = 1;

class IMachineInfoSource {
 public:
  virtual ~IMachineInfoSource() = default;
  // Nothing when the query failed or gave no instance.
  virtual std::optional<BiosProperties> ReadBios() = 0;
  virtual std::vector<DriveAnswer> ReadDrives() = 0;
  // Nothing when the enumeration failed; adapters in the system's order.
  virtual std::optional<std::vector<AdapterRecord>> ReadAdapters() = 0;
};

// The running system's source.
std::unique_ptr<IMachineInfoSource> MakePlatformMachineInfoSource();

std::string GetBiosIdentity(IMachineInfoSource& source);
std::string GetDiskIdentity(IMachineInfoSource& source);
std::string GetAdapterIdentity(IMachineInfoSource& source);
// The same from the running system.
std::string GetBiosIdentity();
std::string GetDiskIdentity();
std::string GetAdapterIdentity();

// Forming rules.
std::string FormBiosIdentity(const std::optional<BiosProperties>& instance);
// Trims tabs, line ends and blanks, swaps each pair of characters, trims
// again. The text ends at its first NUL byte.
std::string CleanIdentifyText(std::string_view bytes);
// From 512 identify bytes: model, firmware revision, serial number.
std::string IdentifyDataText(const std::vector<std::uint8_t>& identify);
// From a storage device descriptor as answered: vendor, product, serial.
std::string DeviceDescriptorText(const std::vector<std::uint8_t>& descriptor);
// Three parts, each trimmed, joined with single blanks.
std::string JoinDriveFields(std::string_view first, std::string_view second, std::string_view third);
// The drive table rule: a slot takes a text only while it holds fewer than 5
// characters.
void StoreDriveText(std::vector<std::string>& driveTable, std::size_t index, std::string text);
std::string FormDiskIdentity(const std::vector<DriveAnswer>& answers);
// Whether the adapter counts as physical by its type, description and address.
bool IsIdentityAdapter(const AdapterRecord& adapter);
std::string FormAdapterIdentity(const std::vector<AdapterRecord>& adapters);
