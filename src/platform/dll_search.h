// Where the process looks for a DLL it loads by name. The client runs as
// administrator and may be started from a downloads folder or with a PATH
// a user controls: a DLL planted there must never be loaded.
#pragma once

// Narrows the search to the system folder and the program's own folder,
// where the system offers that (Windows 8, and 7 with its security update);
// elsewhere at least takes the current folder out of the search. True when
// the narrow search is in force. Windows only.
bool RestrictDllSearch();
