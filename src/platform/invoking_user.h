// Who the client acts for when it runs as root: the user who ran sudo, as
// sudo tells it (SUDO_UID, SUDO_GID), else the real user. The
// route request socket lets that user in; `quillnet run` becomes that user
// before it starts a program.
#pragma once
#include <sys/types.h>

struct InvokingUser {
  uid_t uid = 0;
  gid_t gid = 0;
  bool fromSudo = false;
};

// Pure: the sudo variables as given (null when unset) and the real ids.
// Sudo's variables count only when we are root; a value that is not a plain
// decimal id, or one naming root, is ignored.
InvokingUser ReadInvokingUser(const char* sudoUid, const char* sudoGid, uid_t realUid, gid_t realGid);
// The same from this process's environment and ids.
InvokingUser CurrentInvokingUser();
