#pragma once

#include <cstdint>
#include <string>
#include <vector>

// This host's IPv4 interfaces and routes, as a search for gateways needs
// them. One platform file implements this header: interfaces_posix.cpp
// (getifaddrs, /proc/net/route) or interfaces_win32.cpp (IP Helper).

struct cLocalInterface {
    std::string name;
    std::uint32_t address = 0; // network byte order
};

// The up, non-loopback IPv4 interfaces in the system's order, at most
// kMaxLocalAddresses (an interface with several addresses appears once for
// each).
std::vector<cLocalInterface> GetLocalInterfaces();

// The interface named `nameOrAddress`, or holding that dotted address.
bool FindLocalInterface(const std::string& nameOrAddress, cLocalInterface& out);

// The name of the interface holding this address; "" when none does.
std::string InterfaceNameOf(std::uint32_t address);

// An IPv6 interface address that can be a pinhole's: global or unique local,
// with the index of its interface.
struct cLocalAddress6 {
    std::string name;
    unsigned index = 0;
    std::string address; // canonical text
};

// Those addresses of up interfaces in the system's order (loopback,
// link-local and multicast left out), at most kMaxLocalAddresses.
std::vector<cLocalAddress6> GetLocalIPv6Addresses();

// The gateway of the IPv4 default route, as dotted text.
bool GetDefaultGateway(std::string& out);
