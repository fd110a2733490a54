#include "accel/route_request_pipe_security.h"

#include <cwchar>

bool IsSidText(const std::wstring& text) {
  // Far longer than any SID (15 parts of 10 digits), short enough for a descriptor.
  if (text.size() < 5 || text.size() > 200 || text.compare(0, 2, L"S-") != 0) return false;
  wchar_t previous = L'-';
  for (std::size_t i = 2; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c == L'-') {
      if (previous == L'-') return false;
    } else if (c < L'0' || c > L'9') {
      return false;
    }
    previous = c;
  }
  return previous != L'-';
}

std::wstring ChooseRouteRequestClientSid(const std::wstring& userSid, const std::vector<TokenGroupEntry>& groups) {
  for (const TokenGroupEntry& group : groups)
    if ((group.attributes & kTokenGroupLogonId) == kTokenGroupLogonId && IsSidText(group.sid)) return group.sid;
  return IsSidText(userSid) ? userSid : std::wstring();
}

std::wstring RouteRequestPipeSecurityFor(const std::wstring& clientSid, std::uint32_t clientAccess) {
  // The text goes into a descriptor: nothing but a SID may stand there.
  if (!IsSidText(clientSid)) return {};
  wchar_t access[16];
  std::swprintf(access, 16, L"0x%lx", static_cast<unsigned long>(clientAccess));
  // Administrators keep full control: adding the next instance is an
  // access check against this list too, and the client runs elevated.
  return L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;" + std::wstring(access) + L";;;" + clientSid + L")S:(ML;;NW;;;LW)";
}
