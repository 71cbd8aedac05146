#include "net/interfaces.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <cstring>
#include <vector>

#include "net/socket.h"
#include "net/url.h"

namespace {

// GetAdaptersAddresses asks for its buffer size; a few tries cover a list
// that grows between two calls.
constexpr int kAdapterQueryTries = 3;

// The adapters with their unicast addresses of one family; empty on failure.
std::vector<unsigned char> QueryAdapters(ULONG family) {
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int tries = 0; tries < kAdapterQueryTries && result == ERROR_BUFFER_OVERFLOW; ++tries) {
        buffer.assign(size, 0);
        result = GetAdaptersAddresses(family,
                                      GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                                          GAA_FLAG_SKIP_DNS_SERVER,
                                      nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR)
        buffer.clear();
    return buffer;
}

std::string Narrow(const wchar_t* wide) {
    if (!wide || !*wide)
        return "";
    const int size = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return "";
    std::string text(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, -1, &text[0], size, nullptr, nullptr);
    text.resize(static_cast<size_t>(size - 1));
    return text;
}

} // namespace

std::vector<cLocalInterface> GetLocalInterfaces() {
    std::vector<cLocalInterface> interfaces;
    const std::vector<unsigned char> buffer = QueryAdapters(AF_INET);
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
         !buffer.empty() && adapter; adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp ||
            adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
            continue;
        for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
            const sockaddr* address = unicast->Address.lpSockaddr;
            if (!address || address->sa_family != AF_INET ||
                interfaces.size() >= kMaxLocalAddresses)
                continue;
            cLocalInterface entry;
            entry.name = Narrow(adapter->FriendlyName);
            entry.address = reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr;
            interfaces.push_back(entry);
        }
    }
    return interfaces;
}

bool GetDefaultGateway(std::string& out) {
    MIB_IPFORWARDROW route;
    if (GetBestRoute(0, 0, &route) != NO_ERROR || route.dwForwardNextHop == 0)
        return false;
    out = AddressText(route.dwForwardNextHop);
    return true;
}

std::vector<cLocalAddress6> GetLocalIPv6Addresses() {
    std::vector<cLocalAddress6> addresses;
    const std::vector<unsigned char> buffer = QueryAdapters(AF_INET6);
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
         !buffer.empty() && adapter; adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp ||
            adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
            continue;
        for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
            const sockaddr* address = unicast->Address.lpSockaddr;
            if (!address || address->sa_family != AF_INET6 ||
                addresses.size() >= kMaxLocalAddresses)
                continue;
            std::uint8_t bytes[16];
            std::memcpy(bytes, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr,
                        sizeof bytes);
            // link-local fe80::/10, multicast ff00::/8, loopback and unspecified
            const bool linkLocal = bytes[0] == 0xFE && (bytes[1] & 0xC0) == 0x80;
            bool zeroHead = true;
            for (int i = 0; i < 15; ++i)
                zeroHead = zeroHead && bytes[i] == 0;
            if (linkLocal || bytes[0] == 0xFF || (zeroHead && bytes[15] <= 1))
                continue;
            addresses.push_back({Narrow(adapter->FriendlyName),
                                 static_cast<unsigned>(adapter->Ipv6IfIndex), Ipv6Text(bytes)});
        }
    }
    return addresses;
}
