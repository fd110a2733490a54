// Who the route request pipe lets in, decided from the client's own token:
// the programs of the session the client was started in.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct TokenGroupEntry {
  std::wstring sid;             // as text, "S-1-5-..."
  std::uint32_t attributes = 0;  // the token's group attribute bits
};

// Both bits of the token's "logon id" group attribute.
inline constexpr std::uint32_t kTokenGroupLogonId = 0xC0000000u;

// The session's logon SID when the token has one, else the user's own SID.
// A user who elevated through another administrator account runs the
// client under that account, but in the session of the programs it serves.
// Empty when no well-formed SID is left.
std::wstring ChooseRouteRequestClientSid(const std::wstring& userSid, const std::vector<TokenGroupEntry>& groups);

// The pipe's descriptor as text: SYSTEM and Administrators full control,
// `clientSid` the given access, a low mandatory label with no-write-up.
// Empty for a SID that is not well formed.
std::wstring RouteRequestPipeSecurityFor(const std::wstring& clientSid, std::uint32_t clientAccess);

// "S-" and then digits and single dashes, as the system writes a SID.
bool IsSidText(const std::wstring& text);
