// Network start-up and shutdown: the connection table, socket start-up and the run-time
// look-up of the address-resolution functions.
#include "runtime/net/network.h"

#include <curl/curl.h>

#include "platform/sockets.h"

namespace ralto {

ObjectTable* ConnectionTable = nullptr;
bool ipv6ResolverAvailable = false;

namespace {

constexpr std::int32_t ConnectionStep = 16;
constexpr sys::WORD SocketVersion = 0x0101;

bool tableCreated = false;
std::int16_t networkStarted = 0;
bool curlStarted = false;
sys::HMODULE resolverModule = nullptr;
sys::FARPROC getaddrinfoAddress = nullptr;
sys::FARPROC freeaddrinfoAddress = nullptr;
sys::FARPROC getnameinfoAddress = nullptr;

}  // namespace

std::int32_t StartNetwork() {
  if (!tableCreated) {
    tableCreated = true;
    ConnectionTable = CreateObjectTable(sizeof(Connection), ConnectionStep, ReleaseConnection);
  }
  // libcurl would otherwise initialise itself inside the first curl_easy_init, and two
  // first downloads on two threads must never do that at once.
  if (!curlStarted) curlStarted = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  if (networkStarted) return 1;
  sys::WSADATA data;
  networkStarted = sys::WSAStartup(SocketVersion, &data) == 0 ? 1 : 0;
  resolverModule = sys::LoadLibraryW(u"ws2_32.dll");
  if (!resolverModule) return networkStarted;
  getaddrinfoAddress = sys::GetProcAddress(resolverModule, "getaddrinfo");
  freeaddrinfoAddress = sys::GetProcAddress(resolverModule, "freeaddrinfo");
  getnameinfoAddress = sys::GetProcAddress(resolverModule, "getnameinfo");
  if (getaddrinfoAddress && freeaddrinfoAddress && getnameinfoAddress) {
    ipv6ResolverAvailable = true;
  }
  return networkStarted;
}

void StopNetwork() {
  if (ConnectionTable) ReleaseAllObjects(ConnectionTable);
  if (networkStarted) sys::WSACleanup();
  // Forgetting the module and its addresses keeps a second stop from unloading it twice and
  // leaves no address into an unloaded module behind.
  if (resolverModule) {
    sys::FreeLibrary(resolverModule);
    resolverModule = nullptr;
    getaddrinfoAddress = freeaddrinfoAddress = getnameinfoAddress = nullptr;
  }
}

void ReleaseConnection(ObjectId id) {
  if (!ConnectionTable) return;
  if (id == -1) {
    ReleaseAllObjects(ConnectionTable);
    return;
  }
  auto* connection = static_cast<Connection*>(LookupObject(ConnectionTable, id));
  if (!connection) return;
  while (connection->clients) {
    auto* client = reinterpret_cast<ConnectionClient*>(connection->clients + 1);
    if (connection->kind == 1) sys::closesocket(client->socket);
    ListUnlink(&connection->clients, client);
  }
  sys::closesocket(connection->socket);
  ReleaseObject(ConnectionTable, id);
}

}  // namespace ralto
