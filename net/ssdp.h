#pragma once

#include <set>
#include <string>

#include "net/socket.h"

constexpr const char* kSsdpGroup = "239.255.255.250";
constexpr std::uint16_t kSsdpPort = 1900;
constexpr int kSsdpMx = 3;
constexpr int kSsdpTtl = 4;
constexpr std::uint16_t kSsdpFirstLocalPort = 20000;
constexpr int kSsdpExtraLocalPorts = 100;
// However many datagrams keep arriving, one search ends this long after the
// caller's silence time-out could first have ended it.
constexpr int kSsdpOverallExtraMs = 5000;

// One SSDP search: M-SEARCH per service type, the first acceptable answer wins.
class cSSDP : no_copy {
public:
    bool Open();
    bool Search(const char* st);
    // Waits for a 200 answer naming a searched ST and a Location. Every datagram
    // restarts the silence wait of timeoutMs; the whole call ends after at most
    // timeoutMs + kSsdpOverallExtraMs.
    bool Receive(int timeoutMs);

    // The accepted answer, valid after Receive returned true: its ST, its
    // Location and the dotted address it came from.
    std::string st;
    std::string location;
    std::string sender;

    // The datagram Search sends for st.
    static std::string ComposeSearch(const char* st);
    // Reads one answer; true when it is acceptable for these targets.
    static bool ParseAnswer(const std::string& datagram, const std::set<std::string>& targets,
                            std::string& st, std::string& location);

private:
    void Reset();

    cSocketUDP udp;
    std::set<std::string> targets;
};
