#include "account/machine_identity.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// An identify field as a drive stores it: two characters per word, the first
// in the high byte, padded with blanks.
void PutField(std::vector<std::uint8_t>& identify, std::size_t offset, std::size_t size, std::string text) {
  text.resize(size, ' ');
  for (std::size_t i = 0; i + 1 < size; i += 2) std::swap(text[i], text[i + 1]);
  std::memcpy(identify.data() + offset, text.data(), size);
}

std::vector<std::uint8_t> Identify(const std::string& model, const std::string& firmware, const std::string& serial) {
  std::vector<std::uint8_t> identify(512, 0);
  PutField(identify, 20, 20, serial);
  PutField(identify, 46, 8, firmware);
  PutField(identify, 54, 40, model);
  return identify;
}

// A storage device descriptor: a 40-byte head, then the texts.
std::vector<std::uint8_t> Descriptor(const char* vendor, const char* product, const char* serial) {
  std::vector<std::uint8_t> d(40, 0);
  d[0] = 40;
  auto put = [&d](std::size_t at, const char* text) {
    std::uint32_t offset = 0;
    if (text) {
      offset = static_cast<std::uint32_t>(d.size());
      for (const char* c = text;; ++c) {
        d.push_back(static_cast<std::uint8_t>(*c));
        if (!*c) break;
      }
    }
    std::memcpy(d.data() + at, &offset, 4);  // little-endian on every target we build
  };
  put(12, vendor);
  put(16, product);
  put(24, serial);
  return d;
}

TEST(MachineIdentity, CleanIdentifyText) {
  struct Case {
    std::string bytes, expected;
  } cases[] = {
      {"2143658709BADCFE    ", "1234567890ABCDEF"},
      {" ACB", "CAB"},  // the blank goes before the pairs are swapped
      {"", ""},
      {"     ", ""},
      {"\t\r\nBA\n", "AB"},
      {"BADC E", "ABCDE"},  // a last odd character stays
      {"  ts", "st"},
      {std::string("BA\0DC", 5), "AB"},  // the text ends at a NUL
      {"eSirla", "Serial"},
  };
  for (const Case& c : cases) EXPECT_EQ(CleanIdentifyText(c.bytes), c.expected) << c.bytes;
}

TEST(MachineIdentity, IdentifyDataGivesModelFirmwareSerial) {
  EXPECT_EQ(IdentifyDataText(Identify("QN SSD 512GB", "FW1.02", "S3R14L")), "QN SSD 512GB FW1.02 S3R14L");
  EXPECT_EQ(IdentifyDataText(std::vector<std::uint8_t>(512, 0)), "  ");
  // Short answers never read past their end.
  EXPECT_EQ(IdentifyDataText(std::vector<std::uint8_t>(30, ' ')), "  ");
}

TEST(MachineIdentity, DeviceDescriptorGivesVendorProductSerial) {
  EXPECT_EQ(DeviceDescriptorText(Descriptor("QNVENDOR", " Disk 1 ", "SN-77\t")), "QNVENDOR Disk 1 SN-77");
  // An offset of 0 reads from the descriptor's first byte (here its size, 40).
  EXPECT_EQ(DeviceDescriptorText(Descriptor(nullptr, "Disk", nullptr)), "( Disk (");
  // Offsets past the answer and a cut answer give empty parts, nothing read
  // beyond what the drive answered.
  std::vector<std::uint8_t> past = Descriptor("V", "P", "S");
  const std::uint32_t far = 100000;
  std::memcpy(past.data() + 24, &far, 4);
  EXPECT_EQ(DeviceDescriptorText(past), "V P ");
  std::vector<std::uint8_t> unterminated = Descriptor("V", "P", "S");
  unterminated.pop_back();
  EXPECT_EQ(DeviceDescriptorText(unterminated), "V P S");
  EXPECT_EQ(DeviceDescriptorText(std::vector<std::uint8_t>(10, 'x')), "  ");
}

