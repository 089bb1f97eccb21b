// The process's user, read from its token.
#include "platform/windows/process_user.h"

#include <sddl.h>

#include <cwchar>

namespace sys {

bool SidText(PSID binary, wchar_t (&sid)[SidTextUnits]) {
  wchar_t* text = nullptr;
  if (!binary || !::ConvertSidToStringSidW(binary, &text)) return false;
  const bool fits = std::wcslen(text) < SidTextUnits;
  if (fits) std::wcscpy(sid, text);
  ::LocalFree(text);
  return fits;
}

bool ProcessUserSid(wchar_t (&sid)[SidTextUnits]) {
  ::HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  alignas(8) unsigned char user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  const BOOL known = ::GetTokenInformation(token, TokenUser, user, sizeof user, &size);
  ::CloseHandle(token);
  return known && SidText(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, sid);
}

}  // namespace sys
