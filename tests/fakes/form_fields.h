// The service's view of what the client sends: form fields taken apart and
// Base64 undone, written from the formats rather than from the client's
// encoders, so a test compares the two.
#pragma once
#include <string>
#include <utility>
#include <vector>

// Standard alphabet; stops at the first byte outside it ("=" included).
std::string Base64Decode(const std::string& text);
// "%" and two hexadecimal digits give one byte; anything else stays.
std::string UrlDecode(const std::string& text);
// "a=1&b=2" in order, values decoded; a piece without "=" has an empty value.
std::vector<std::pair<std::string, std::string>> FormFields(const std::string& body);
