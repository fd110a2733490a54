// The local machine registry as the system preparation and the adapter
// checks see it: keys opened for reading and writing, 32-bit values, the
// binding list, DHCP addresses and subkey names. Results are the system's
// error numbers, 0 on success.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "account/machine_registry.h"

using RegistryStatus = RegistryError;
constexpr RegistryStatus kRegistryNoMoreItems = 259;
constexpr RegistryStatus kRegistryNotFound = 2;

class IRegistryKey {
 public:
  virtual ~IRegistryKey() = default;  // closes the key
  // Only a 32-bit value reads; anything else is 13.
  virtual RegistryStatus ReadDword(std::wstring_view name, std::uint32_t& value) = 0;
  virtual RegistryStatus WriteDword(std::wstring_view name, std::uint32_t value) = 0;
  // "Bind": a multi-string whose data ends with its empty string, else 13.
  virtual RegistryStatus ReadBindList(std::vector<std::wstring>& list) = 0;
  virtual RegistryStatus WriteBindList(const std::vector<std::wstring>& list) = 0;
  // "DhcpIPAddress": a string or expandable string only.
  virtual RegistryStatus ReadDhcpAddress(std::wstring& address) = 0;
  // The name of the subkey at `index`; 259 past the last one.
  virtual RegistryStatus EnumSubkey(std::uint32_t index, std::wstring& name) = 0;
};

class IMachineRegistry {
 public:
  virtual ~IMachineRegistry() = default;
  // Null when the key does not open (it is never created).
  virtual std::unique_ptr<IRegistryKey> Open(std::wstring_view subkey) = 0;
};

// Windows only. Every subkey is taken below `rootPrefix` (ending with a
// backslash), so tests can work under a key of their own; empty for the
// real machine keys.
std::unique_ptr<IMachineRegistry> CreateSystemMachineRegistry(const std::wstring& rootPrefix = {});
