// The Windows sources of the machine identity, on whatever the system (or
// Wine) reports: the texts must have their forms, whatever the hardware.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "account/machine_identity.h"
#include "platform/win32.h"
// after windows.h
#include <iphlpapi.h>

namespace {

TEST(WindowsMachineIdentity, AdapterListMatchesTheSystemsAndFormsTheText) {
  auto source = MakePlatformMachineInfoSource();
  const auto adapters = source->ReadAdapters();
  ULONG size = 0;
  const DWORD rc = GetAdaptersInfo(nullptr, &size);
  if (rc == ERROR_NO_DATA) {
    EXPECT_FALSE(adapters.has_value());
  } else {
    ASSERT_TRUE(adapters.has_value());
    std::vector<std::uint8_t> buf(size);
    ASSERT_EQ(GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buf.data()), &size), static_cast<DWORD>(NO_ERROR));
    std::size_t count = 0;
    for (auto* p = reinterpret_cast<IP_ADAPTER_INFO*>(buf.data()); p; p = p->Next) {
      ASSERT_LT(count, adapters->size());
      EXPECT_EQ((*adapters)[count].description, std::string(p->Description));
      EXPECT_EQ((*adapters)[count].address.size(), p->AddressLength);
      ++count;
    }
    EXPECT_EQ(count, adapters->size());
  }
  const std::string identity = GetAdapterIdentity(*source);
  EXPECT_TRUE(std::regex_match(identity, std::regex("^$|^[0-9a-f]{12}(,[0-9a-f]{12}){0,2}$"))) << identity;
}

TEST(WindowsMachineIdentity, BiosTextHasFourPiecesWhenTheSystemHasAnInstance) {
  auto source = MakePlatformMachineInfoSource();
  const auto bios = source->ReadBios();
  const std::string identity = FormBiosIdentity(bios);
  if (bios) {
    EXPECT_EQ(std::count(identity.begin(), identity.end(), '|'), 3) << identity;
  } else {
    EXPECT_EQ(identity, "");
  }
  // Called twice in one process, as a second start-up path would: the
  // security set-up may only happen once and must not break the query.
  EXPECT_EQ(GetBiosIdentity(), identity);
}

TEST(WindowsMachineIdentity, DiskAnswersAreWellFormed) {
  auto source = MakePlatformMachineInfoSource();
  for (const DriveAnswer& answer : source->ReadDrives()) {
    if (answer.kind == DriveAnswer::Kind::IdentifyData) {
      EXPECT_EQ(answer.bytes.size(), 512u);
    }
    EXPECT_LT(answer.index, 4u);
  }
  const std::string identity = GetDiskIdentity(*source);
  if (!identity.empty()) {
    EXPECT_GE(std::count(identity.begin(), identity.end(), ' '), 2) << identity;
  }
}

}  // namespace
