#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/no_copy.h"

// IPv4 sockets with bounded waits. One platform file implements this header:
// socket_posix.cpp (poll, getifaddrs) or socket_win32.cpp (Winsock events).

// Starts the platform's socket library once per process (a no-op on POSIX).
class cSocketSystem : no_copy {
public:
    static cSocketSystem& GetInstance();
    ~cSocketSystem();
    bool started;

private:
    cSocketSystem();
};

class cSocket : no_copy {
public:
    enum eType { kStream, kDatagram };

    cSocket();
    virtual ~cSocket();

    // Makes a fresh socket, closing any earlier one of this object.
    bool Create(eType type);
    void Close();
    bool IsOpen() const;

    // Binds to the first free port of firstPort … firstPort + extra on all local
    // addresses. A range that is fully taken still succeeds, unbound, and leaves
    // `port` as it was.
    bool Bind(std::uint16_t firstPort, int extra);

    // Waits up to timeoutMs for data. A close by the peer is remembered: it
    // still reports data that came with it, and every later wait fails at once.
    bool Wait(int timeoutMs);
    // True once a wait has seen the peer close the connection.
    bool ClosedByPeer() const;

    std::uint16_t port = 0;

protected:
    // The platform's handle (int fd or SOCKET), kNoHandle when there is none.
    static constexpr std::uintptr_t kNoHandle = ~std::uintptr_t(0);
    std::uintptr_t handle;
    // Win32: the WSAEVENT. POSIX: nonzero while no close has been seen.
    std::uintptr_t event;

    // The platform handle, for waits over several sockets (net/socket_wait.h).
    friend struct cSocketAccess;

    // Reads what is waiting into buffer (plus one terminating zero byte).
    bool Read(std::string& buffer, int timeoutMs, std::uint32_t* fromAddress,
              std::uint16_t* fromPort);
};

struct cSocketAccess {
    static std::uintptr_t Handle(const cSocket& socket) { return socket.handle; }
};

class cSocketTCP : public cSocket {
public:
    bool Create();
    // Resolves host (name or dotted address) and connects within timeoutMs.
    bool Connect(const char* host, std::uint16_t port, int timeoutMs);
    // Sends every byte, waiting at most timeoutMs for room each time.
    bool Send(const std::string& data, int timeoutMs);
    // Everything that has arrived when the wait ends, followed by one zero byte.
    bool Recv(std::string& buffer, int timeoutMs);
};

class cSocketUDP : public cSocket {
public:
    bool Create();
    bool SetMulticastTTL(int ttl);
    bool SendTo(const std::string& data);
    // One datagram, followed by one zero byte; its sender becomes the peer.
    bool RecvFrom(std::string& buffer, int timeoutMs);
    // Sends the datagram to address:port once through each local IPv4 interface;
    // true when at least one send succeeded.
    // With onlyLocal (network byte order) not 0, through that interface only.
    bool SendMulticast(const std::string& data, const char* address, std::uint16_t port,
                       std::uint32_t onlyLocal = 0);

    // Network byte order, as the platform's socket address holds them.
    std::uint32_t peerAddress = 0;
    std::uint16_t peerPort = 0;
};

// A search goes out through at most this many local addresses: a host with
// hundreds (containers, tunnels) must not turn one search into a flood.
constexpr std::size_t kMaxLocalAddresses = 64;

// The local IPv4 interface addresses (network byte order), in the system's
// order, loopback excluded, at most kMaxLocalAddresses.
std::vector<std::uint32_t> GetLocalIPv4Addresses();

// The source address this host uses to reach host (dotted text or name);
// no packet is sent. False when there is no route.
bool GetSourceAddressTowards(const std::string& host, std::string& out);

// The first address the resolver gives for this host's name that is not a
// loopback address, else the first local interface address.
bool GetHostAddress(std::string& out);

std::string AddressText(std::uint32_t address);
