// The system registry accessors against the real registry, under a
// test-only key below the local machine root.
#include "account/machine_registry.h"

#include <gtest/gtest.h>

#include "platform/win32.h"

namespace {

class MachineRegistry : public ::testing::Test {
 protected:
  const std::wstring path = L"Software\\QuillnetTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(GetTickCount64());
  HKEY raw = nullptr;

  void SetUp() override {
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw,
                              nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    if (raw) RegCloseKey(raw);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
  }
  void Put(const wchar_t* name, DWORD type, const void* data, std::size_t size) {
    ASSERT_EQ(RegSetValueExW(raw, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)),
              ERROR_SUCCESS);
  }
  std::wstring RawBytes(const wchar_t* name, DWORD& type) {
    wchar_t buf[256] = {};
    DWORD size = sizeof buf;
    if (RegQueryValueExW(raw, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS) return {};
    return std::wstring(buf, size / sizeof(wchar_t));
  }
};

TEST_F(MachineRegistry, OpeningClosesWhatWasHeld) {
  CMachineKey key;
  EXPECT_EQ(OpenMachineKey(key, path), 0u);
  EXPECT_TRUE(key.IsOpen());
  EXPECT_EQ(OpenMachineKey(key, path + L"\\missing"), static_cast<RegistryError>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(key.IsOpen());
  std::uint32_t value = 0;
  EXPECT_NE(ReadMachineDword(key, L"x", value), 0u);
}

TEST_F(MachineRegistry, Dwords) {
  const DWORD one = 1;
  Put(L"Dword", REG_DWORD, &one, sizeof one);
  Put(L"Text", REG_SZ, L"1", 4);
  Put(L"Bytes", REG_BINARY, &one, sizeof one);
  const std::uint64_t wide = 1;
  Put(L"LongText", REG_SZ, L"12345678", 18);
  Put(L"LongBytes", REG_BINARY, &wide, sizeof wide);
  Put(L"LongDword", REG_DWORD, &wide, sizeof wide);
  CMachineKey key;
  ASSERT_EQ(OpenMachineKey(key, path), 0u);
  struct Case {
    const wchar_t* name;
    RegistryError rc;
  } cases[] = {{L"Dword", 0},      {L"Text", 13},      {L"Bytes", 13},
               {L"LongText", 13},  {L"LongBytes", 13}, {L"LongDword", 13},
               {L"Missing", ERROR_FILE_NOT_FOUND}};
  for (const Case& c : cases) {
    std::uint32_t value = 77;
    EXPECT_EQ(ReadMachineDword(key, c.name, value), c.rc) << c.name;
    EXPECT_EQ(value, c.rc == 0 ? 1u : 77u) << c.name;
  }
  EXPECT_EQ(WriteMachineDword(key, L"EnableDHCP", 0), 0u);
  std::uint32_t value = 9;
  EXPECT_EQ(ReadMachineDword(key, L"EnableDHCP", value), 0u);
  EXPECT_EQ(value, 0u);
}

TEST_F(MachineRegistry, DhcpAddress) {
  struct Case {
    const char* what;
    DWORD type;
    std::wstring data;
    std::size_t bytes;  // stored byte count
    std::size_t capacity;
    RegistryError rc;
    std::wstring address;
  } cases[] = {
      {"string", REG_SZ, std::wstring(L"10.8.0.6\0", 9), 18, 64, 0, L"10.8.0.6"},
      {"expandable string", REG_EXPAND_SZ, std::wstring(L"10.8.0.6\0", 9), 18, 64, 0, L"10.8.0.6"},
      // The character after the stored bytes is not a NUL, or the registry
      // would count that NUL in for us.
      {"no NUL at the end", REG_SZ, L"10.8.0.6X", 16, 64, 13, L""},
      {"odd byte count", REG_SZ, std::wstring(L"10.8.0.6\0", 9), 17, 64, 13, L""},
      {"nothing stored", REG_SZ, L"", 0, 64, 13, L""},
      {"a multi-string", REG_MULTI_SZ, std::wstring(L"10.8.0.6\0\0", 10), 20, 64, 13, L""},
      {"a number", REG_DWORD, std::wstring(L"\x0a\x08", 2), 4, 64, 13, L""},
      {"too long for the room", REG_SZ, std::wstring(L"10.8.0.6\0", 9), 18, 4, kRegistryMoreData, L""},
  };
  for (const Case& c : cases) {
    Put(L"DhcpIPAddress", c.type, c.data.data(), c.bytes);
    CMachineKey key;
    ASSERT_EQ(OpenMachineKey(key, path), 0u);
    std::wstring address;
    EXPECT_EQ(ReadDhcpAddress(key, address, c.capacity), c.rc) << c.what;
    EXPECT_EQ(address, c.address) << c.what;
  }
  RegDeleteValueW(raw, L"DhcpIPAddress");
  CMachineKey key;
  ASSERT_EQ(OpenMachineKey(key, path), 0u);
  std::wstring address;
  EXPECT_EQ(ReadDhcpAddress(key, address), static_cast<RegistryError>(ERROR_FILE_NOT_FOUND));
}

TEST_F(MachineRegistry, BindListRead) {
  using List = std::vector<std::wstring>;
  struct Case {
    const char* what;
    DWORD type;
    std::wstring data;
    std::size_t bytes;
    std::size_t capacity;
    RegistryError rc;
    List list;
  } cases[] = {
      {"two devices", REG_MULTI_SZ, std::wstring(L"\\Device\\A\0\\Device\\B\0\0", 22), 44, 256, 0,
       List{L"\\Device\\A", L"\\Device\\B"}},
      {"without its final double NUL", REG_MULTI_SZ, std::wstring(L"\\Device\\A\0\\Device\\B\0X", 22), 42, 256, 13,
       List{}},
      {"no terminators at all", REG_MULTI_SZ, L"\\Device\\AX", 18, 256, 13, List{}},
      {"an empty list", REG_MULTI_SZ, std::wstring(L"\0\0", 2), 4, 256, 0, List{}},
      {"a single NUL", REG_MULTI_SZ, std::wstring(L"\0", 1), 2, 256, 13, List{}},
      {"odd byte count", REG_MULTI_SZ, std::wstring(L"A\0\0", 3), 5, 256, 13, List{}},
      {"a plain string", REG_SZ, std::wstring(L"A\0\0", 3), 6, 256, 13, List{}},
      {"room of one character", REG_MULTI_SZ, std::wstring(L"A\0\0", 3), 6, 1, kRegistryInsufficientBuffer,
       List{}},
      {"room of none", REG_MULTI_SZ, std::wstring(L"A\0\0", 3), 6, 0, kRegistryInsufficientBuffer, List{}},
      {"too long for the room", REG_MULTI_SZ, std::wstring(L"ABCD\0\0", 6), 12, 3, kRegistryMoreData, List{}},
  };
  for (const Case& c : cases) {
    Put(L"Bind", c.type, c.data.data(), c.bytes);
    CMachineKey key;
    ASSERT_EQ(OpenMachineKey(key, path), 0u);
    List list;
    EXPECT_EQ(ReadBindList(key, list, c.capacity), c.rc) << c.what;
    EXPECT_EQ(list, c.list) << c.what;
  }
}

TEST_F(MachineRegistry, BindListWrite) {
  CMachineKey key;
  ASSERT_EQ(OpenMachineKey(key, path), 0u);
  const std::vector<std::wstring> list = {L"\\Device\\NdisWanIp", L"\\Device\\Tcpip_A"};
  ASSERT_EQ(WriteBindList(key, &list), 0u);
  DWORD type = 0;
  EXPECT_EQ(RawBytes(L"Bind", type), std::wstring(L"\\Device\\NdisWanIp\0\\Device\\Tcpip_A\0\0", 35));
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  std::vector<std::wstring> back;
  EXPECT_EQ(ReadBindList(key, back), 0u);
  EXPECT_EQ(back, list);

  EXPECT_EQ(WriteBindList(key, nullptr), 13u);
  const std::vector<std::wstring> holed = {L"\\Device\\A", L"", L"\\Device\\B"};
  EXPECT_EQ(WriteBindList(key, &holed), 13u);
  const std::vector<std::wstring> nul = {std::wstring(L"A\0B", 3)};
  EXPECT_EQ(WriteBindList(key, &nul), 13u);
  EXPECT_EQ(ReadBindList(key, back), 0u);
  EXPECT_EQ(back, list) << "refused lists write nothing";

  const std::vector<std::wstring> empty;
  ASSERT_EQ(WriteBindList(key, &empty), 0u);
  EXPECT_EQ(RawBytes(L"Bind", type), std::wstring(L"\0\0", 2));
  EXPECT_EQ(ReadBindList(key, back), 0u);
  EXPECT_TRUE(back.empty());
}

}  // namespace
