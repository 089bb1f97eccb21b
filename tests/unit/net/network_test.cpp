// Network start-up and shutdown, the release of connections with their client sockets, and
// the resolver module of the platform layer.
#include "runtime/net/network.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/heap.h"
#include "platform/sockets.h"
#include "runtime/strings/heaps.h"

namespace ralto {
namespace {

bool IsOpen(int fd) {
  return fcntl(fd, F_GETFD) != -1 || errno != EBADF;
}

struct SocketPair {
  int fds[2] = {-1, -1};
  SocketPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0); }
  ~SocketPair() {
    for (int fd : fds) {
      if (IsOpen(fd)) close(fd);
    }
  }
};

class NetworkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { generalHeap = sys::HeapCreate(0, 4096, 0); }

  // A connection under number (or a dynamic one for -1) owning socket, with clients.
  static Connection* AddConnection(ObjectId number, int socket, std::uint16_t kind,
                                   std::initializer_list<int> clients) {
    auto* connection = static_cast<Connection*>(ObtainObject(ConnectionTable, number));
    connection->socket = static_cast<std::uint32_t>(socket);
    connection->kind = kind;
    for (int client : clients) {
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
  for (int fd : {a.fds[0], a.fds[1], b.fds[0], c.fds[0], c.fds[1]}) EXPECT_FALSE(IsOpen(fd)) << fd;
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

TEST(SocketStartTest, StartCleanupAndClose) {
  sys::WSADATA data;
  EXPECT_EQ(sys::WSAStartup(0x0101, &data), 0);
  EXPECT_EQ(sys::WSACleanup(), 0);
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  EXPECT_EQ(sys::closesocket(static_cast<sys::SOCKET>(fds[0])), 0);
  EXPECT_FALSE(IsOpen(fds[0]));
  EXPECT_EQ(sys::closesocket(static_cast<sys::SOCKET>(fds[0])), -1);
  close(fds[1]);
}

}  // namespace
}  // namespace ralto
