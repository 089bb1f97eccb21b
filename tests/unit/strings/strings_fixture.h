// A general heap and a started string area for each test, as the program's start-up makes them.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "platform/heap.h"
#include "runtime/strings/heaps.h"
#include "runtime/strings/string_area.h"

namespace ralto {

class StringsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    generalHeap = sys::HeapCreate(0, 4096, 0);
    StartStringArea();
  }
  void TearDown() override {
    StopStringArea();
    sys::HeapDestroy(generalHeap);
    generalHeap = nullptr;
  }
  // The area's text at a position, copied out.
  static std::u16string AreaText(std::int32_t at) { return TempText(at); }
};

}  // namespace ralto
