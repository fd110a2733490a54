#pragma once
#include <cstddef>
#include <string>
#include <string_view>
// Fills the process-wide table once at start-up, before any other thread exists.
void LoadTextTable();
// Copy of the key's text, or "[!] " + key when the key is unknown.
std::wstring GetText(std::string_view key);
std::size_t TextTableSize();
