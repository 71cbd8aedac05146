#include "net/interfaces.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <vector>

#include "net/socket.h"

namespace {

// GetAdaptersAddresses asks for its buffer size; a few tries cover a list
// that grows between two calls.
constexpr int kAdapterQueryTries = 3;

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
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int tries = 0; tries < kAdapterQueryTries && result == ERROR_BUFFER_OVERFLOW; ++tries) {
        buffer.assign(size, 0);
        result = GetAdaptersAddresses(AF_INET,
                                      GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                                          GAA_FLAG_SKIP_DNS_SERVER,
                                      nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR)
        return interfaces;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter;
         adapter = adapter->Next) {
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
