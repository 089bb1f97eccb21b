// Assembly of the update request URL in the temporary string area, by positions.
#include "updater/update_url.h"

#include <cstdint>
#include <initializer_list>

#include "runtime/net/percent_encode.h"

namespace ralto {

bool BuildUpdateUrl(StringValue* url, const char16_t* updateBase, const char16_t* host,
                    const char16_t* ip, const char16_t* user, const char16_t* password) {
  struct Field {
    const char16_t* name;
    const char16_t* value;
  };
  const std::int32_t start = tempArea.position;
  AppendTemp(updateBase);
  bool built = true;
  for (const Field& field : {Field{u"?hostname=", host}, Field{u"&myip=", ip},
                             Field{u"&user=", user}, Field{u"&pass=", password}}) {
    AppendTemp(field.name);
    built = PercentEncode(field.value, EncodingUtf8, tempArea.position, PercentQueryValue);
    if (!built) break;
  }
  // No URL at all rather than one with a value left out.
  if (!built) ResetTemp(start);
  StoreTemp(url, start);
  return built;
}

}  // namespace ralto
