#include "net/socket.h"

#include <algorithm>
#include <cstring>

#include <winsock2.h>
#include <ws2tcpip.h>

#include "net/url.h"

namespace {

constexpr WORD kWinsockVersion = 0x0002; // 2.0
constexpr long kReadEvents = FD_READ | FD_CLOSE;
// Connecting a UDP socket picks the route and the source address without
// sending anything; the port plays no part.
constexpr u_short kRouteProbePort = 9;
constexpr int kHostNameBytes = 260;
constexpr std::uint32_t kLoopbackNet = 127;

SOCKET Socket(std::uintptr_t handle) {
    return static_cast<SOCKET>(handle);
}
WSAEVENT Event(std::uintptr_t event) {
    return reinterpret_cast<WSAEVENT>(event);
}

DWORD Milliseconds(int timeoutMs) {
    return timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 0;
}

timeval Interval(int timeoutMs) {
    const DWORD ms = Milliseconds(timeoutMs);
    timeval interval;
    interval.tv_sec = static_cast<long>(ms / 1000);
    interval.tv_usec = static_cast<long>(ms % 1000) * 1000;
    return interval;
}

// Waits until the socket can take more data (or, after a non-blocking connect,
// until the connect has ended either way).
bool WaitWritable(SOCKET socket, int timeoutMs) {
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(socket, &writable);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(socket, &failed);
    timeval interval = Interval(timeoutMs);
    return select(0, nullptr, &writable, &failed, &interval) > 0 && FD_ISSET(socket, &writable);
}


// IPv6 text to an address: literals only, never a name lookup.
bool ParseIPv6(const std::string& text, in6_addr& out) {
    std::uint8_t bytes[16];
    if (!ParseIpv6Literal(text, bytes))
        return false;
    std::memcpy(&out, bytes, sizeof bytes);
    return true;
}

std::string IPv6Text(const in6_addr& address) {
    std::uint8_t bytes[16];
    std::memcpy(bytes, &address, sizeof bytes);
    return Ipv6Text(bytes);
}

bool IsLoopback(std::uint32_t address) {
    return (ntohl(address) >> 24) == kLoopbackNet;
}

bool Resolve(const char* host, in_addr& out) {
    const hostent* entry = gethostbyname(host);
    if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list || !entry->h_addr_list[0])
        return false;
    std::memcpy(&out, entry->h_addr_list[0], sizeof out);
    return true;
}

// The local IPv4 addresses as the system lists them for this socket.
std::vector<std::uint32_t> QueryAddressList(SOCKET socket) {
    std::vector<std::uint32_t> addresses;
    DWORD needed = 0;
    WSAIoctl(socket, SIO_ADDRESS_LIST_QUERY, nullptr, 0, nullptr, 0, &needed, nullptr, nullptr);
    if (needed == 0)
        return addresses;
    std::vector<char> buffer(needed, 0);
    if (WSAIoctl(socket, SIO_ADDRESS_LIST_QUERY, nullptr, 0, buffer.data(), needed, &needed,
                 nullptr, nullptr) == SOCKET_ERROR)
        return addresses;
    const auto* list = reinterpret_cast<const SOCKET_ADDRESS_LIST*>(buffer.data());
    for (INT i = 0; i < list->iAddressCount; ++i) {
        const SOCKET_ADDRESS& entry = list->Address[i];
        if (!entry.lpSockaddr || entry.lpSockaddr->sa_family != AF_INET ||
            entry.iSockaddrLength < static_cast<INT>(sizeof(sockaddr_in)))
            continue;
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry.lpSockaddr);
        const std::uint32_t value = address->sin_addr.s_addr;
        // Wine lists interfaces without an address as 0.0.0.0: a search sent
        // "through" it would leave by the default interface a second time.
        if (!IsLoopback(value) && value != htonl(INADDR_ANY) &&
            std::find(addresses.begin(), addresses.end(), value) == addresses.end() &&
            addresses.size() < kMaxLocalAddresses)
            addresses.push_back(value);
    }
    return addresses;
}

// A socket that only lives for one query.
class cTemporarySocket : no_copy {
  public:
    explicit cTemporarySocket(int type) : socket(::socket(AF_INET, type, 0)) {}
    ~cTemporarySocket() {
        if (socket != INVALID_SOCKET)
            closesocket(socket);
    }
    const SOCKET socket;
};

} // namespace