TEST(MachineIdentity, DriveTableKeepsTheFirstTextOfFiveOrMore) {
  using K = DriveAnswer::Kind;
  auto text = [](std::size_t index, std::string t) {
    DriveAnswer a;
    a.kind = K::Text;
    a.index = index;
    a.text = std::move(t);
    return a;
  };
  struct Case {
    const char* what;
    std::vector<DriveAnswer> answers;
    std::string expected;
  } cases[] = {
      {"no drive answers", {}, ""},
      {"a short text is overwritten", {text(0, "abc"), text(0, "later drive")}, "later drive"},
      {"five characters are kept", {text(0, "abcde"), text(0, "later drive")}, "abcde"},
      {"four characters are not", {text(0, "abcd"), text(0, "later")}, "later"},
      {"an empty slot comes after a lower filled one", {text(2, "second"), text(1, "first")}, "first"},
      {"empty slots are passed over", {text(3, "only")}, "only"},
      {"identify then descriptor for one drive",
       {DriveAnswer{K::IdentifyData, 0, Identify("AB", "", ""), {}},
        DriveAnswer{K::DeviceDescriptor, 0, Descriptor("Vend", "Prod", "Ser"), {}}},
       "Vend Prod Ser"},
      {"a full identify text stays",
       {DriveAnswer{K::IdentifyData, 1, Identify("Model", "1.0", "XYZ"), {}},
        DriveAnswer{K::DeviceDescriptor, 1, Descriptor("Vend", "Prod", "Ser"), {}}},
       "Model 1.0 XYZ"},
      {"an index no drive has is ignored", {text(100000, "huge index")}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(FormDiskIdentity(c.answers), c.expected) << c.what;
}

AdapterRecord Adapter(const char* description, std::vector<std::uint8_t> address,
                      std::uint32_t type = kAdapterTypeEthernet) {
  return AdapterRecord{type, description, std::move(address)};
}

TEST(MachineIdentity, AdapterIdentity) {
  const std::vector<std::uint8_t> a = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  const std::vector<std::uint8_t> b = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F};
  const std::vector<std::uint8_t> c = {0xAA, 0, 0, 0, 0, 0};
  const std::vector<std::uint8_t> d = {0, 0, 0, 0, 0x01, 0xFF};
  struct Case {
    const char* what;
    std::vector<AdapterRecord> adapters;
    std::string expected;
  } cases[] = {
      {"two physical adapters", {Adapter("Intel Ethernet", a), Adapter("Realtek PCIe", b)},
       "001a2b3c4d5e,001a2b3c4d5f"},
      {"none", {}, ""},
      {"VMware virtual adapter", {Adapter("VMware Virtual Ethernet Adapter for VMnet8", a), Adapter("NIC", b)},
       "001a2b3c4d5f"},
      {"TAP-Win32 adapter", {Adapter("TAP-Win32 Adapter V9", a)}, ""},
      {"tap-win without adapter", {Adapter("tap-win32 thing", a)}, "001a2b3c4d5e"},
      {"WAN miniport interface", {Adapter("WAN Miniport Interface", a)}, ""},
      {"wan without interface is kept", {Adapter("WAN Miniport (IP)", a)}, "001a2b3c4d5e"},
      {"every exclusion word",
       {Adapter("x tunneling y", a), Adapter("ISATAP Adapter", a), Adapter("6TO4 ADAPTER", a),
        Adapter("Bluetooth PAN", a), Adapter("RAS PPTP", a), Adapter("PPPoE link", a), Adapter("VMWARE", a)},
       ""},
      {"PPP, loopback and SLIP types",
       {Adapter("a", a, kAdapterTypePpp), Adapter("b", a, kAdapterTypeLoopback), Adapter("c", a, kAdapterTypeSlip),
        Adapter("d", b, kAdapterTypeOther)},
       "001a2b3c4d5f"},
      {"only the first five bytes count", {Adapter("x", {0, 0, 0, 0, 0, 0x01}), Adapter("y", c)}, "aa0000000000"},
      {"a zero-led address with a non-zero fifth byte", {Adapter("x", d)}, "00000000" "01ff"},
      {"addresses that are not six bytes", {Adapter("x", {1, 2, 3, 4, 5}), Adapter("y", {1, 2, 3, 4, 5, 6, 7})}, ""},
      {"four qualifying give three",
       {Adapter("1", a), Adapter("2", b), Adapter("3", c), Adapter("4", d)},
       "001a2b3c4d5e,001a2b3c4d5f,aa0000000000"},
      {"skipped ones do not count toward three",
       {Adapter("virtual", a), Adapter("1", a), Adapter("2", b), Adapter("3", c), Adapter("4", d)},
       "001a2b3c4d5e,001a2b3c4d5f,aa0000000000"},
  };
  for (const Case& k : cases) EXPECT_EQ(FormAdapterIdentity(k.adapters), k.expected) << k.what;
}

TEST(MachineIdentity, BiosIdentity) {
  struct Case {
    const char* what;
    std::optional<BiosProperties> instance;
    std::string expected;
  } cases[] = {
      {"no instance", std::nullopt, ""},
      {"all four, others ignored",
       BiosProperties{{L"Manufacturer", L"QN Firmware"},
                      {L"Version", L"QN - 1072009"},
                      {L"SMBIOSBIOSVersion", L"A12"},
                      {L"SerialNumber", L"8XK2Q1"},
                      {L"Caption", L"Default System BIOS"}},
       "QN Firmware|QN - 1072009|A12|8XK2Q1"},
      {"a missing property is an empty piece",
       BiosProperties{{L"Manufacturer", L"M"}, {L"SMBIOSBIOSVersion", L"S"}, {L"SerialNumber", L"N"}}, "M||S|N"},
      {"an instance without any of them", BiosProperties{}, "|||"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormBiosIdentity(c.instance), c.expected) << c.what;
}

class CFailingSource : public IMachineInfoSource {
 public:
  std::optional<BiosProperties> ReadBios() override { return std::nullopt; }
  std::vector<DriveAnswer> ReadDrives() override { return {}; }
  std::optional<std::vector<AdapterRecord>> ReadAdapters() override { return std::nullopt; }
};

TEST(MachineIdentity, ASystemThatGivesNothingGivesEmptyTexts) {
  CFailingSource source;
  EXPECT_EQ(GetBiosIdentity(source), "");
  EXPECT_EQ(GetDiskIdentity(source), "");
  EXPECT_EQ(GetAdapterIdentity(source), "");
}

}  // namespace
