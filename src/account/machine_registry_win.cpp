#include "account/machine_registry.h"

#include "platform/win32.h"

namespace {

HKEY H(const CMachineKey& key) { return static_cast<HKEY>(key.Handle()); }

}  // namespace

CMachineKey::~CMachineKey() { Close(); }

CMachineKey::CMachineKey(CMachineKey&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

CMachineKey& CMachineKey::operator=(CMachineKey&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

void CMachineKey::Close() {
  if (handle_) RegCloseKey(static_cast<HKEY>(handle_));
  handle_ = nullptr;
}

RegistryError OpenMachineKey(CMachineKey& key, std::wstring_view subkey) {
  key.Close();
  HKEY opened = nullptr;
  const LSTATUS status =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, std::wstring(subkey).c_str(), 0, KEY_READ | KEY_WRITE, &opened);
  if (status != ERROR_SUCCESS) return static_cast<RegistryError>(status);
  key.handle_ = opened;
  return 0;
}

RegistryError ReadMachineDword(const CMachineKey& key, std::wstring_view name, std::uint32_t& value) {
  if (!key.IsOpen()) return ERROR_INVALID_HANDLE;
  DWORD type = 0, data = 0, size = sizeof data;
  const LSTATUS status =
      RegQueryValueExW(H(key), std::wstring(name).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  // More than four bytes can be no 32-bit value, whatever its type says.
  if (status == ERROR_MORE_DATA) return kRegistryInvalidData;
  if (status != ERROR_SUCCESS) return static_cast<RegistryError>(status);
  if (type != REG_DWORD || size != sizeof data) return kRegistryInvalidData;
  value = data;
  return 0;
}

RegistryError WriteMachineDword(const CMachineKey& key, std::wstring_view name, std::uint32_t value) {
  if (!key.IsOpen()) return ERROR_INVALID_HANDLE;
  const DWORD data = value;
  return static_cast<RegistryError>(RegSetValueExW(H(key), std::wstring(name).c_str(), 0, REG_DWORD,
                                                   reinterpret_cast<const BYTE*>(&data), sizeof data));
}

RegistryError ReadDhcpAddress(const CMachineKey& key, std::wstring& address, std::size_t capacity) {
  if (!key.IsOpen()) return ERROR_INVALID_HANDLE;
  if (capacity > kMachineTextCapacity * 4) capacity = kMachineTextCapacity * 4;
  std::vector<wchar_t> buf(capacity + 1, L'\0');
  DWORD type = 0, size = static_cast<DWORD>(capacity * sizeof(wchar_t));
  const LSTATUS status =
      RegQueryValueExW(H(key), L"DhcpIPAddress", nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &size);
  if (status != ERROR_SUCCESS) return static_cast<RegistryError>(status);
  if (type != REG_SZ && type != REG_EXPAND_SZ) return kRegistryInvalidData;
  if (size % sizeof(wchar_t) != 0 || size < sizeof(wchar_t) || buf[size / sizeof(wchar_t) - 1] != L'\0') {
    return kRegistryInvalidData;
  }
  address.assign(buf.data());
  return 0;
}

RegistryError ReadBindList(const CMachineKey& key, std::vector<std::wstring>& list, std::size_t capacity) {
  if (!key.IsOpen()) return ERROR_INVALID_HANDLE;
  if (capacity < 2) return kRegistryInsufficientBuffer;
  if (capacity > kMachineTextCapacity * 4) capacity = kMachineTextCapacity * 4;
  std::vector<wchar_t> buf(capacity + 1, L'\0');
  DWORD type = 0, size = static_cast<DWORD>(capacity * sizeof(wchar_t));
  const LSTATUS status =
      RegQueryValueExW(H(key), L"Bind", nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &size);
  if (status != ERROR_SUCCESS) return static_cast<RegistryError>(status);
  const std::size_t chars = size / sizeof(wchar_t);
  if (type != REG_MULTI_SZ || size % sizeof(wchar_t) != 0 || chars < 2 || buf[chars - 1] != L'\0' ||
      buf[chars - 2] != L'\0') {
    return kRegistryInvalidData;
  }
  list.clear();
  for (std::size_t i = 0; i < chars && buf[i] != L'\0';) {
    std::wstring item(buf.data() + i);
    i += item.size() + 1;
    list.push_back(std::move(item));
  }
  return 0;
}

RegistryError WriteBindList(const CMachineKey& key, const std::vector<std::wstring>* list) {
  if (!list) return kRegistryInvalidData;
  if (!key.IsOpen()) return ERROR_INVALID_HANDLE;
  std::wstring data;
  for (const std::wstring& item : *list) {
    if (item.empty() || item.find(L'\0') != std::wstring::npos) return kRegistryInvalidData;
    data += item;
    data += L'\0';
  }
  data += L'\0';
  // An empty list is still two NULs, so that it reads back as a list.
  if (data.size() < 2) data += L'\0';
  return static_cast<RegistryError>(RegSetValueExW(H(key), L"Bind", 0, REG_MULTI_SZ,
                                                   reinterpret_cast<const BYTE*>(data.data()),
                                                   static_cast<DWORD>(data.size() * sizeof(wchar_t))));
}
