// The static libraries scripts/setup cross-builds must be the ones we link:
// libcurl with OpenSSL for TLS and zlib for compressed replies.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>

TEST(ThirdParty, CurlCarriesOpenSslAndZlib) {
  ASSERT_EQ(curl_global_init(CURL_GLOBAL_ALL), CURLE_OK);
  const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
  ASSERT_NE(info, nullptr);
  ASSERT_NE(info->ssl_version, nullptr);
  EXPECT_EQ(std::string(info->ssl_version).rfind("OpenSSL/3", 0), 0u) << info->ssl_version;
  ASSERT_NE(info->libz_version, nullptr);
  EXPECT_TRUE(info->features & CURL_VERSION_SSL);
  EXPECT_TRUE(info->features & CURL_VERSION_LIBZ);
  curl_global_cleanup();
}

TEST(ThirdParty, OpenSslDigestsWork) {
  // MD5 of "abc" from RFC 1321's test suite.
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  ASSERT_EQ(EVP_Digest("abc", 3, md, &len, EVP_md5(), nullptr), 1);
  static const char* kHex = "0123456789abcdef";
  std::string hex;
  for (unsigned i = 0; i < len; ++i) {
    hex.push_back(kHex[md[i] >> 4]);
    hex.push_back(kHex[md[i] & 15]);
  }
  EXPECT_EQ(hex, "900150983cd24fb0d6963f7d28e17f72");
}
