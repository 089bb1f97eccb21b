// The string runtime against the standard library: building an expression, parsing an
// integer, and turning UTF-8 into a text.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/heap.h"
#include "runtime/strings/heaps.h"
#include "runtime/strings/string_area.h"
#include "runtime/strings/string_ops.h"
#include "runtime/strings/text_convert.h"

namespace {

// Ten pieces of about 100 units each: a 1 KiB expression.
std::vector<std::u16string> Pieces() {
  std::vector<std::u16string> pieces;
  for (int i = 0; i < 10; ++i) {
    pieces.push_back(std::u16string(100 + i, static_cast<char16_t>(u'a' + i)));
  }
  return pieces;
}

struct Runtime {
  Runtime() {
    ralto::generalHeap = sys::HeapCreate(0, 4096, 0);
    ralto::StartStringArea();
  }
  ~Runtime() {
    ralto::StopStringArea();
    sys::HeapDestroy(ralto::generalHeap);
  }
};

void BM_ExpressionIntoVariable(benchmark::State& state) {
  Runtime runtime;
  auto pieces = Pieces();
  ralto::StringValue v = nullptr;
  for (auto _ : state) {
    std::int32_t s = ralto::tempArea.position;
    for (const auto& piece : pieces) ralto::AppendTemp(piece.c_str());
    ralto::StoreTemp(&v, s);
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_ExpressionIntoVariable);

void BM_ExpressionIntoU16string(benchmark::State& state) {
  auto pieces = Pieces();
  std::u16string v;
  for (auto _ : state) {
    v = pieces[0] + pieces[1] + pieces[2] + pieces[3] + pieces[4] + pieces[5] + pieces[6] +
        pieces[7] + pieces[8] + pieces[9];
    benchmark::DoNotOptimize(v.data());
  }
}
BENCHMARK(BM_ExpressionIntoU16string);

// Decimal numbers of 1 to 19 digits.
template <typename Char>
std::vector<std::basic_string<Char>> Numbers() {
  std::vector<std::basic_string<Char>> numbers;
  std::uint64_t value = 7;
  for (int i = 0; i < 19; ++i) {
    std::string digits = std::to_string(value);
    numbers.emplace_back(digits.begin(), digits.end());
    value = value * 10 + static_cast<std::uint64_t>(i % 10);
  }
  return numbers;
}

void BM_ToInteger(benchmark::State& state) {
  auto numbers = Numbers<char16_t>();
  for (auto _ : state) {
    for (const auto& number : numbers) benchmark::DoNotOptimize(ralto::ToInteger(number.c_str()));
  }
}
BENCHMARK(BM_ToInteger);

void BM_FromChars(benchmark::State& state) {
  auto numbers = Numbers<char>();
  for (auto _ : state) {
    for (const auto& number : numbers) {
      std::int64_t value = 0;
      std::from_chars(number.data(), number.data() + number.size(), value);
      benchmark::DoNotOptimize(value);
    }
  }
}
BENCHMARK(BM_FromChars);

// 1 MiB of mostly ASCII text with German letters, the euro sign and a supplementary character.
std::string Utf8Text() {
  const std::string line =
      "Gr\xC3\xBC\xC3\x9F"
      "e aus K\xC3\xB6ln, 12 \xE2\x82\xAC \xF0\x9F\x98\x80 ok\n";
  std::string text;
  while (text.size() + line.size() <= (1u << 20)) text += line;
  text.resize(1u << 20, 'x');
  return text;
}

void BM_Utf8ToTemp(benchmark::State& state) {
  Runtime runtime;
  std::string text = Utf8Text();
  for (auto _ : state) {
    ralto::Utf8ToTemp(text.c_str(), 0);
    benchmark::DoNotOptimize(ralto::tempArea.base);
    ralto::ResetTemp(0);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Utf8ToTemp);

// A plain decoding loop without any checking, into a buffer of the right size.
void BM_Utf8PlainLoop(benchmark::State& state) {
  std::string text = Utf8Text();
  std::u16string out(text.size(), u'\0');
  for (auto _ : state) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.c_str());
    char16_t* o = out.data();
    while (*p) {
      char32_t c = *p;
      if (c < 0x80) {
        ++p;
      } else if (c < 0xE0) {
        c = ((c & 0x1F) << 6) | (p[1] & 0x3F);
        p += 2;
      } else if (c < 0xF0) {
        c = ((c & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F);
        p += 3;
      } else {
        c = ((c & 0x07) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) | (p[3] & 0x3F);
        p += 4;
      }
      if (c >= 0x10000) {
        *o++ = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        c = 0xDC00 + (c & 0x3FF);
      }
      *o++ = static_cast<char16_t>(c);
    }
    *o = 0;
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Utf8PlainLoop);

}  // namespace
