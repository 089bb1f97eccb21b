// Network start-up and shutdown, the release of connections with their client sockets, and
// the resolver module of the platform layer.
#include "runtime/net/network.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include "platform/heap.h"
#include "platform/sockets.h"
#include "runtime/strings/heaps.h"

namespace ralto {
namespace {

using NativeSocket = decltype(socket(AF_INET, SOCK_STREAM, 0));

bool IsOpen(NativeSocket s) {
  int type = 0;
  socklen_t length = sizeof type;
  return getsockopt(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) == 0;
}

// Two connected loopback sockets: a socket pair that Windows can make too.
struct SocketPair {
  NativeSocket fds[2];
  SocketPair() {
    // Windows makes no socket before the start-up; the destructor balances it.
    sys::WSADATA data;
    EXPECT_EQ(sys::WSAStartup(0x0202, &data), 0);
    NativeSocket listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(listen(listener, 1), 0);
    EXPECT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    fds[0] = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(connect(fds[0], reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    fds[1] = accept(listener, nullptr, nullptr);
    sys::closesocket(static_cast<sys::SOCKET>(listener));
    EXPECT_TRUE(IsOpen(fds[0]) && IsOpen(fds[1]));
  }
  ~SocketPair() {
    for (NativeSocket fd : fds) {
      if (IsOpen(fd)) sys::closesocket(static_cast<sys::SOCKET>(fd));
    }
    sys::WSACleanup();
  }
};

class NetworkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { generalHeap = sys::HeapCreate(0, 4096, 0); }

  // A connection under number (or a dynamic one for -1) owning socket, with clients.
  static Connection* AddConnection(ObjectId number, NativeSocket socket, std::uint16_t kind,
                                   std::initializer_list<NativeSocket> clients) {
    auto* connection = static_cast<Connection*>(ObtainObject(ConnectionTable, number));
    connection->socket = static_cast<std::uint32_t>(socket);
    connection->kind = kind;
    for (NativeSocket client : clients) {
      auto* entry = static_cast<ConnectionClient*>(
          ListInsert(&connection->clients, ListLinksSize + sizeof(ConnectionClient)));
      entry->socket = static_cast<std::uint32_t>(client);
    }
    return connection;
  }
};

TEST_F(NetworkTest, StartsOnceAndFindsTheResolver) {
  EXPECT_EQ(StartNetwork(), 1);
  ObjectTable* table = ConnectionTable;
  ASSERT_NE(table, nullptr);
  EXPECT_TRUE(ipv6ResolverAvailable);
  EXPECT_EQ(StartNetwork(), 1);
  EXPECT_EQ(ConnectionTable, table);
}

TEST_F(NetworkTest, ReleasingAConnectionClosesClientSocketsOnlyForKindOne) {
  StartNetwork();
  SocketPair own1, own2, clients;
  AddConnection(0, own1.fds[0], 1, {clients.fds[0]});
  Connection* keeps = AddConnection(-1, own2.fds[0], 2, {clients.fds[1]});

  ReleaseConnection(0);
  EXPECT_FALSE(IsOpen(own1.fds[0]));
  EXPECT_FALSE(IsOpen(clients.fds[0]));
  EXPECT_EQ(LookupObject(ConnectionTable, 0), nullptr);

  ReleaseConnection(reinterpret_cast<ObjectId>(keeps));
  EXPECT_FALSE(IsOpen(own2.fds[0]));
  EXPECT_TRUE(IsOpen(clients.fds[1]));

  ReleaseConnection(5);  // never used: nothing happens
  EXPECT_TRUE(IsOpen(own1.fds[1]));
}

TEST_F(NetworkTest, ReleasingAllClosesEveryConnection) {
  StartNetwork();
  SocketPair a, b, c;
  AddConnection(1, a.fds[0], 1, {});
  AddConnection(-1, b.fds[0], 1, {c.fds[0], c.fds[1]});
  AddConnection(-1, a.fds[1], 0, {});
  ReleaseConnection(-1);
  for (NativeSocket fd : {a.fds[0], a.fds[1], b.fds[0], c.fds[0], c.fds[1]}) {
    EXPECT_FALSE(IsOpen(fd)) << fd;
  }
  EXPECT_TRUE(IsOpen(b.fds[1]));
  EXPECT_EQ(ConnectionTable->listHead, nullptr);
}

TEST_F(NetworkTest, StopWithAnEmptyTableClosesNothingAndMayBeRepeated) {
  StartNetwork();
  SocketPair unrelated;
  StopNetwork();
  StopNetwork();
  EXPECT_TRUE(IsOpen(unrelated.fds[0]));
  EXPECT_TRUE(IsOpen(unrelated.fds[1]));
  // Sockets stay started: a later start changes nothing.
  EXPECT_EQ(StartNetwork(), 1);
}

#ifndef _WIN32
// The stand-in's module: Windows loads whatever socket library it is asked for.
TEST(ResolverModuleTest, OnlyTheSocketModuleLoads) {
  for (const char16_t* name : {u"ws2_32.dll", u"WS2_32.DLL", u"Ws2_32.dll"}) {
    sys::HMODULE module = sys::LoadLibraryW(name);
    ASSERT_NE(module, nullptr);
    auto lookup =
        reinterpret_cast<decltype(&getaddrinfo)>(sys::GetProcAddress(module, "getaddrinfo"));
    EXPECT_EQ(lookup, &getaddrinfo);
    EXPECT_NE(sys::GetProcAddress(module, "getnameinfo"), nullptr);
    EXPECT_EQ(sys::GetProcAddress(module, "NoSuchFunction"), nullptr);
    EXPECT_EQ(sys::FreeLibrary(module), sys::TRUE);
  }
  for (const char16_t* name : {u"ws2_32", u"ws2_32.dll2", u"wsock32.dll", u"", u"libc.so.6"}) {
    EXPECT_EQ(sys::LoadLibraryW(name), nullptr);
  }
  EXPECT_EQ(sys::LoadLibraryW(nullptr), nullptr);
  EXPECT_EQ(sys::FreeLibrary(nullptr), sys::FALSE);
}
#endif

TEST(SocketStartTest, StartCleanupAndClose) {
  sys::WSADATA data;
  EXPECT_EQ(sys::WSAStartup(0x0101, &data), 0);
  EXPECT_EQ(sys::WSACleanup(), 0);
  SocketPair pair;
  EXPECT_EQ(sys::closesocket(static_cast<sys::SOCKET>(pair.fds[0])), 0);
  EXPECT_FALSE(IsOpen(pair.fds[0]));
  EXPECT_EQ(sys::closesocket(static_cast<sys::SOCKET>(pair.fds[0])), -1);
}

}  // namespace
}  // namespace ralto
