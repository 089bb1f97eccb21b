// UTF-16 to and from UTF-8 and Windows-1252, the ANSI code page where the system has none.
#include "platform/text_codec.h"

#include <cstring>
#include <string>

namespace sys {
namespace {

constexpr char16_t Replacement = 0xFFFD;

// Windows-1252 bytes 0x80-0x9F; the five bytes it leaves undefined stand for the C1
// character of the same value, so that every byte survives a round trip.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The 1252 byte of a character, or -1 when the code page lacks it.
int Cp1252Byte(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
  for (int i = 0; i < 32; ++i) {
    if (Cp1252High[i] == c) return 0x80 + i;
  }
  return -1;
}

// Counts what a conversion produces and stores it while there is room. A conversion
// that does not fit stores a prefix and is then reported as a failure.
template <typename Unit>
struct Output {
  Unit* out;
  int room;
  long long count = 0;
  void Put(Unit unit) {
    if (count < room) out[count] = unit;
    ++count;
  }
};

// Decodes one UTF-8 character starting at bytes[i], taking as much of an ill-formed
// sequence as is a valid prefix (the maximal subpart), so each ill-formed run gives one
// U+FFFD. Returns the number of bytes consumed.
int DecodeUtf8(const unsigned char* bytes, int i, int end, char32_t* c) {
  unsigned char lead = bytes[i];
  if (lead < 0x80) {
    *c = lead;
    return 1;
  }
  int trail;
  unsigned char low = 0x80, high = 0xBF;
  char32_t value;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trail = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trail = 2;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trail = 3;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    *c = Replacement;
    return 1;
  }
  int used = 1;
  for (int k = 0; k < trail; ++k) {
    if (i + used >= end) {
      *c = Replacement;
      return used;
    }
    unsigned char b = bytes[i + used];
    if (b < low || b > high) {
      *c = Replacement;
      return used;
    }
    value = (value << 6) | (b & 0x3F);
    ++used;
    low = 0x80;
    high = 0xBF;
  }
  *c = value;
  return used;
}

// UTF-8 into UTF-16: the units it takes, or -1 when they do not fit into room. Without
// Write it only counts. This is the inner loop of every line read in UTF-8.
template <bool Write>
long long DecodeUtf8Text(const unsigned char* in, int end, char16_t* out, long long room) {
  long long count = 0;
  for (int i = 0; i < end;) {
    if (in[i] < 0x80) {
      if (Write) {
        if (count == room) return -1;
        out[count] = in[i];
      }
      ++count;
      ++i;
      continue;
    }
    char32_t c;
    i += DecodeUtf8(in, i, end, &c);
    if (c >= 0x10000) {
      if (Write) {
        if (count + 2 > room) return -1;
        c -= 0x10000;
        out[count] = static_cast<char16_t>(0xD800 + (c >> 10));
        out[count + 1] = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
      }
      count += 2;
    } else {
      if (Write) {
        if (count == room) return -1;
        out[count] = static_cast<char16_t>(c);
      }
      ++count;
    }
  }
  return count;
}

void PutUtf8(Output<char>& out, char32_t c) {
  if (c < 0x80) {
    out.Put(static_cast<char>(c));
  } else if (c < 0x800) {
    out.Put(static_cast<char>(0xC0 | (c >> 6)));
    out.Put(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.Put(static_cast<char>(0xE0 | (c >> 12)));
    out.Put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.Put(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.Put(static_cast<char>(0xF0 | (c >> 18)));
    out.Put(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.Put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.Put(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Reads one character of UTF-16 at wide[i]; a lone surrogate comes back as itself.
int DecodeUtf16(const char16_t* wide, int i, int end, char32_t* c) {
  char16_t u = wide[i];
  if (u >= 0xD800 && u <= 0xDBFF && i + 1 < end && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
    *c = 0x10000 + ((static_cast<char32_t>(u - 0xD800) << 10) | (wide[i + 1] - 0xDC00));
    return 2;
  }
  *c = u;
  return 1;
}

bool IsSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}

// The count of a finished conversion: 0 when it overflowed the output or an int.
template <typename Unit>
int Finish(const Output<Unit>& out) {
  if (out.count > 0x7FFFFFFF) return 0;
  if (out.room > 0 && out.count > out.room) return 0;
  return static_cast<int>(out.count);
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD, const char* bytes, int byteCount, char16_t* wide,
                        int wideCount) {
  if (codePage != CP_ACP && codePage != CP_UTF8) return 0;
  if (!bytes || byteCount == 0 || byteCount < -1 || wideCount < 0) return 0;
  if (wideCount > 0 && !wide) return 0;
  if (byteCount == -1) {
    std::size_t length = std::strlen(bytes) + 1;
    if (length > 0x7FFFFFFF) return 0;
    byteCount = static_cast<int>(length);
  }
  const auto* in = reinterpret_cast<const unsigned char*>(bytes);
  Output<char16_t> out{wide, wideCount};
  if (codePage == CP_ACP) {
    for (int i = 0; i < byteCount; ++i) {
      unsigned char b = in[i];
      out.Put(b >= 0x80 && b <= 0x9F ? Cp1252High[b - 0x80] : static_cast<char16_t>(b));
    }
    return Finish(out);
  }
  long long units = wideCount == 0 ? DecodeUtf8Text<false>(in, byteCount, nullptr, 0)
                                   : DecodeUtf8Text<true>(in, byteCount, wide, wideCount);
  return units < 0 || units > 0x7FFFFFFF ? 0 : static_cast<int>(units);
}

int WideCharToMultiByte(UINT codePage, DWORD, const char16_t* wide, int wideCount, char* bytes,
                        int byteCount, const char* defaultChar, BOOL* usedDefault) {
  if (codePage != CP_ACP && codePage != CP_UTF8) return 0;
  if (!wide || wideCount == 0 || wideCount < -1 || byteCount < 0) return 0;
  if (byteCount > 0 && !bytes) return 0;
  // As on Windows, UTF-8 has no default character to report.
  if (codePage == CP_UTF8 && (defaultChar || usedDefault)) return 0;
  if (wideCount == -1) {
    std::size_t length = std::char_traits<char16_t>::length(wide) + 1;
    if (length > 0x7FFFFFFF) return 0;
    wideCount = static_cast<int>(length);
  }
  if (usedDefault) *usedDefault = FALSE;
  Output<char> out{bytes, byteCount};
  char32_t c;
  for (int i = 0; i < wideCount;) {
    i += DecodeUtf16(wide, i, wideCount, &c);
    if (codePage == CP_UTF8) {
      PutUtf8(out, IsSurrogate(c) ? Replacement : c);
      continue;
    }
    int b = Cp1252Byte(c);
    if (b < 0) {
      out.Put(defaultChar ? *defaultChar : '?');
      if (usedDefault) *usedDefault = TRUE;
    } else {
      out.Put(static_cast<char>(b));
    }
  }
  return Finish(out);
}

}  // namespace sys
