#include "net/interfaces.h"

#include <arpa/inet.h>
#include <cstdio>
#include <fstream>

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include "net/socket.h"

namespace {

// /proc/net/route holds at most a few hundred lines; more is not a routing table.
constexpr int kMaxRouteLines = 4096;

std::string AddressText6(const in6_addr& address) {
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, &address, text, sizeof text);
    return text;
}

} // namespace

std::vector<cLocalInterface> GetLocalInterfaces() {
    std::vector<cLocalInterface> interfaces;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return interfaces;
    for (const ifaddrs* at = list; at && interfaces.size() < kMaxLocalAddresses; at = at->ifa_next) {
        if (!at->ifa_addr || at->ifa_addr->sa_family != AF_INET || !(at->ifa_flags & IFF_UP) ||
            (at->ifa_flags & IFF_LOOPBACK))
            continue;
        cLocalInterface entry;
        entry.name = at->ifa_name ? at->ifa_name : "";
        entry.address = reinterpret_cast<const sockaddr_in*>(at->ifa_addr)->sin_addr.s_addr;
        interfaces.push_back(entry);
    }
    freeifaddrs(list);
    return interfaces;
}

// Lines of "Iface Destination Gateway Flags …" with hexadecimal addresses in
// network byte order; the default route has destination and mask 0.
bool GetDefaultGateway(std::string& out) {
    std::ifstream routes("/proc/net/route");
    std::string line;
    std::getline(routes, line); // the heading
    for (int lines = 0; lines < kMaxRouteLines && std::getline(routes, line); ++lines) {
        char name[64] = {};
        unsigned destination = 0, gateway = 0, flags = 0, mask = 0;
        unsigned refCount = 0, use = 0, metric = 0;
        if (std::sscanf(line.c_str(), "%63s %x %x %x %u %u %u %x", name, &destination, &gateway,
                        &flags, &refCount, &use, &metric, &mask) != 8)
            continue;
        const unsigned kRouteUp = 0x1, kRouteGateway = 0x2;
        if (destination == 0 && mask == 0 && (flags & kRouteUp) && (flags & kRouteGateway) &&
            gateway != 0) {
            out = AddressText(gateway);
            return true;
        }
    }
    return false;
}

std::vector<cLocalAddress6> GetLocalIPv6Addresses() {
    std::vector<cLocalAddress6> addresses;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return addresses;
    for (const ifaddrs* at = list; at && addresses.size() < kMaxLocalAddresses; at = at->ifa_next) {
        if (!at->ifa_addr || at->ifa_addr->sa_family != AF_INET6 || !(at->ifa_flags & IFF_UP) ||
            (at->ifa_flags & IFF_LOOPBACK) || !at->ifa_name)
            continue;
        const in6_addr& address = reinterpret_cast<const sockaddr_in6*>(at->ifa_addr)->sin6_addr;
        if (IN6_IS_ADDR_LINKLOCAL(&address) || IN6_IS_ADDR_LOOPBACK(&address) ||
            IN6_IS_ADDR_MULTICAST(&address) || IN6_IS_ADDR_UNSPECIFIED(&address) ||
            IN6_IS_ADDR_V4MAPPED(&address))
            continue;
        addresses.push_back({at->ifa_name, if_nametoindex(at->ifa_name), AddressText6(address)});
    }
    freeifaddrs(list);
    return addresses;
}
