// String variables and the one temporary string area in which string expressions are built.
//
// Texts in the area are addressed by positions (byte offsets from base). Any operation that
// reserves space may move the block: an address into the area is valid only until then.
// Out of memory for a text (or an area past 2 GiB), the process writes one line to standard
// error and aborts: no operation here can report a lost buffer, and none fails otherwise.
#pragma once
#include <cstdint>

namespace ralto {

// Absent (null) or the owner of a string-heap block: the text, a 0 unit and 8 spare bytes.
using StringValue = char16_t*;

struct TempStringArea {
  char* base;             // the block; moves on growth
  std::int32_t position;  // byte offset of the end of the text written so far; always even
  std::int32_t capacity;  // bytes against which growth is tested
};
extern TempStringArea tempArea;

// Creates the string heap and the area (capacity 16, position 0).
void StartStringArea();
// Releases the area and destroys the string heap with every StringValue in it.
void StopStringArea();
// Gives the variable its own copy of text (absent text: frees it, variable absent).
// Returns 2*length+2 bytes stored, or 2 when cleared.
std::int32_t AssignString(StringValue* variable, const char16_t* text);
// Room for count units at position at; position := at + 2*count. May move the block.
char16_t* ReserveTemp(std::int32_t count, std::int32_t at);
// Appends text (which must not lie in the area) and terminates it; absent: terminates only.
void AppendTemp(const char16_t* text);
// Copies the area's text from start to the position into the variable; position := start.
std::int32_t StoreTemp(StringValue* variable, std::int32_t start);
// 1-based offset of an address inside [base, base+position]; 0 when outside.
std::int32_t TempOffsetOf(const void* address);
// base + offset - 1 with the current base.
char16_t* TempPointerAt(std::int32_t offset);
// position -= 2*count; returns 2*count.
std::int32_t DropTempChars(std::int32_t count);
// position := at and a 0 unit written there: the one way to leave the empty text at a
// position (at is never past the position, so it needs no growth). Returns at.
std::int32_t ResetTemp(std::int32_t at);
// Copies count units two at a time, then writes a 0 unit at destination[count].
void CopyChars(char16_t* destination, const char16_t* source, std::int32_t count);

// The area's text at a position, with the current base (valid until the next growth).
inline char16_t* TempText(std::int32_t at) {
  return reinterpret_cast<char16_t*>(tempArea.base + at);
}

}  // namespace ralto
