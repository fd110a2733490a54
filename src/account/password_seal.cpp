#include "account/password_seal.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstring>
#include <memory>

namespace {

// Names the format; also bound into the tag, so a blob of another format or
// version never opens by accident.
constexpr std::uint8_t kMagic[4] = {'Q', 'N', 'P', '1'};
constexpr std::size_t kNonceSize = 12;
constexpr std::size_t kTagSize = 16;

struct CipherContextFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

}  // namespace

ByteString PasswordToUtf16Bytes(std::wstring_view password) {
  ByteString out;
  out.reserve(password.size() * 2 + 2);
  auto put = [&out](std::uint32_t unit) {
    out.push_back(static_cast<std::uint8_t>(unit & 0xff));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
  };
  for (wchar_t ch : password) {
    const auto c = static_cast<std::uint32_t>(ch);
    if (c > 0xffff && c <= 0x10ffff) {
      put(0xd800 + ((c - 0x10000) >> 10));
      put(0xdc00 + ((c - 0x10000) & 0x3ff));
    } else if (c > 0x10ffff) {
      put(0xfffd);
    } else {
      put(c);
    }
  }
  put(0);
  return out;
}

std::optional<std::wstring> PasswordFromUtf16Bytes(const std::uint8_t* bytes, std::size_t length) {
  if (length % 2) return std::nullopt;
  std::wstring out;
  for (std::size_t i = 0; i < length; i += 2) {
    std::uint32_t unit = bytes[i] | (bytes[i + 1] << 8);
    if (unit == 0) break;
    if constexpr (sizeof(wchar_t) == 4) {
      if (unit >= 0xd800 && unit < 0xdc00 && i + 3 < length) {
        const std::uint32_t low = bytes[i + 2] | (bytes[i + 3] << 8);
        if (low >= 0xdc00 && low < 0xe000) {
          unit = 0x10000 + ((unit - 0xd800) << 10) + (low - 0xdc00);
          i += 2;
        }
      }
    }
    out += static_cast<wchar_t>(unit);
  }
  return out;
}

ByteString SealPassword(const ByteString& key, std::wstring_view password) {
  if (key.size() != kPasswordKeySize) return {};
  const ByteString plain = PasswordToUtf16Bytes(password);
  ByteString out(sizeof kMagic + kNonceSize + plain.size() + kTagSize);
  std::memcpy(out.data(), kMagic, sizeof kMagic);
  std::uint8_t* nonce = out.data() + sizeof kMagic;
  std::uint8_t* cipher = nonce + kNonceSize;
  if (RAND_bytes(nonce, static_cast<int>(kNonceSize)) != 1) return {};

  CipherContext ctx(EVP_CIPHER_CTX_new());
  int n = 0, tail = 0;
  if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(kNonceSize), nullptr) != 1 ||
      EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key.data(), nonce) != 1 ||
      EVP_EncryptUpdate(ctx.get(), nullptr, &n, kMagic, sizeof kMagic) != 1 ||
      EVP_EncryptUpdate(ctx.get(), cipher, &n, plain.data(), static_cast<int>(plain.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx.get(), cipher + n, &tail) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kTagSize), cipher + plain.size()) != 1) {
    return {};
  }
  return out;
}

std::optional<std::wstring> OpenSealedPassword(const ByteString& key, const ByteString& sealed) {
  if (key.size() != kPasswordKeySize) return std::nullopt;
  if (sealed.size() < sizeof kMagic + kNonceSize + kTagSize) return std::nullopt;
  if (std::memcmp(sealed.data(), kMagic, sizeof kMagic) != 0) return std::nullopt;
  const std::uint8_t* nonce = sealed.data() + sizeof kMagic;
  const std::uint8_t* cipher = nonce + kNonceSize;
  const std::size_t cipherSize = sealed.size() - sizeof kMagic - kNonceSize - kTagSize;
  ByteString tag(cipher + cipherSize, cipher + cipherSize + kTagSize);
  ByteString plain(cipherSize + 16);

  CipherContext ctx(EVP_CIPHER_CTX_new());
  int n = 0, tail = 0;
  if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(kNonceSize), nullptr) != 1 ||
      EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, key.data(), nonce) != 1 ||
      EVP_DecryptUpdate(ctx.get(), nullptr, &n, kMagic, sizeof kMagic) != 1 ||
      EVP_DecryptUpdate(ctx.get(), plain.data(), &n, cipher, static_cast<int>(cipherSize)) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kTagSize), tag.data()) != 1 ||
      EVP_DecryptFinal_ex(ctx.get(), plain.data() + n, &tail) != 1) {
    return std::nullopt;
  }
  return PasswordFromUtf16Bytes(plain.data(), static_cast<std::size_t>(n + tail));
}
