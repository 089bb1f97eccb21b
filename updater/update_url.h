// The update request URL: the update base, then the query with every value percent-encoded.
#pragma once

#include "runtime/strings/string_area.h"

namespace ralto {

// Each value is encoded on its own, and '&', '#' and '=' in it are escaped as well, so that a
// value can neither split the query nor cut it off. False when a value cannot be encoded: url
// is then the empty text (a URL that was built never is), and nothing may be sent.
[[nodiscard]] bool BuildUpdateUrl(StringValue* url, const char16_t* updateBase,
                                  const char16_t* host, const char16_t* ip, const char16_t* user,
                                  const char16_t* password);

}  // namespace ralto
