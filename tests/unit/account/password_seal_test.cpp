#include "account/password_seal.h"

#include <gtest/gtest.h>

namespace {

ByteString Key(std::uint8_t fill) { return ByteString(kPasswordKeySize, fill); }

TEST(PasswordSeal, PasswordBytesAreUtf16WithATerminatingNul) {
  EXPECT_EQ(PasswordToUtf16Bytes(L""), (ByteString{0, 0}));
  EXPECT_EQ(PasswordToUtf16Bytes(L"Ab"), (ByteString{'A', 0, 'b', 0, 0, 0}));
  EXPECT_EQ(PasswordToUtf16Bytes(L"\u20ac"), (ByteString{0xac, 0x20, 0, 0}));
  if constexpr (sizeof(wchar_t) == 4) {
    // Beyond the first plane: a surrogate pair, as the Windows build stores it.
    EXPECT_EQ(PasswordToUtf16Bytes(std::wstring(1, static_cast<wchar_t>(0x1f600))),
              (ByteString{0x3d, 0xd8, 0x00, 0xde, 0, 0}));
  }
}

TEST(PasswordSeal, BytesBackToText) {
  const std::uint8_t noNul[] = {'h', 0, 'i', 0};
  const std::uint8_t early[] = {'h', 0, 0, 0, 'x', 0};
  const std::uint8_t odd[] = {'h', 0, 'i'};
  EXPECT_EQ(PasswordFromUtf16Bytes(noNul, sizeof noNul), L"hi");
  EXPECT_EQ(PasswordFromUtf16Bytes(early, sizeof early), L"h");
  EXPECT_EQ(PasswordFromUtf16Bytes(odd, sizeof odd), std::nullopt);
}

TEST(PasswordSeal, SealedPasswordsOpenWithTheirKey) {
  std::wstring nonBmp = L"smile ";
  nonBmp += sizeof(wchar_t) == 4 ? std::wstring(1, static_cast<wchar_t>(0x1f600)) : std::wstring(L"\xd83d\xde00");
  for (const std::wstring& password :
       {std::wstring(), std::wstring(L"secret"), std::wstring(L"p\u00e4ss w\u00f6rd \u4e2d"), nonBmp,
        std::wstring(1000, L'x')}) {
    const ByteString sealed = SealPassword(Key(7), password);
    ASSERT_FALSE(sealed.empty());
    EXPECT_EQ(OpenSealedPassword(Key(7), sealed), password);
  }
}

TEST(PasswordSeal, SamePasswordSealsDifferentlyEachTime) {
  EXPECT_NE(SealPassword(Key(7), L"secret"), SealPassword(Key(7), L"secret"));
}

TEST(PasswordSeal, AnyChangeOrAnotherKeyFailsToOpen) {
  const ByteString sealed = SealPassword(Key(7), L"secret");
  ASSERT_FALSE(sealed.empty());
  EXPECT_EQ(OpenSealedPassword(Key(8), sealed), std::nullopt);
  for (std::size_t i = 0; i < sealed.size(); ++i) {
    ByteString damaged = sealed;
    damaged[i] ^= 0x01;
    EXPECT_EQ(OpenSealedPassword(Key(7), damaged), std::nullopt) << "byte " << i;
  }
  for (std::size_t length = 0; length < sealed.size(); ++length) {
    EXPECT_EQ(OpenSealedPassword(Key(7), ByteString(sealed.begin(), sealed.begin() + length)), std::nullopt)
        << "cut to " << length;
  }
  ByteString longer = sealed;
  longer.push_back(0);
  EXPECT_EQ(OpenSealedPassword(Key(7), longer), std::nullopt);
}

TEST(PasswordSeal, KeysOfTheWrongSizeAreRefused) {
  EXPECT_TRUE(SealPassword(ByteString(16, 1), L"x").empty());
  const ByteString sealed = SealPassword(Key(1), L"x");
  EXPECT_EQ(OpenSealedPassword(ByteString(kPasswordKeySize + 1, 1), sealed), std::nullopt);
  EXPECT_EQ(OpenSealedPassword(ByteString(), sealed), std::nullopt);
}

}  // namespace
