// Network start-up and shutdown: the connection table, socket start-up, the resolver module.
#pragma once
#include <cstdint>

#include "runtime/strings/object_table.h"

namespace ralto {

// A connection of the ConnectionTable. The program opens none; the table only releases what
// it holds at the end.
struct Connection {
  std::uint32_t socket;  // never 0 while in use: the table's liveness mark
  std::uint16_t kind;    // 1: the clients' sockets are closed with the connection
  ListNode* clients;     // entries of ConnectionClient
};
struct ConnectionClient {
  std::uint32_t socket;
};

// Created by the first StartNetwork; null before.
extern ObjectTable* ConnectionTable;
// Set once the resolver functions were all found; never cleared.
extern bool ipv6ResolverAvailable;

// 1 when sockets are started (by this or an earlier call), 0 when their start-up failed.
std::int32_t StartNetwork();
// Releases every connection, then undoes what StartNetwork set up. Call it once, at the end.
void StopNetwork();
// Closes connection id (-1: every one) with its client entries and releases it; an id
// without a connection does nothing.
void ReleaseConnection(ObjectId id);

}  // namespace ralto
