#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/no_copy.h"

// IPv4 sockets with bounded waits, and the IPv6 ones that pinholes need
// (a connection to an address literal, a datagram socket on one address). One platform file implements this header:
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
    bool Create(eType type, bool ipv6 = false);
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
    // fromText gets the sender's address of either family as text.
    bool Read(std::string& buffer, int timeoutMs, std::uint32_t* fromAddress,
              std::uint16_t* fromPort, std::string* fromText = nullptr);
};

struct cSocketAccess {
    static std::uintptr_t Handle(const cSocket& socket) { return socket.handle; }
};

class cSocketTCP : public cSocket {
public:
    bool Create(bool ipv6 = false);
    // Resolves host (name or dotted address) and connects within timeoutMs.
    // An IPv6 literal needs a socket made for IPv6; nothing is looked up then.
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

    // IPv6: a datagram socket bound to localAddress (text) of the interface
    // with index scopeId, on the first free port of firstPort … firstPort +
    // extra (any port when all are taken). Answers to a search sent from a
    // global or unique-local address come from the answerer's address of
    // that kind, not from its link-local one.
    bool CreateIPv6(const std::string& localAddress, unsigned scopeId, std::uint16_t firstPort,
                    int extra);
    // One datagram to an IPv6 address (text), through interface scopeId: a
    // link-scope group needs it.
    bool SendToIPv6(const std::string& data, const std::string& address, std::uint16_t port,
                    unsigned scopeId);

    // Network byte order, as the platform's socket address holds them.
    std::uint32_t peerAddress = 0;
    std::uint16_t peerPort = 0;
    // The sender of the last datagram as text, IPv4 or IPv6.
    std::string peerText;
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
