// Linked into the statically linked copies only (cmake/ralto_program.cmake). Such a copy runs
// on systems whose C library is not the glibc it carries: an nsswitch.conf there may name
// modules (resolve, mdns, myhostname) that static glibc would dlopen together with that
// system's libc.so.6, another C library in the same process, or fail to find and leave the
// lookup broken. Host names come from /etc/hosts, then from the servers in /etc/resolv.conf,
// both built into glibc itself, whatever nsswitch.conf says.
#include <nss.h>

namespace {

__attribute__((constructor)) void ResolveFromHostsAndDnsOnly() {
  __nss_configure_lookup("hosts", "files dns");
}

}  // namespace
