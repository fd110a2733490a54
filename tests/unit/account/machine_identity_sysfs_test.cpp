// The Linux sources of the machine identity, on a sysfs tree made by the test.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "account/machine_identity_linux.h"
#include "fakes/temp_dir.h"

namespace {

namespace fs = std::filesystem;

class SysfsIdentity : public ::testing::Test {
 protected:
  CTempDir dir;
  fs::path root = dir.Path() / "sys";

  void Put(const fs::path& relative, const std::string& bytes) {
    fs::create_directories((root / relative).parent_path());
    std::ofstream(root / relative, std::ios::binary) << bytes;
  }
  // A network interface; `device` false for software ones.
  void Interface(const std::string& name, int index, const std::string& address, bool device,
                 const std::string& type = "1", const std::string& driver = "e1000e") {
    const fs::path p = fs::path("class/net") / name;
    Put(p / "ifindex", std::to_string(index) + "\n");
    Put(p / "type", type + "\n");
    Put(p / "address", address + "\n");
    if (device) {
      fs::create_directories(root / "drivers" / driver);
      fs::create_directories(root / p / "device");
      fs::create_directory_symlink(root / "drivers" / driver, root / p / "device" / "driver");
    }
  }
  std::unique_ptr<IMachineInfoSource> Source() { return MakeSysfsMachineInfoSource(root.string()); }
};

TEST_F(SysfsIdentity, AdaptersBackedByADeviceInIndexOrder) {
  Interface("lo", 1, "00:00:00:00:00:00", false, "772");
  Interface("wlp3s0", 3, "00:1a:2b:3c:4d:5f", true, "1", "iwlwifi");
  Interface("enp0s31f6", 2, "00:1a:2b:3c:4d:5e", true);
  Interface("veth0", 4, "aa:bb:cc:dd:ee:ff", false);
  Interface("br0", 5, "11:22:33:44:55:66", false);
  Interface("usb0", 6, "00:00:00:00:00:01", true, "1", "cdc_ether");
  Interface("ppp0", 7, "", true, "512");
  Interface("ib0", 8, "80:00:02:08:fe:80:00:00:00:00:00:00:00:02:c9:03:00:0b:aa:bb", true, "32");
  EXPECT_EQ(GetAdapterIdentity(*Source()), "001a2b3c4d5e,001a2b3c4d5f");
}

TEST_F(SysfsIdentity, NoNetworkTreeGivesNoAdapters) {
  EXPECT_EQ(Source()->ReadAdapters(), std::nullopt);
  EXPECT_EQ(GetAdapterIdentity(*Source()), "");
}

TEST_F(SysfsIdentity, BiosFromFirmwareTable) {
  EXPECT_EQ(GetBiosIdentity(*Source()), "") << "no table, no instance";
  Put("class/dmi/id/bios_vendor", "QN Firmware Inc.\n");
  Put("class/dmi/id/bios_version", "1.4.2\n");
  Put("class/dmi/id/bios_release", "1.4\n");
  EXPECT_EQ(GetBiosIdentity(*Source()), "QN Firmware Inc.|1.4|1.4.2|") << "serial readable by root only";
  Put("class/dmi/id/product_serial", "PF2ABCDE\n");
  EXPECT_EQ(GetBiosIdentity(*Source()), "QN Firmware Inc.|1.4|1.4.2|PF2ABCDE");
}

TEST_F(SysfsIdentity, DisksInNameOrderInTheirForms) {
  EXPECT_EQ(GetDiskIdentity(*Source()), "");
  // Software block devices have no device behind them.
  Put("block/loop0/size", "0\n");
  Put("block/dm-0/size", "0\n");
  EXPECT_EQ(GetDiskIdentity(*Source()), "");

  // A drive that reports nothing is passed over.
  fs::create_directories(root / "block/sda/device");
  // SCSI-style: vendor, product, serial from the unit serial number page.
  Put("block/sdb/device/vendor", "QNSTOR  \n");
  Put("block/sdb/device/model", "Array Disk      \n");
  Put("block/sdb/device/rev", "0001\n");
  Put("block/sdb/device/vpd_pg80", std::string("\x00\x80\x00\x08  SN123\x00", 12));
  EXPECT_EQ(GetDiskIdentity(*Source()), "QNSTOR Array Disk SN123");

  // NVMe reports like identify data: model, firmware, serial.
  Put("block/nvme0n1/device/model", "QN NVMe 1TB                             \n");
  Put("block/nvme0n1/device/firmware_rev", "2B2QEXM7\n");
  Put("block/nvme0n1/device/serial", "  S4EWNX0R123456     \n");
  EXPECT_EQ(GetDiskIdentity(*Source()), "QN NVMe 1TB 2B2QEXM7 S4EWNX0R123456");

  // So does ATA behind the SCSI layer.
  Put("block/hda/device/vendor", "ATA     \n");
  Put("block/hda/device/model", "QN HDD\n");
  Put("block/hda/device/rev", "FW01\n");
  EXPECT_EQ(GetDiskIdentity(*Source()), "QN HDD FW01 ");
}

TEST(LinuxIdentity, TheRunningSystemGivesTextsOfTheirForms) {
  auto source = MakePlatformMachineInfoSource();
  const std::string adapters = GetAdapterIdentity(*source);
  EXPECT_TRUE(std::regex_match(adapters, std::regex("^$|^[0-9a-f]{12}(,[0-9a-f]{12}){0,2}$"))) << adapters;
  const std::string bios = GetBiosIdentity(*source);
  EXPECT_TRUE(bios.empty() || std::count(bios.begin(), bios.end(), '|') >= 3) << bios;
  const std::string disk = GetDiskIdentity(*source);
  EXPECT_TRUE(disk.empty() || std::count(disk.begin(), disk.end(), ' ') >= 2) << disk;
}

}  // namespace
#endif
