// Assembly of the update request URL in the temporary string area, by positions.
#include "updater/update_url.h"

#include <cstdint>
#include <initializer_list>

#include "runtime/net/percent_encode.h"

namespace ralto {
namespace {

// The encoder lets these through, but inside a value they would end it or the whole query.
bool IsQuerySeparator(char16_t unit) {
  return unit == u'&' || unit == u'#' || unit == u'=';
}

// False when the value cannot be encoded.
bool AppendQueryValue(const char16_t* value) {
  const std::int32_t start = tempArea.position;
  AppendTemp(value);
  if (!PercentEncode(TempText(start), start)) return false;

  const std::int32_t length = (tempArea.position - start) / 2;
  std::int32_t separators = 0;
  const char16_t* encoded = TempText(start);
  for (std::int32_t i = 0; i < length; ++i) separators += IsQuerySeparator(encoded[i]);
  if (separators == 0) return true;

  // Each separator grows by two units; widen in place from the end, after any growth.
  ReserveTemp(2 * separators, tempArea.position);
  char16_t* text = TempText(start);
  std::int32_t to = length + 2 * separators;
  text[to] = 0;
  for (std::int32_t from = length - 1; from >= 0; --from) {
    const char16_t unit = text[from];
    if (IsQuerySeparator(unit)) {
      text[--to] = HexDigits[unit & 0xF];
      text[--to] = HexDigits[unit >> 4];
      text[--to] = u'%';
    } else {
      text[--to] = unit;
    }
  }
  return true;
}

}  // namespace

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
    built = AppendQueryValue(field.value);
    if (!built) break;
  }
  // No URL at all rather than one with a value left out.
  if (!built) ResetTemp(start);
  StoreTemp(url, start);
  return built;
}

}  // namespace ralto
