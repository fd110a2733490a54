#include "account/machine_registry.h"
#include "account/machine_registry_port.h"
#include "platform/win32.h"

namespace {

constexpr DWORD kSubkeyNameChars = 256;

class CWin32RegistryKey : public IRegistryKey {
 public:
  explicit CWin32RegistryKey(CMachineKey key) : key_(std::move(key)) {}
  RegistryStatus ReadDword(std::wstring_view name, std::uint32_t& value) override {
    return ReadMachineDword(key_, name, value);
  }
  RegistryStatus WriteDword(std::wstring_view name, std::uint32_t value) override {
    return WriteMachineDword(key_, name, value);
  }
  RegistryStatus ReadBindList(std::vector<std::wstring>& list) override { return ::ReadBindList(key_, list); }
  RegistryStatus WriteBindList(const std::vector<std::wstring>& list) override {
    return ::WriteBindList(key_, &list);
  }
  RegistryStatus ReadDhcpAddress(std::wstring& address) override { return ::ReadDhcpAddress(key_, address); }
  RegistryStatus EnumSubkey(std::uint32_t index, std::wstring& name) override {
    wchar_t buffer[kSubkeyNameChars + 1] = {};
    DWORD chars = kSubkeyNameChars + 1;
    const LSTATUS rc = ::RegEnumKeyExW(static_cast<HKEY>(key_.Handle()), index, buffer, &chars, nullptr, nullptr,
                                       nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return static_cast<RegistryStatus>(rc);
    name.assign(buffer, chars);
    return 0;
  }

 private:
  CMachineKey key_;
};

class CWin32MachineRegistry : public IMachineRegistry {
 public:
  explicit CWin32MachineRegistry(std::wstring prefix) : prefix_(std::move(prefix)) {}
  std::unique_ptr<IRegistryKey> Open(std::wstring_view subkey) override {
    CMachineKey key;
    if (OpenMachineKey(key, prefix_ + std::wstring(subkey)) != 0) return nullptr;
    return std::make_unique<CWin32RegistryKey>(std::move(key));
  }

 private:
  std::wstring prefix_;
};

}  // namespace

std::unique_ptr<IMachineRegistry> CreateSystemMachineRegistry(const std::wstring& rootPrefix) {
  return std::make_unique<CWin32MachineRegistry>(rootPrefix);
}
