// Integer parsing: any text parses without a fault, and a number written in any of the
// three notations, with blanks, sign and trailing text around it, reads back as itself.
#include <array>
#include <string>

#include "fuzz_support.h"
#include "runtime/strings/string_ops.h"

namespace ralto::fuzz {
namespace {

std::u16string Digits(std::uint64_t magnitude, unsigned base) {
  static constexpr char16_t Symbols[] = u"0123456789abcdef";
  std::u16string digits;
  do {
    digits.insert(digits.begin(), Symbols[magnitude % base]);
    magnitude /= base;
  } while (magnitude != 0);
  return digits;
}

}  // namespace
}  // namespace ralto::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ralto::fuzz;
  FuzzedDataProvider in(data, size);
  auto value = in.ConsumeIntegral<std::int64_t>();
  unsigned base = std::array<unsigned, 3>{10, 16, 2}[in.ConsumeIntegralInRange(0, 2)];
  bool upperCase = in.ConsumeBool();
  std::u16string blanks;
  for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n)
    blanks += in.ConsumeBool() ? u' ' : u'\t';
  bool explicitPlus = in.ConsumeBool();
  std::u16string tail = ConsumeText(in, 64);

  // The arbitrary tail alone.
  (void)ralto::ToInteger(tail.c_str());

  std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  std::u16string digits = Digits(magnitude, base);
  if (upperCase) {
    for (char16_t& c : digits) {
      if (c >= u'a' && c <= u'f') c = static_cast<char16_t>(c - u'a' + u'A');
    }
  }
  std::u16string text = blanks +
                        (value < 0      ? u"-"
                         : explicitPlus ? u"+"
                                        : u"") +
                        (base == 16  ? u"$"
                         : base == 2 ? u"%"
                                     : u"") +
                        digits;
  // Whatever follows must not be a digit the notation could still take.
  static const std::u16string DigitsOf16 = u"0123456789abcdefABCDEF";
  std::size_t stop = tail.find_first_of(base == 16   ? DigitsOf16
                                        : base == 10 ? std::u16string(u"0123456789")
                                                     : std::u16string(u"01"));
  std::u16string suffix = tail.substr(0, stop);
  FUZZ_CHECK(ralto::ToInteger((text + suffix).c_str()) == value);
  return 0;
}
