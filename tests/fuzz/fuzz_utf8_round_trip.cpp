// UTF-8 to UTF-16 and back: well-formed bytes and well-formed texts come back exactly;
// anything else becomes well-formed, with U+FFFD where it was broken.
#include <string>

#include "fuzz_support.h"
#include "runtime/strings/text_convert.h"

namespace ralto::fuzz {
namespace {

bool IsWellFormedUtf16(const std::u16string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] >= 0xDC00 && text[i] <= 0xDFFF) return false;
    if (text[i] >= 0xD800 && text[i] <= 0xDBFF) {
      if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    }
  }
  return true;
}

std::u16string Decoded(const std::string& bytes) {
  Utf8ToTemp(bytes.c_str(), 0);
  std::u16string text = TempText(0);
  ResetTemp(0);
  return text;
}

std::string Encoded(const std::u16string& text) {
  char* bytes = ToUtf8Bytes(text.c_str());
  FUZZ_CHECK(bytes != nullptr);
  std::string result = bytes;
  FreeUtf8Bytes(bytes);
  return result;
}

}  // namespace
}  // namespace ralto::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ralto::fuzz;
  StartRuntimeOnce();
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool()) {
    std::string bytes = in.ConsumeRemainingBytesAsString();
    bytes = bytes.substr(0, bytes.find('\0'));
    std::u16string text = Decoded(bytes);
    FUZZ_CHECK(IsWellFormedUtf16(text));
    std::string back = Encoded(text);
    if (IsWellFormedUtf8(bytes)) {
      FUZZ_CHECK(back == bytes);
    } else {
      FUZZ_CHECK(text.find(u'\uFFFD') != std::u16string::npos);
      FUZZ_CHECK(IsWellFormedUtf8(back));
    }
  } else {
    std::u16string text = ConsumeText(in, 4096);
    std::string bytes = Encoded(text);
    FUZZ_CHECK(IsWellFormedUtf8(bytes));
    if (IsWellFormedUtf16(text)) {
      FUZZ_CHECK(Decoded(bytes) == text);
    } else {
      FUZZ_CHECK(IsWellFormedUtf16(Decoded(bytes)));
    }
  }
  return 0;
}
