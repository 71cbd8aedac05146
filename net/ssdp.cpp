#include "net/ssdp.h"

#include <algorithm>
#include <chrono>

#include "support/text.h"

std::string cSSDP::ComposeSearch(const char* st) {
    std::string request = "M-SEARCH * HTTP/1.1\r\n";
    request += FormatString("MX: %d\r\n", kSsdpMx);
    request += FormatString("HOST: %s:%d\r\n", kSsdpGroup, kSsdpPort);
    request += "MAN: \"ssdp:discover\"\r\n";
    request += FormatString("ST: %s\r\n", st);
    request += "\r\n";
    return request;
}

bool cSSDP::ParseAnswer(const std::string& datagram, const std::set<std::string>& targets,
                        std::string& st, std::string& location) {
    const std::vector<std::string> lines = SplitLines(datagram);
    if (lines.empty())
        return false;
    const std::vector<std::string> status = Split(lines[0], " \t");
    if (status.size() < 2 || ReadInt(status[1]) != 200)
        return false;
    std::string candidateSt, candidateLocation;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::string value = lines[i];
        const std::string name = SplitPair(value, ":");
        if (name.empty() || value.empty())
            continue;
        if (CompareNoCase(name.c_str(), "ST") == 0)
            candidateSt = value;
        else if (CompareNoCase(name.c_str(), "Location") == 0)
            candidateLocation = value;
    }
    if (candidateSt.empty() || candidateLocation.empty() || !targets.count(candidateSt))
        return false;
    st = candidateSt;
    location = candidateLocation;
    return true;
}

void cSSDP::Reset() {
    udp.Close();
    st.clear();
    location.clear();
    sender.clear();
    targets.clear();
}

bool cSSDP::Open() {
    Reset();
    if (!udp.Create() || !udp.Bind(kSsdpFirstLocalPort, kSsdpExtraLocalPorts))
        return false;
    udp.SetMulticastTTL(kSsdpTtl);
    return true;
}

bool cSSDP::Search(const char* searchTarget) {
    if (!udp.SendMulticast(ComposeSearch(searchTarget), kSsdpGroup, kSsdpPort))
        return false;
    targets.insert(searchTarget);
    return true;
}

bool cSSDP::Receive(int timeoutMs) {
    using cClock = std::chrono::steady_clock;
    const cClock::time_point deadline = cClock::now() + std::chrono::milliseconds(timeoutMs) +
                                        std::chrono::milliseconds(kSsdpOverallExtraMs);
    std::string datagram;
    for (;;) {
        const long long left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - cClock::now()).count();
        if (left <= 0 || !udp.RecvFrom(datagram, static_cast<int>(std::min<long long>(timeoutMs, left))))
            return false;
        // A datagram carrying a NUL is read up to it, as a C text would be.
        if (ParseAnswer(datagram.c_str(), targets, st, location)) {
            sender = AddressText(udp.peerAddress);
            return true;
        }
    }
}
