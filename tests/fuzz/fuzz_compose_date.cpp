// Date composition: any fields give a value or -1 without a fault; a value is what the
// civil calendar gives, and valid values are ordered as their fields are.
#include <array>
#include <ctime>

#include "fuzz_support.h"
#include "runtime/files/date.h"

namespace ralto::fuzz {
namespace {

using Fields = std::array<std::int32_t, 6>;  // year, month, day, hour, minute, second

DateValue Compose(const Fields& f) {
  return ComposeDate(f[0], f[1], f[2], f[3], f[4], f[5]);
}

// The civil calendar through timegm: -1 unless every field is in its range, the day exists
// and the moment lies in 1970-01-01 00:00:00 .. 2038-01-19 03:14:07.
std::int64_t Expected(const Fields& f) {
  if (f[1] < 1 || f[1] > 12 || f[2] < 1 || f[2] > 31 || f[3] < 0 || f[3] > 23 || f[4] < 0 ||
      f[4] > 59 || f[5] < 0 || f[5] > 59 || f[0] < 1900 || f[0] > 3000) {
    return -1;
  }
  std::tm tm{};
  tm.tm_year = f[0] - 1900;
  tm.tm_mon = f[1] - 1;
  tm.tm_mday = f[2];
  tm.tm_hour = f[3];
  tm.tm_min = f[4];
  tm.tm_sec = f[5];
  std::int64_t value = timegm(&tm);
  if (tm.tm_mday != f[2]) return -1;  // 30 February rolled over into March
  if (value < 0 || value > 2147483647) return -1;
  return value;
}

Fields Consume(FuzzedDataProvider& in) {
  Fields f;
  // Mostly near the valid range, sometimes anything at all.
  static constexpr std::array<std::int32_t, 6> Low{1968, -1, -1, -1, -1, -1};
  static constexpr std::array<std::int32_t, 6> High{2040, 13, 32, 24, 60, 60};
  for (std::size_t i = 0; i < f.size(); ++i) {
    f[i] = in.ConsumeBool() ? in.ConsumeIntegralInRange(Low[i], High[i])
                            : in.ConsumeIntegral<std::int32_t>();
  }
  return f;
}

}  // namespace
}  // namespace ralto::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ralto::fuzz;
  FuzzedDataProvider in(data, size);
  Fields a = Consume(in);
  Fields b = Consume(in);
  ralto::DateValue va = Compose(a);
  ralto::DateValue vb = Compose(b);
  FUZZ_CHECK(va == Expected(a));
  FUZZ_CHECK(vb == Expected(b));
  if (va != -1 && vb != -1) FUZZ_CHECK((a < b) == (va < vb) && (a == b) == (va == vb));
  // One field a step later, the others kept: later still, when still valid.
  std::size_t field = in.ConsumeIntegralInRange<std::size_t>(0, 5);
  if (va != -1 && a[field] < INT32_MAX) {
    Fields later = a;
    ++later[field];
    ralto::DateValue vl = Compose(later);
    if (vl != -1) FUZZ_CHECK(vl > va);
  }
  return 0;
}
