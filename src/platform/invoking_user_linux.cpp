#include "platform/invoking_user.h"

#include <unistd.h>

#include <cstdlib>
#include <limits>

namespace {

bool ParseId(const char* text, unsigned long& id) {
  if (!text || !*text) return false;
  unsigned long value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + static_cast<unsigned long>(*p - '0');
    // (uid_t)-1 means "no change" to the set*id calls: never an id.
    if (value >= std::numeric_limits<uid_t>::max()) return false;
  }
  id = value;
  return true;
}

}  // namespace

InvokingUser ReadInvokingUser(const char* sudoUid, const char* sudoGid, uid_t realUid, gid_t realGid) {
  InvokingUser user;
  user.uid = realUid;
  user.gid = realGid;
  if (realUid != 0) return user;
  unsigned long uid = 0, gid = 0;
  if (!ParseId(sudoUid, uid) || !ParseId(sudoGid, gid) || uid == 0) return user;
  user.uid = static_cast<uid_t>(uid);
  user.gid = static_cast<gid_t>(gid);
  user.fromSudo = true;
  return user;
}

InvokingUser CurrentInvokingUser() {
  return ReadInvokingUser(std::getenv("SUDO_UID"), std::getenv("SUDO_GID"), getuid(), getgid());
}
