#include "net/socket_wait.h"

#include <cerrno>
#include <chrono>

#include <poll.h>

std::uint32_t WaitForAnySocket(const std::vector<const cSocket*>& sockets, int timeoutMs) {
    std::vector<pollfd> entries;
    std::vector<std::size_t> index;
    for (std::size_t i = 0; i < sockets.size() && i < 32; ++i) {
        if (!sockets[i] || !sockets[i]->IsOpen())
            continue;
        entries.push_back(pollfd{static_cast<int>(cSocketAccess::Handle(*sockets[i])), POLLIN, 0});
        index.push_back(i);
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        const int ready =
            poll(entries.data(), entries.size(), left > 0 ? static_cast<int>(left) : 0);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return 0;
        std::uint32_t mask = 0;
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i].revents & (POLLIN | POLLERR | POLLHUP))
                mask |= std::uint32_t(1) << index[i];
        return mask;
    }
}
