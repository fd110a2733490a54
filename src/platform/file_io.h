// Whole-file reads that know whether the file changed since the last read,
// and writes that never leave a half-written file behind.
#pragma once
#include <cstdint>
#include <string>

// What identifies one version of a file: if all of it is unchanged the
// content is taken to be unchanged. Writers here always replace the file, so
// its identity (inode or file index) changes on every write of ours.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // in the platform's finest unit
  std::int64_t changed = 0;   // status change time where the platform has one
  bool operator==(const FileIdentity&) const = default;
};

enum class FileReadResult { Missing, Unchanged, Read };

// Opens `path` once. When `known` matches the open file's identity, returns
// Unchanged without reading; otherwise reads it whole into `bytes`. The
// identity always comes from the same open handle as the bytes, so a file
// replaced between the two steps cannot pair new bytes with an old identity.
FileReadResult ReadFileIfChanged(const std::wstring& path, const FileIdentity* known, FileIdentity& identity,
                                 std::string& bytes);

// Replaces the file's content as one step: readers see the old content or the
// new, never a mix, and a failure (full disk, no rights) keeps the old file.
bool AtomicWriteFile(const std::wstring& path, const std::string& bytes);

bool ReadWholeFile(const std::wstring& path, std::string& bytes);
bool FileExists(const std::wstring& path);
bool RemoveFile(const std::wstring& path);

// Gives a file left from before the plain attributes of one of ours (no
// read-only, hidden or system flag on Windows; writable by its owner
// elsewhere), since replacing a read-only file fails on Windows. A missing
// file is fine; false only when an existing file could not be changed.
bool ResetFileAttributes(const std::wstring& path);
