// Reply documents and every other INI-layout file of the client, read value
// by value. Each read looks at the file again, so a document its owner
// rewrote or deleted is never read stale; a parse is reused only while the
// file is unchanged.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The account service's marker; it must be followed by at least one byte.
bool HasReplyMarker(const char* bytes, std::size_t length);

// Undoes the service's scrambling in place: every byte was XORed with the
// low byte of the request's key (a key of 0 leaves the bytes as they are).
// Each byte stands alone, so a reply can be undone piece by piece.
void UnscrambleReply(char* bytes, std::size_t length, std::int32_t key);

std::wstring EscapeSectionName(std::wstring_view name);
std::wstring UnescapeSectionName(std::wstring_view name);

// Plain value, decoded with the narrow code page.
std::wstring IniReadString(const std::wstring& path, std::wstring_view section, std::wstring_view key,
                           std::wstring_view defaultValue);
// Text value: the bytes decoded as UTF-8; empty when missing.
std::wstring IniReadText(const std::wstring& path, std::wstring_view section, std::wstring_view key);
std::int32_t IniReadInt(const std::wstring& path, std::wstring_view section, std::wstring_view key,
                        std::int32_t defaultValue);
std::int64_t IniReadInt64(const std::wstring& path, std::wstring_view section, std::wstring_view key);

// Writes are not reported: a failed write leaves the old file, which is what
// the next read shows.
void IniWriteString(const std::wstring& path, std::wstring_view section, std::wstring_view key,
                    std::wstring_view value);
void IniWriteInt(const std::wstring& path, std::wstring_view section, std::wstring_view key, std::int32_t value);
void IniDeleteSection(const std::wstring& path, std::wstring_view section);
std::vector<std::wstring> IniListSections(const std::wstring& path);


// Drops every cached parse (tests that rewrite files behind our back).
void IniForgetCache();