cSocketSystem& cSocketSystem::GetInstance() {
    static cSocketSystem instance;
    return instance;
}

cSocketSystem::cSocketSystem() {
    WSADATA data;
    started = WSAStartup(kWinsockVersion, &data) == 0;
}

cSocketSystem::~cSocketSystem() {
    if (started)
        WSACleanup();
}

cSocket::cSocket() : handle(kNoHandle), event(0) {}

cSocket::~cSocket() {
    Close();
}

bool cSocket::Create(eType type, bool ipv6) {
    if (!cSocketSystem::GetInstance().started)
        return false;
    Close();
    const SOCKET made = socket(ipv6 ? AF_INET6 : AF_INET, type == kStream ? SOCK_STREAM : SOCK_DGRAM, 0);
    if (made == INVALID_SOCKET)
        return false;
    handle = static_cast<std::uintptr_t>(made);
    const WSAEVENT created = WSACreateEvent();
    if (created == WSA_INVALID_EVENT)
        return false;
    event = reinterpret_cast<std::uintptr_t>(created);
    return true;
}

void cSocket::Close() {
    if (handle != kNoHandle)
        closesocket(Socket(handle));
    handle = kNoHandle;
    if (event)
        WSACloseEvent(Event(event));
    event = 0;
}

bool cSocket::IsOpen() const {
    return handle != kNoHandle;
}

// A wait that sees FD_CLOSE closes the event, so an open socket without one
// has been closed by its peer.
bool cSocket::ClosedByPeer() const {
    return handle != kNoHandle && event == 0;
}

