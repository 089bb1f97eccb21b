// The general heap: runtime records (object tables, file buffers, download jobs) live in it.
#pragma once
#include "platform/types.h"

namespace ralto {

// Created by the program's start-up and destroyed at its end, which releases every record.
// Null when it could not be created; the start-up goes on regardless.
extern sys::HANDLE generalHeap;

}  // namespace ralto
