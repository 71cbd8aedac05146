#pragma once

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "net/socket.h"

constexpr const char* kSsdpGroup = "239.255.255.250";
// The link-local SSDP group, and how the HOST header names it.
constexpr const char* kSsdpGroup6 = "ff02::c";
constexpr const char* kSsdpHost6 = "[FF02::C]";
constexpr std::uint16_t kSsdpPort = 1900;
constexpr int kSsdpMx = 3;
constexpr int kSsdpTtl = 4;
constexpr std::uint16_t kSsdpFirstLocalPort = 20000;
constexpr int kSsdpExtraLocalPorts = 100;
// However many datagrams keep arriving, one search ends this long after the
// caller's silence time-out could first have ended it.
constexpr int kSsdpOverallExtraMs = 5000;

// Wi-Fi loses single datagrams: a search goes out a second time this long
// after the first unless an answer came in between.
constexpr int kSsdpRepeatMs = 200;
// Answers kept by ReceiveAll: a chatty network cannot grow the list further.
constexpr std::size_t kSsdpMaxAnswers = 256;

// One datagram that came in during a search, as far as it could be read.
struct cSsdpAnswer {
    std::string sender; // dotted address
    int status = 0;     // 0 when the first line is no status line (a NOTIFY, say)
    std::string st;
    std::string location;
    std::string server;
    bool acceptable = false; // 200, a searched ST and a Location
};

// One SSDP search: M-SEARCH per service type, the first acceptable answer wins.
class cSSDP : no_copy {
public:
    bool Open();
    // Searches over IPv6 instead: through the interface with index scopeId,
    // from its address localAddress (global or unique local), so that the
    // answer comes from the gateway's address of the same kind, the one its
    // Location names.
    bool OpenIPv6(const std::string& localAddress, unsigned scopeId);
    // Later searches go out through this local address only (network byte
    // order); 0, as after Open: through every interface.
    void RestrictTo(std::uint32_t localAddress);
    bool Search(const char* st);
    // Waits for a 200 answer naming a searched ST and a Location. Every datagram
    // restarts the silence wait of timeoutMs; the whole search ends at most
    // timeoutMs + kSsdpOverallExtraMs after Open.
    bool Receive(int timeoutMs);
    // As Receive, but for windowMs at most, whatever arrives.
    bool ReceiveWithin(int windowMs);
    // Reads one datagram that is waiting already (a caller that waits on
    // several sockets has seen it); true when it is an acceptable answer.
    bool ReceiveWaiting();
    // Every datagram until timeoutMs after Open, acceptable or not.
    std::vector<cSsdpAnswer> ReceiveAll(int timeoutMs);

    // The accepted answer, valid after Receive returned true: its ST, its
    // Location and the dotted address it came from.
    std::string st;
    std::string location;
    std::string sender;

    // The search's socket, for a caller that waits on it with others.
    const cSocketUDP& Socket() const { return udp; }

    // The datagram Search sends for st (over IPv6: HOST is the IPv6 group).
    static std::string ComposeSearch(const char* st, bool ipv6 = false);
    // Reads one answer; true when it is acceptable for these targets.
    static bool ParseAnswer(const std::string& datagram, const std::set<std::string>& targets,
                            std::string& st, std::string& location);

    // Reads the status, ST, Location and SERVER of any datagram.
    static cSsdpAnswer ReadAnswer(const std::string& datagram,
                                  const std::set<std::string>& targets);

private:
    void Reset();
    bool ReceiveUntil(std::chrono::steady_clock::time_point deadline, int silenceMs);

    cSocketUDP udp;
    std::set<std::string> targets;
    std::uint32_t onlyLocal = 0;
    bool ipv6 = false;
    unsigned scopeId = 0;
    std::chrono::steady_clock::time_point openedAt;
    std::string SenderText() const;
};
