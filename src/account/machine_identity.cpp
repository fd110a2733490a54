#include "account/machine_identity.h"

#include <cstdio>
#include <iterator>
#include <utility>

#include "platform/strings.h"
#include "platform/text_parse.h"

namespace {


std::string_view Trim(std::string_view s) { return TrimAsciiSpace(s); }

std::string_view UpToNul(std::string_view s) {
  const std::size_t nul = s.find('\0');
  return nul == std::string_view::npos ? s : s.substr(0, nul);
}

std::string_view BytesAt(const std::vector<std::uint8_t>& bytes, std::size_t offset, std::size_t length) {
  if (offset >= bytes.size()) return {};
  if (length > bytes.size() - offset) length = bytes.size() - offset;
  return std::string_view(reinterpret_cast<const char*>(bytes.data()) + offset, length);
}

std::uint32_t LittleEndian32(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  if (offset + 4 > bytes.size()) return 0xffffffffu;  // past the end: names no text
  return bytes[offset] | (bytes[offset + 1] << 8) | (bytes[offset + 2] << 16) |
         (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

// The zero-terminated text at `offset`, never reading past what was answered.
std::string_view DescriptorString(const std::vector<std::uint8_t>& descriptor, std::uint32_t offset) {
  return UpToNul(BytesAt(descriptor, offset, descriptor.size()));
}

// Slots past this are no drive any query can name; refusing them keeps a
// broken source from growing the table without end.
constexpr std::size_t kMaxDriveIndex = 256;

}  // namespace

std::string FormBiosIdentity(const std::optional<BiosProperties>& instance) {
  if (!instance) return {};
  static constexpr const wchar_t* kNames[] = {L"Manufacturer", L"Version", L"SMBIOSBIOSVersion", L"SerialNumber"};
  std::wstring joined;
  for (std::size_t i = 0; i < std::size(kNames); ++i) {
    if (i) joined += L'|';
    if (auto it = instance->find(kNames[i]); it != instance->end()) joined += it->second;
  }
  return WideToNarrow(joined);
}

std::string CleanIdentifyText(std::string_view bytes) {
  std::string text(Trim(UpToNul(bytes)));
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) std::swap(text[i], text[i + 1]);
  return std::string(Trim(text));
}

std::string IdentifyDataText(const std::vector<std::uint8_t>& identify) {
  const std::string serial = CleanIdentifyText(BytesAt(identify, 20, 20));
  const std::string firmware = CleanIdentifyText(BytesAt(identify, 46, 8));
  const std::string model = CleanIdentifyText(BytesAt(identify, 54, 40));
  return model + " " + firmware + " " + serial;
}

std::string JoinDriveFields(std::string_view first, std::string_view second, std::string_view third) {
  std::string out(Trim(first));
  out += ' ';
  out += Trim(second);
  out += ' ';
  out += Trim(third);
  return out;
}

std::string DeviceDescriptorText(const std::vector<std::uint8_t>& descriptor) {
  // Offsets of the vendor id, product id and serial number in the descriptor.
  return JoinDriveFields(DescriptorString(descriptor, LittleEndian32(descriptor, 12)),
                         DescriptorString(descriptor, LittleEndian32(descriptor, 16)),
                         DescriptorString(descriptor, LittleEndian32(descriptor, 24)));
}

void StoreDriveText(std::vector<std::string>& driveTable, std::size_t index, std::string text) {
  if (index >= kMaxDriveIndex) return;
  if (driveTable.size() < index + 1) driveTable.resize(index + 1);
  if (driveTable[index].size() < 5) driveTable[index] = std::move(text);
}

std::string FormDiskIdentity(const std::vector<DriveAnswer>& answers) {
  std::vector<std::string> driveTable;
  for (const DriveAnswer& answer : answers) {
    switch (answer.kind) {
      case DriveAnswer::Kind::IdentifyData:
        StoreDriveText(driveTable, answer.index, IdentifyDataText(answer.bytes));
        break;
      case DriveAnswer::Kind::DeviceDescriptor:
        StoreDriveText(driveTable, answer.index, DeviceDescriptorText(answer.bytes));
        break;
      case DriveAnswer::Kind::Text:
        StoreDriveText(driveTable, answer.index, answer.text);
        break;
    }
  }
  for (const std::string& text : driveTable) {
    if (!text.empty()) return text;
  }
  return {};
}

bool IsIdentityAdapter(const AdapterRecord& adapter) {
  if (adapter.type == kAdapterTypePpp || adapter.type == kAdapterTypeLoopback || adapter.type == kAdapterTypeSlip) {
    return false;
  }
  const std::string d = ToLowerAscii(adapter.description);
  auto has = [&d](std::string_view word) { return d.find(word) != std::string::npos; };
  for (std::string_view word :
       {"virtual", "vmware", "tunneling", "isatap adapter", "6to4 adapter", "bluetooth", "pptp", "pppoe"}) {
    if (has(word)) return false;
  }
  if ((has("wan") && has("interface")) || (has("tap-win") && has("adapter"))) return false;
  if (adapter.address.size() != 6) return false;
  for (std::size_t i = 0; i < 5; ++i) {
    if (adapter.address[i] != 0) return true;
  }
  return false;
}

std::string FormAdapterIdentity(const std::vector<AdapterRecord>& adapters) {
  std::string out;
  int taken = 0;
  for (const AdapterRecord& adapter : adapters) {
    if (!IsIdentityAdapter(adapter)) continue;
    if (taken) out += ',';
    char hex[13];
    std::snprintf(hex, sizeof hex, "%02x%02x%02x%02x%02x%02x", adapter.address[0], adapter.address[1],
                  adapter.address[2], adapter.address[3], adapter.address[4], adapter.address[5]);
    out += hex;
    if (++taken == 3) break;
  }
  return out;
}

std::string GetBiosIdentity(IMachineInfoSource& source) { return FormBiosIdentity(source.ReadBios()); }

std::string GetDiskIdentity(IMachineInfoSource& source) { return FormDiskIdentity(source.ReadDrives()); }

std::string GetAdapterIdentity(IMachineInfoSource& source) {
  auto adapters = source.ReadAdapters();
  return adapters ? FormAdapterIdentity(*adapters) : std::string();
}

std::string GetBiosIdentity() { return GetBiosIdentity(*MakePlatformMachineInfoSource()); }
std::string GetDiskIdentity() { return GetDiskIdentity(*MakePlatformMachineInfoSource()); }
std::string GetAdapterIdentity() { return GetAdapterIdentity(*MakePlatformMachineInfoSource()); }
