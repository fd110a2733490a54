#include "account/machine_identity_linux.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/strings.h"

namespace fs = std::filesystem;

namespace {

// Sysfs attributes are small; a bound keeps a strange file from costing much.
constexpr std::size_t kMaxAttribute = 4096;

std::optional<std::string> ReadAttribute(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes(kMaxAttribute, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (in.bad()) return std::nullopt;
  return bytes;
}

// Sysfs ends each text attribute with one line feed.
std::string ReadText(const fs::path& path) {
  std::string text = ReadAttribute(path).value_or(std::string());
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

bool IsDirectory(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

// The unit serial number page: its length in byte 3, the text from byte 4.
std::string SerialFromVpdPage80(const fs::path& path) {
  auto page = ReadAttribute(path);
  if (!page || page->size() < 4) return {};
  const std::size_t length = std::min<std::size_t>(static_cast<unsigned char>((*page)[3]), page->size() - 4);
  std::string text = page->substr(4, length);
  return text.substr(0, text.find('\0'));
}

std::uint32_t AdapterType(const std::string& arphrd) {
  if (arphrd == "1") return kAdapterTypeEthernet;
  if (arphrd == "772") return kAdapterTypeLoopback;
  if (arphrd == "512") return kAdapterTypePpp;
  if (arphrd == "256") return kAdapterTypeSlip;
  return kAdapterTypeOther;
}

std::vector<std::uint8_t> ParseHardwareAddress(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t used = 0;
    unsigned long value = 0;
    try {
      value = std::stoul(text.substr(i, 2), &used, 16);
    } catch (...) {
      return {};
    }
    if (used != 2 || value > 0xff) return {};
    bytes.push_back(static_cast<std::uint8_t>(value));
    i += 2;
    if (i < text.size()) {
      if (text[i] != ':') return {};
      ++i;
    }
  }
  return bytes;
}

class CSysfsMachineInfoSource : public IMachineInfoSource {
 public:
  explicit CSysfsMachineInfoSource(fs::path root) : root_(std::move(root)) {}

  std::optional<BiosProperties> ReadBios() override {
    const fs::path dmi = root_ / "class/dmi/id";
    if (!IsDirectory(dmi)) return std::nullopt;
    auto text = [&dmi](const char* name) { return NarrowToWide(ReadText(dmi / name)); };
    BiosProperties props;
    props[L"Manufacturer"] = text("bios_vendor");
    props[L"Version"] = text("bios_release");
    props[L"SMBIOSBIOSVersion"] = text("bios_version");
    // Readable by root only; others send it empty.
    props[L"SerialNumber"] = text("product_serial");
    return props;
  }

  std::vector<DriveAnswer> ReadDrives() override {
    std::vector<DriveAnswer> answers;
    std::vector<fs::path> disks;
    std::error_code ec;
    for (fs::directory_iterator it(root_ / "block", ec), end; !ec && it != end; it.increment(ec)) {
      if (IsDirectory(it->path() / "device")) disks.push_back(it->path());
    }
    std::sort(disks.begin(), disks.end());
    for (std::size_t i = 0; i < disks.size(); ++i) {
      const fs::path device = disks[i] / "device";
      std::string serial = ReadText(device / "serial");
      if (serial.empty()) serial = ReadText(disks[i] / "serial");
      if (serial.empty()) serial = SerialFromVpdPage80(device / "vpd_pg80");
      const std::string model = ReadText(device / "model");
      const std::string vendor = ReadText(device / "vendor");
      std::string firmware = ReadText(device / "firmware_rev");
      DriveAnswer answer;
      answer.index = i;
      if (!firmware.empty() || vendor.find_first_not_of(' ') == std::string::npos ||
          vendor.rfind("ATA", 0) == 0) {
        // What the drive itself reports (NVMe, ATA behind SCSI): the identify form.
        if (firmware.empty()) firmware = ReadText(device / "rev");
        answer.text = JoinDriveFields(model, firmware, serial);
      } else {
        answer.text = JoinDriveFields(vendor, model, serial);
      }
      if (answer.text.find_first_not_of(' ') == std::string::npos) continue;
      answers.push_back(std::move(answer));
    }
    return answers;
  }

  std::optional<std::vector<AdapterRecord>> ReadAdapters() override {
    const fs::path net = root_ / "class/net";
    if (!IsDirectory(net)) return std::nullopt;
    std::vector<std::pair<long, AdapterRecord>> found;
    std::error_code ec;
    for (fs::directory_iterator it(net, ec), end; !ec && it != end; it.increment(ec)) {
      const fs::path p = it->path();
      // Interfaces not backed by a device (bridges, tunnels, veth, dummies)
      // are software, never this computer's own hardware.
      if (!IsDirectory(p / "device")) continue;
      AdapterRecord record;
      record.type = AdapterType(ReadText(p / "type"));
      std::string driver;
      std::error_code linkError;
      const fs::path target = fs::read_symlink(p / "device" / "driver", linkError);
      if (!linkError) driver = target.filename().string();
      record.description = p.filename().string() + (driver.empty() ? "" : " " + driver);
      record.address = ParseHardwareAddress(ReadText(p / "address"));
      long index = 0;
      try {
        index = std::stol(ReadText(p / "ifindex"));
      } catch (...) {
        index = 0;
      }
      found.emplace_back(index, std::move(record));
    }
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<AdapterRecord> adapters;
    for (auto& [index, record] : found) adapters.push_back(std::move(record));
    return adapters;
  }

 private:
  fs::path root_;
};

}  // namespace

std::unique_ptr<IMachineInfoSource> MakeSysfsMachineInfoSource(const std::string& sysRoot) {
  return std::make_unique<CSysfsMachineInfoSource>(sysRoot);
}

std::unique_ptr<IMachineInfoSource> MakePlatformMachineInfoSource() { return MakeSysfsMachineInfoSource("/sys"); }