bool cSocket::Bind(std::uint16_t firstPort, int extra) {
    if (!IsOpen() || !event)
        return false;
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    for (long candidate = firstPort; candidate <= long(firstPort) + extra && candidate <= 0xFFFF;
         ++candidate) {
        address.sin_port = htons(static_cast<u_short>(candidate));
        if (bind(Socket(handle), reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
            0) {
            port = static_cast<std::uint16_t>(candidate);
            return true;
        }
        if (WSAGetLastError() != WSAEADDRINUSE)
            return false;
    }
    // Every port taken: the system picks one at the first send.
    return true;
}

bool cSocket::Wait(int timeoutMs) {
    if (!IsOpen() || !event)
        return false;
    const SOCKET socket = Socket(handle);
    WSAResetEvent(Event(event));
    // Also makes the socket non-blocking from now on.
    if (WSAEventSelect(socket, Event(event), kReadEvents) == SOCKET_ERROR)
        return false;
    WSAEVENT events[1] = {Event(event)};
    const DWORD waited = WSAWaitForMultipleEvents(1, events, FALSE, Milliseconds(timeoutMs), FALSE);
    if (waited == WSA_WAIT_TIMEOUT || waited == WSA_WAIT_FAILED)
        return false;
    WSANETWORKEVENTS occurred;
    if (WSAEnumNetworkEvents(socket, Event(event), &occurred) == SOCKET_ERROR)
        return false;
    bool readable = (occurred.lNetworkEvents & FD_READ) != 0;
    if (occurred.lNetworkEvents & FD_CLOSE) {
        WSACloseEvent(Event(event));
        event = 0;
        // The close can be recorded on its own while the last data still
        // waits: report that data now, since no later wait will.
        u_long waiting = 0;
        if (!readable && ioctlsocket(socket, FIONREAD, &waiting) == 0 && waiting > 0)
            readable = true;
    }
    return readable;
}

bool cSocket::Read(std::string& buffer, int timeoutMs, std::uint32_t* fromAddress,
                   std::uint16_t* fromPort, std::string* fromText) {
    if (!IsOpen() || !Wait(timeoutMs))
        return false;
    const SOCKET socket = Socket(handle);
    u_long waiting = 0;
    if (ioctlsocket(socket, FIONREAD, &waiting) == SOCKET_ERROR || waiting == 0)
        return false;
    std::string data(waiting, '\0');
    int read;
    sockaddr_storage sender;
    std::memset(&sender, 0, sizeof sender);
    if (fromAddress || fromPort || fromText) {
        int fromLength = sizeof sender;
        read = recvfrom(socket, &data[0], static_cast<int>(waiting), 0,
                        reinterpret_cast<sockaddr*>(&sender), &fromLength);
    } else {
        read = recv(socket, &data[0], static_cast<int>(waiting), 0);
    }
    if (read == SOCKET_ERROR || read < 0)
        return false;
    data.resize(static_cast<size_t>(read));
    data.push_back('\0');
    buffer.swap(data);
    if (sender.ss_family == AF_INET6) {
        const auto& from6 = reinterpret_cast<const sockaddr_in6&>(sender);
        if (fromPort)
            *fromPort = from6.sin6_port;
        if (fromText)
            *fromText = IPv6Text(from6.sin6_addr);
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

bool cSocketTCP::Create(bool ipv6) {
    return cSocket::Create(kStream, ipv6);
}

bool cSocketTCP::Connect(const char* host, std::uint16_t port, int timeoutMs) {
    if (!IsOpen() || !host)
        return false;
    const SOCKET socket = Socket(handle);
    sockaddr_storage address;
    std::memset(&address, 0, sizeof address);
    int size = 0;
    if (IsIpv6Literal(host)) {
        auto& to = reinterpret_cast<sockaddr_in6&>(address);
        to.sin6_family = AF_INET6;
        to.sin6_port = htons(port);
        if (!ParseIPv6(host, to.sin6_addr))
            return false;
        size = sizeof to;
    } else {
        auto& to = reinterpret_cast<sockaddr_in&>(address);
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        if (!Resolve(host, to.sin_addr))
            return false;
        size = sizeof to;
    }
    // Non-blocking, so that an unreachable host costs timeoutMs, not the
    // system's connect time-out.
    u_long nonBlocking = 1;
    if (ioctlsocket(socket, FIONBIO, &nonBlocking) == SOCKET_ERROR)
        return false;
    if (connect(socket, reinterpret_cast<const sockaddr*>(&address), size) == 0)
        return true;
    if (WSAGetLastError() != WSAEWOULDBLOCK)
        return false;
    if (!WaitWritable(socket, timeoutMs))
        return false;
    int error = 0;
    int length = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
        return false;
    return error == 0;
}

bool cSocketTCP::Send(const std::string& data, int timeoutMs) {
    if (!IsOpen())
        return false;
    const SOCKET socket = Socket(handle);
    size_t sent = 0;
    while (sent < data.size()) {
        const int chunk = static_cast<int>(std::min<size_t>(data.size() - sent, 0x7FFFFFFF));
        const int result = send(socket, data.data() + sent, chunk, 0);
        if (result == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEWOULDBLOCK || !WaitWritable(socket, timeoutMs))
                return false;
            continue;
        }
        sent += static_cast<size_t>(result);
    }
    return true;
}

bool cSocketTCP::Recv(std::string& buffer, int timeoutMs) {
    return Read(buffer, timeoutMs, nullptr, nullptr);
}

bool cSocketUDP::Create() {
    if (!cSocket::Create(kDatagram))
        return false;
    u_long nonBlocking = 1;
    return ioctlsocket(Socket(handle), FIONBIO, &nonBlocking) == 0;
}

bool cSocketUDP::SetMulticastTTL(int ttl) {
    if (!IsOpen())
        return false;
    const unsigned char value = static_cast<unsigned char>(ttl & 0xFF);
    return setsockopt(Socket(handle), IPPROTO_IP, IP_MULTICAST_TTL,
                      reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

bool cSocketUDP::SendTo(const std::string& data) {
    if (!IsOpen())
        return false;
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = peerAddress;
    address.sin_port = peerPort;
    return sendto(Socket(handle), data.data(), static_cast<int>(data.size()), 0,
                  reinterpret_cast<const sockaddr*>(&address), sizeof address) != SOCKET_ERROR;
}

bool cSocketUDP::RecvFrom(std::string& buffer, int timeoutMs) {
    return Read(buffer, timeoutMs, &peerAddress, &peerPort, &peerText);
}

bool cSocketUDP::CreateIPv6(const std::string& localAddress, unsigned scopeId,
                            std::uint16_t firstPort, int extra) {
    if (!cSocket::Create(kDatagram, true))
        return false;
    u_long nonBlocking = 1;
    if (ioctlsocket(Socket(handle), FIONBIO, &nonBlocking) != 0)
        return false;
    sockaddr_in6 local;
    std::memset(&local, 0, sizeof local);
    local.sin6_family = AF_INET6;
    local.sin6_scope_id = scopeId;
    if (!ParseIPv6(localAddress, local.sin6_addr))
        return false;
    for (long candidate = firstPort; candidate <= long(firstPort) + extra && candidate <= 0xFFFF;
         ++candidate) {
        local.sin6_port = htons(static_cast<u_short>(candidate));
        if (bind(Socket(handle), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0) {
            port = static_cast<std::uint16_t>(candidate);
            return true;
        }
        if (WSAGetLastError() != WSAEADDRINUSE)
            return false;
    }
    local.sin6_port = 0;
    return bind(Socket(handle), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

bool cSocketUDP::SendToIPv6(const std::string& data, const std::string& address,
                            std::uint16_t toPort, unsigned scopeId) {
    if (!IsOpen())
        return false;
    sockaddr_in6 to;
    std::memset(&to, 0, sizeof to);
    to.sin6_family = AF_INET6;
    to.sin6_port = htons(toPort);
    to.sin6_scope_id = scopeId;
    if (!ParseIPv6(address, to.sin6_addr))
        return false;
    const DWORD index = scopeId;
    setsockopt(Socket(handle), IPPROTO_IPV6, IPV6_MULTICAST_IF,
               reinterpret_cast<const char*>(&index), sizeof index);
    return sendto(Socket(handle), data.data(), static_cast<int>(data.size()), 0,
                  reinterpret_cast<const sockaddr*>(&to), sizeof to) != SOCKET_ERROR;
}

bool cSocketUDP::SendMulticast(const std::string& data, const char* address, std::uint16_t port,
                               std::uint32_t onlyLocal) {
    if (!IsOpen() || !address)
        return false;
    peerAddress = inet_addr(address);
    peerPort = htons(port);
    bool any = false;
    for (std::uint32_t local : QueryAddressList(Socket(handle))) {
        if (onlyLocal && local != onlyLocal)
            continue;
        in_addr interfaceAddress;
        interfaceAddress.s_addr = local;
        setsockopt(Socket(handle), IPPROTO_IP, IP_MULTICAST_IF,
                   reinterpret_cast<const char*>(&interfaceAddress), sizeof interfaceAddress);
        if (SendTo(data))
            any = true;
    }
    return any;
}

std::vector<std::uint32_t> GetLocalIPv4Addresses() {
    if (!cSocketSystem::GetInstance().started)
        return {};
    cTemporarySocket probe(SOCK_DGRAM);
    if (probe.socket == INVALID_SOCKET)
        return {};
    return QueryAddressList(probe.socket);
}

bool GetSourceAddressTowards(const std::string& host, std::string& out) {
    if (!cSocketSystem::GetInstance().started || host.empty())
        return false;
    sockaddr_in target;
    std::memset(&target, 0, sizeof target);
    target.sin_family = AF_INET;
    target.sin_port = htons(kRouteProbePort);
    if (!Resolve(host.c_str(), target.sin_addr))
        return false;
    cTemporarySocket probe(SOCK_DGRAM);
    if (probe.socket == INVALID_SOCKET ||
        connect(probe.socket, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0)
        return false;
    sockaddr_in source;
    int length = sizeof source;
    if (getsockname(probe.socket, reinterpret_cast<sockaddr*>(&source), &length) != 0 ||
        source.sin_addr.s_addr == htonl(INADDR_ANY))
        return false;
    out = AddressText(source.sin_addr.s_addr);
    return true;
}

bool GetHostAddress(std::string& out) {
    if (!cSocketSystem::GetInstance().started)
        return false;
    char name[kHostNameBytes] = {};
    if (gethostname(name, sizeof name) != SOCKET_ERROR) {
        if (const hostent* entry = gethostbyname(name)) {
            if (entry->h_addrtype == AF_INET && entry->h_addr_list) {
                for (char** at = entry->h_addr_list; *at; ++at) {
                    std::uint32_t address;
                    std::memcpy(&address, *at, sizeof address);
                    if (!IsLoopback(address)) {
                        out = AddressText(address);
                        return true;
                    }
                }
            }
        }
    }
    const std::vector<std::uint32_t> local = GetLocalIPv4Addresses();
    if (local.empty())
        return false;
    out = AddressText(local.front());
    return true;
}

std::string AddressText(std::uint32_t address) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&address);
    std::string text;
    for (int i = 0; i < 4; ++i) {
        if (i)
            text += '.';
        text += std::to_string(bytes[i]);
    }
    return text;
}
