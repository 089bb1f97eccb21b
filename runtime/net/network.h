// Network start-up and shutdown: the connection table, socket start-up, the resolver module.
#pragma once
#include <cstdint>

namespace ralto {

// 1 when sockets are started (by this or an earlier call), 0 when their start-up failed.
std::int32_t StartNetwork();
void StopNetwork();

}  // namespace ralto
