// Percent-encoding in both modes: the result holds only safe characters and %XX escapes of
// the other bytes, and decoding it gives back exactly the text's UTF-8 or ANSI bytes, also
// when the text lies in the area at the very position the result is written to.
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "runtime/net/percent_encode.h"
#include "runtime/strings/text_convert.h"

namespace ralto::fuzz {
namespace {

bool IsSafe(char16_t c) {
  static constexpr std::u16string_view Safe =
      u"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-._~!'()*#$&,/:;=?@";
  return c != 0 && Safe.find(c) != std::u16string_view::npos;
}

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;  // lower case is not what the encoder writes
}

std::string Decode(const std::u16string& encoded) {
  std::string bytes;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    char16_t c = encoded[i];
    if (c == u'%') {
      FUZZ_CHECK(i + 2 < encoded.size());
      int high = HexValue(encoded[i + 1]);
      int low = HexValue(encoded[i + 2]);
      FUZZ_CHECK(high >= 0 && low >= 0);
      auto byte = static_cast<char16_t>(high * 16 + low);
      FUZZ_CHECK(!IsSafe(byte));  // a safe byte is never escaped
      bytes.push_back(static_cast<char>(byte));
      i += 2;
    } else {
      FUZZ_CHECK(IsSafe(c));
      bytes.push_back(static_cast<char>(c));
    }
  }
  return bytes;
}

}  // namespace
}  // namespace ralto::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ralto;
  using namespace ralto::fuzz;
  StartRuntimeOnce();
  FuzzedDataProvider in(data, size);
  auto mode = static_cast<TextEncoding>(in.ConsumeBool() ? EncodingUtf8
                                                         : in.ConsumeIntegral<std::int32_t>());
  bool inArea = in.ConsumeBool();
  std::int32_t at = 2 * in.ConsumeIntegralInRange(0, 8);
  std::u16string text = ConsumeText(in, 2048);

  char* bytes = mode == EncodingUtf8 ? ToUtf8Bytes(text.c_str()) : ToAnsiBytes(text.c_str());
  FUZZ_CHECK(bytes != nullptr);
  std::string expected = bytes;
  mode == EncodingUtf8 ? FreeUtf8Bytes(bytes) : FreeAnsiBytes(bytes);

  ResetTemp(0);
  ReserveTemp(at / 2, 0);
  if (inArea) {
    // The text at the result's own position: the encoder must read it all before writing.
    AppendTemp(text.c_str());
    FUZZ_CHECK(PercentEncode(TempText(at), mode, at));
  } else {
    FUZZ_CHECK(PercentEncode(text.c_str(), mode, at));
  }
  std::u16string encoded = TempText(at);
  FUZZ_CHECK(tempArea.position == at + 2 * static_cast<std::int32_t>(encoded.size()));
  FUZZ_CHECK(Decode(encoded) == expected);
  ResetTemp(0);
  return 0;
}
