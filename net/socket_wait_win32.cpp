#include "net/socket_wait.h"

#include <winsock2.h>

std::uint32_t WaitForAnySocket(const std::vector<const cSocket*>& sockets, int timeoutMs) {
    std::vector<WSAPOLLFD> entries;
    std::vector<std::size_t> index;
    for (std::size_t i = 0; i < sockets.size() && i < 32; ++i) {
        if (!sockets[i] || !sockets[i]->IsOpen())
            continue;
        WSAPOLLFD entry{};
        entry.fd = static_cast<SOCKET>(cSocketAccess::Handle(*sockets[i]));
        entry.events = POLLRDNORM;
        entries.push_back(entry);
        index.push_back(i);
    }
    if (entries.empty())
        return 0;
    const int ready =
        WSAPoll(entries.data(), static_cast<ULONG>(entries.size()), timeoutMs < 0 ? 0 : timeoutMs);
    if (ready <= 0)
        return 0;
    std::uint32_t mask = 0;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].revents & (POLLRDNORM | POLLERR | POLLHUP))
            mask |= std::uint32_t(1) << index[i];
    return mask;
}
