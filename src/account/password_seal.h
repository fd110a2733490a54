// The saved password's bytes, and the authenticated sealing used where the
// platform has no per-user data protection of its own.
#pragma once
#include <cstddef>
#include <optional>
#include <string_view>

#include "account/settings.h"

// The password as UTF-16LE characters and a terminating NUL (2 x length + 2
// bytes): what the protection seals on every platform.
ByteString PasswordToUtf16Bytes(std::wstring_view password);
// The text up to the first NUL (all of it when there is none); nothing for an
// odd byte count, which no sealed password can have.
std::optional<std::wstring> PasswordFromUtf16Bytes(const std::uint8_t* bytes, std::size_t length);

constexpr std::size_t kPasswordKeySize = 32;

// AES-256-GCM under `key` (kPasswordKeySize bytes) with a fresh random nonce.
// Empty on failure (a key of the wrong size, no randomness).
ByteString SealPassword(const ByteString& key, std::wstring_view password);
// Nothing when the bytes were sealed under another key, were changed in any
// way, or are not a sealed password at all.
std::optional<std::wstring> OpenSealedPassword(const ByteString& key, const ByteString& sealed);
