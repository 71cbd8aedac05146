#include "net/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/url.h"

// POSIX sockets behind the socket header: poll() stands for the Winsock event
// waits, `event` records whether the peer's close has been seen yet.

namespace {

constexpr std::uintptr_t kOpen = 1;
constexpr std::uintptr_t kClosedByPeer = 0;

int Fd(std::uintptr_t handle) { return static_cast<int>(handle); }

using cClock = std::chrono::steady_clock;

int RemainingMs(cClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - cClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// poll() that resumes after signals without extending the wait.
int PollFor(int fd, short events, int timeoutMs, short& revents) {
    const cClock::time_point deadline = cClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = poll(&entry, 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        revents = entry.revents;
        return ready;
    }
}

bool SetNonBlocking(int fd) {
    int on = 1;
    return ioctl(fd, FIONBIO, &on) == 0;
}

bool ResolveIPv4(const char* host, in_addr& out) {
    if (inet_pton(AF_INET, host, &out) == 1)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found)
        return false;
    out = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

bool IsLoopback(std::uint32_t address) { return (ntohl(address) >> 24) == 127; }


std::string Ipv6AddressText(const in6_addr& address) {
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, &address, text, sizeof text);
    return text;
}

} // namespace

cSocketSystem& cSocketSystem::GetInstance() {
    static cSocketSystem instance;
    return instance;
}

cSocketSystem::cSocketSystem() : started(true) {}

cSocketSystem::~cSocketSystem() = default;

cSocket::cSocket() : handle(kNoHandle), event(0) {}

cSocket::~cSocket() { Close(); }

