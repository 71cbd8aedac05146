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

// Calls visit(adapter, address) for each unicast address of the family on
// every adapter that is up and not the loopback.
template <typename tVisit>
void ForEachUnicast(ULONG family, tVisit visit) {
    const std::vector<unsigned char> buffer = QueryAdapters(family);
    if (buffer.empty())
        return;
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter;
         adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp ||
            adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
            continue;
        for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
            const sockaddr* address = unicast->Address.lpSockaddr;
            if (address && address->sa_family == static_cast<int>(family))
                visit(*adapter, *address);
        }
    }
}

} // namespace

std::vector<cLocalInterface> GetLocalInterfaces() {
    std::vector<cLocalInterface> interfaces;
    ForEachUnicast(AF_INET, [&](const IP_ADAPTER_ADDRESSES& adapter, const sockaddr& address) {
        if (interfaces.size() >= kMaxLocalAddresses)
            return;
        cLocalInterface entry;
        entry.name = Narrow(adapter.FriendlyName);
        entry.address = reinterpret_cast<const sockaddr_in&>(address).sin_addr.s_addr;
        interfaces.push_back(entry);
    });
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
    ForEachUnicast(AF_INET6, [&](const IP_ADAPTER_ADDRESSES& adapter, const sockaddr& address) {
        const in6_addr& ip = reinterpret_cast<const sockaddr_in6&>(address).sin6_addr;
        if (addresses.size() >= kMaxLocalAddresses || IN6_IS_ADDR_LINKLOCAL(&ip) ||
            IN6_IS_ADDR_LOOPBACK(&ip) || IN6_IS_ADDR_MULTICAST(&ip) ||
            IN6_IS_ADDR_UNSPECIFIED(&ip) || IN6_IS_ADDR_V4MAPPED(&ip))
            return;
        std::uint8_t bytes[16];
        std::memcpy(bytes, &ip, sizeof bytes);
        addresses.push_back({Narrow(adapter.FriendlyName),
                             static_cast<unsigned>(adapter.Ipv6IfIndex), Ipv6Text(bytes)});
    });
    return addresses;
}
