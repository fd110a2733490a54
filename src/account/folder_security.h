// The descriptors the client puts on its folders under the common
// application data folder, and the check that tells a folder which keeps
// them from one that must be repaired. Windows only.
#pragma once

// Owned by the administrators; SYSTEM and administrators full control,
// users read (the bind module in every program reads the application list).
const wchar_t* DataFolderSecurityText();
// The update download: nobody but SYSTEM and administrators.
const wchar_t* DownloadFolderSecurityText();

// True when `descriptor` (a folder's, as the system reports it) has the
// intended owner, a protected list, every intended entry with at least its
// rights and its inheritance, and allows nobody anything beyond the
// intended list. False: the folder is repaired.
bool FolderSecurityHolds(const void* descriptor, const wchar_t* intendedText);