bool cSocket::Create(eType type, bool ipv6) {
    if (!cSocketSystem::GetInstance().started)
        return false;
    Close();
    const int fd = socket(ipv6 ? AF_INET6 : AF_INET, (type == kStream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    handle = static_cast<std::uintptr_t>(fd);
    event = kOpen;
    return true;
}

void cSocket::Close() {
    if (handle != kNoHandle)
        close(Fd(handle));
    handle = kNoHandle;
    event = 0;
}

bool cSocket::IsOpen() const { return handle != kNoHandle; }

bool cSocket::ClosedByPeer() const { return handle != kNoHandle && event == kClosedByPeer; }

bool cSocket::Bind(std::uint16_t firstPort, int extra) {
    if (handle == kNoHandle || event == kClosedByPeer)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    for (long p = firstPort; p <= long(firstPort) + extra && p <= 0xFFFF; ++p) {
        address.sin_port = htons(static_cast<std::uint16_t>(p));
        if (bind(Fd(handle), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            port = static_cast<std::uint16_t>(p);
            return true;
        }
        if (errno != EADDRINUSE)
            return false;
    }
    return true; // every port taken: the system picks one at the first send
}

bool cSocket::Wait(int timeoutMs) {
    if (handle == kNoHandle || event == kClosedByPeer)
        return false;
    short revents = 0;
    if (PollFor(Fd(handle), POLLIN | POLLRDHUP, timeoutMs < 0 ? 0 : timeoutMs, revents) <= 0)
        return false;
    if (revents & (POLLRDHUP | POLLHUP | POLLERR))
        event = kClosedByPeer;
    if (!(revents & POLLIN))
        return false;
    // A close makes a stream readable with nothing to read: that is no data.
    int waiting = 0;
    return event != kClosedByPeer || (ioctl(Fd(handle), FIONREAD, &waiting) == 0 && waiting > 0);
}

bool cSocket::Read(std::string& buffer, int timeoutMs, std::uint32_t* fromAddress,
                   std::uint16_t* fromPort, std::string* fromText) {
    if (handle == kNoHandle || !Wait(timeoutMs))
        return false;
    int waiting = 0;
    if (ioctl(Fd(handle), FIONREAD, &waiting) != 0 || waiting < 0)
        return false;
    // An empty datagram is still a datagram (it is read and skipped by the
    // caller); an empty stream read means the peer has gone.
    if (waiting == 0 && !fromAddress && !fromText)
        return false;
    std::string block(static_cast<size_t>(waiting), '\0');
    sockaddr_storage sender{};
    socklen_t senderSize = sizeof sender;
    const ssize_t got = recvfrom(Fd(handle), block.empty() ? nullptr : &block[0], block.size(), 0,
                                 reinterpret_cast<sockaddr*>(&sender), &senderSize);
    if (got < 0)
        return false;
    block.resize(static_cast<size_t>(got));
    block.push_back('\0');
    buffer.swap(block);
    if (sender.ss_family == AF_INET6) {
        const auto& from6 = reinterpret_cast<const sockaddr_in6&>(sender);
        if (fromPort)
            *fromPort = from6.sin6_port;
        if (fromText)
            *fromText = Ipv6AddressText(from6.sin6_addr);
        return true;
    }
    const auto& from = reinterpret_cast<const sockaddr_in&>(sender);
    if (fromAddress)
        *fromAddress = from.sin_addr.s_addr;
    if (fromPort)
        *fromPort = from.sin_port;
    if (fromText)
        *fromText = AddressText(from.sin_addr.s_addr);
    return true;
}

bool cSocketTCP::Create(bool ipv6) { return cSocket::Create(kStream, ipv6); }

bool cSocketTCP::Connect(const char* host, std::uint16_t port, int timeoutMs) {
    if (handle == kNoHandle)
        return false;
    sockaddr_storage address{};
    socklen_t size = 0;
    if (IsIpv6Literal(host)) {
        auto& to = reinterpret_cast<sockaddr_in6&>(address);
        to.sin6_family = AF_INET6;
        to.sin6_port = htons(port);
        if (inet_pton(AF_INET6, host, &to.sin6_addr) != 1)
            return false;
        size = sizeof to;
    } else {
        auto& to = reinterpret_cast<sockaddr_in&>(address);
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        if (!ResolveIPv4(host, to.sin_addr))
            return false;
        size = sizeof to;
    }
    if (!SetNonBlocking(Fd(handle)))
        return false;
    if (connect(Fd(handle), reinterpret_cast<sockaddr*>(&address), size) == 0)
        return true;
    if (errno != EINPROGRESS)
        return false;
    short revents = 0;
    if (PollFor(Fd(handle), POLLOUT, timeoutMs, revents) <= 0)
        return false;
    int error = 0;
    socklen_t errorSize = sizeof error;
    return getsockopt(Fd(handle), SOL_SOCKET, SO_ERROR, &error, &errorSize) == 0 && error == 0;
}

bool cSocketTCP::Send(const std::string& data, int timeoutMs) {
    if (handle == kNoHandle)
        return false;
    for (size_t sent = 0; sent < data.size();) {
        const ssize_t n = send(Fd(handle), data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        short revents = 0;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
            PollFor(Fd(handle), POLLOUT, timeoutMs, revents) > 0 && (revents & POLLOUT))
            continue;
        return false;
    }
    return true;
}

bool cSocketTCP::Recv(std::string& buffer, int timeoutMs) {
    return Read(buffer, timeoutMs, nullptr, nullptr);
}

bool cSocketUDP::Create() {
    return cSocket::Create(kDatagram) && SetNonBlocking(Fd(handle));
}

bool cSocketUDP::SetMulticastTTL(int ttl) {
    if (handle == kNoHandle)
        return false;
    const unsigned char value = static_cast<unsigned char>(ttl & 0xFF);
    return setsockopt(Fd(handle), IPPROTO_IP, IP_MULTICAST_TTL, &value, 1) == 0;
}

bool cSocketUDP::SendTo(const std::string& data) {
    if (handle == kNoHandle)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = peerAddress;
    address.sin_port = peerPort;
    return sendto(Fd(handle), data.data(), data.size(), MSG_NOSIGNAL,
                  reinterpret_cast<sockaddr*>(&address), sizeof address) >= 0;
}

bool cSocketUDP::RecvFrom(std::string& buffer, int timeoutMs) {
    std::uint32_t address = 0;
    std::uint16_t from = 0;
    std::string text;
    if (!Read(buffer, timeoutMs, &address, &from, &text))
        return false;
    peerAddress = address;
    peerPort = from;
    peerText = text;
    return true;
}

bool cSocketUDP::CreateIPv6(const std::string& localAddress, unsigned scopeId,
                            std::uint16_t firstPort, int extra) {
    if (!cSocket::Create(kDatagram, true) || !SetNonBlocking(Fd(handle)))
        return false;
    int on = 1;
    setsockopt(Fd(handle), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    sockaddr_in6 local{};
    local.sin6_family = AF_INET6;
    local.sin6_scope_id = scopeId;
    if (inet_pton(AF_INET6, localAddress.c_str(), &local.sin6_addr) != 1)
        return false;
    for (long p = firstPort; p <= long(firstPort) + extra && p <= 0xFFFF; ++p) {
        local.sin6_port = htons(static_cast<std::uint16_t>(p));
        if (bind(Fd(handle), reinterpret_cast<sockaddr*>(&local), sizeof local) == 0) {
            port = static_cast<std::uint16_t>(p);
            return true;
        }
        if (errno != EADDRINUSE)
            return false;
    }
    local.sin6_port = 0;
    return bind(Fd(handle), reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
}

bool cSocketUDP::SendToIPv6(const std::string& data, const std::string& address,
                            std::uint16_t toPort, unsigned scopeId) {
    if (handle == kNoHandle)
        return false;
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_port = htons(toPort);
    to.sin6_scope_id = scopeId;
    if (inet_pton(AF_INET6, address.c_str(), &to.sin6_addr) != 1)
        return false;
    const int index = static_cast<int>(scopeId);
    setsockopt(Fd(handle), IPPROTO_IPV6, IPV6_MULTICAST_IF, &index, sizeof index);
    return sendto(Fd(handle), data.data(), data.size(), MSG_NOSIGNAL,
                  reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0;
}

bool cSocketUDP::SendMulticast(const std::string& data, const char* address, std::uint16_t port,
                               std::uint32_t onlyLocal) {
    if (handle == kNoHandle)
        return false;
    peerAddress = inet_addr(address);
    peerPort = htons(port);
    bool anySent = false;
    for (const std::uint32_t local : GetLocalIPv4Addresses()) {
        if (onlyLocal && local != onlyLocal)
            continue;
        in_addr interfaceAddress{};
        interfaceAddress.s_addr = local;
        setsockopt(Fd(handle), IPPROTO_IP, IP_MULTICAST_IF, &interfaceAddress,
                   sizeof interfaceAddress);
        anySent = SendTo(data) || anySent;
    }
    return anySent;
}

std::vector<std::uint32_t> GetLocalIPv4Addresses() {
    std::vector<std::uint32_t> addresses;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return addresses;
    for (const ifaddrs* at = list; at; at = at->ifa_next) {
        if (!at->ifa_addr || at->ifa_addr->sa_family != AF_INET || !(at->ifa_flags & IFF_UP))
            continue;
        const std::uint32_t address =
            reinterpret_cast<const sockaddr_in*>(at->ifa_addr)->sin_addr.s_addr;
        if (!IsLoopback(address) && addresses.size() < kMaxLocalAddresses)
            addresses.push_back(address);
    }
    freeifaddrs(list);
    return addresses;
}

bool GetSourceAddressTowards(const std::string& host, std::string& out) {
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(9); // any port: a UDP connect only picks the route
    if (!ResolveIPv4(host.c_str(), remote.sin_addr))
        return false;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in local{};
    socklen_t size = sizeof local;
    const bool found =
        connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) == 0 &&
        local.sin_addr.s_addr != htonl(INADDR_ANY) && !IsLoopback(local.sin_addr.s_addr);
    close(fd);
    if (found)
        out = AddressText(local.sin_addr.s_addr);
    return found;
}

bool GetHostAddress(std::string& out) {
    char name[260] = {};
    if (gethostname(name, sizeof name - 1) == 0) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        addrinfo* found = nullptr;
        if (getaddrinfo(name, nullptr, &hints, &found) == 0) {
            for (const addrinfo* at = found; at; at = at->ai_next) {
                const std::uint32_t address =
                    reinterpret_cast<const sockaddr_in*>(at->ai_addr)->sin_addr.s_addr;
                if (!IsLoopback(address)) {
                    out = AddressText(address);
                    freeaddrinfo(found);
                    return true;
                }
            }
            freeaddrinfo(found);
        }
    }
    // Debian resolves the host name to 127.0.1.1: fall back to the interfaces.
    const std::vector<std::uint32_t> local = GetLocalIPv4Addresses();
    if (local.empty())
        return false;
    out = AddressText(local.front());
    return true;
}

std::string AddressText(std::uint32_t address) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr value{};
    value.s_addr = address;
    inet_ntop(AF_INET, &value, text, sizeof text);
    return text;
}
