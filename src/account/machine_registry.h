// System registry values below the local machine root, for the VPN
// preparation and the adapter checks. Windows only; each call returns the
// platform's error code, 0 on success.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using RegistryError = std::uint32_t;
constexpr RegistryError kRegistryInvalidData = 13;
constexpr RegistryError kRegistryInsufficientBuffer = 122;
constexpr RegistryError kRegistryMoreData = 234;

// An open key below the local machine root, closed with its owner.
class CMachineKey {
 public:
  CMachineKey() = default;
  ~CMachineKey();
  CMachineKey(const CMachineKey&) = delete;
  CMachineKey& operator=(const CMachineKey&) = delete;
  CMachineKey(CMachineKey&& other) noexcept;
  CMachineKey& operator=(CMachineKey&& other) noexcept;

  bool IsOpen() const { return handle_ != nullptr; }
  void Close();
  void* Handle() const { return handle_; }  // the HKEY

 private:
  friend RegistryError OpenMachineKey(CMachineKey& key, std::wstring_view subkey);
  void* handle_ = nullptr;
};

// Read and write access. Whatever `key` held before is closed first.
RegistryError OpenMachineKey(CMachineKey& key, std::wstring_view subkey);
// A value of another type than a 32-bit value, or longer than one, gives 13.
RegistryError ReadMachineDword(const CMachineKey& key, std::wstring_view name, std::uint32_t& value);
RegistryError WriteMachineDword(const CMachineKey& key, std::wstring_view name, std::uint32_t value);

// Room the callers give by default, in characters.
constexpr std::size_t kMachineTextCapacity = 32768;

// "DhcpIPAddress": a string or expandable string whose stored bytes are an
// even count ending with a NUL, else 13. A value longer than `capacity`
// characters (NUL included) gives 234.
RegistryError ReadDhcpAddress(const CMachineKey& key, std::wstring& address,
                              std::size_t capacity = kMachineTextCapacity);
// "Bind": a multi-string ending with two NULs, else 13; a capacity of fewer
// than 2 characters gives 122.
RegistryError ReadBindList(const CMachineKey& key, std::vector<std::wstring>& list,
                           std::size_t capacity = kMachineTextCapacity);
// Writes "Bind" as a multi-string: each string with its NUL, then the final
// empty string. No list, or a string that is empty or holds a NUL (it would
// cut the list short), gives 13 and writes nothing.
RegistryError WriteBindList(const CMachineKey& key, const std::vector<std::wstring>* list);
