#include "net/ssdp.h"

#include <algorithm>
#include <chrono>

#include "support/text.h"

std::string cSSDP::ComposeSearch(const char* st, bool ipv6) {
    std::string request = "M-SEARCH * HTTP/1.1\r\n";
    request += FormatString("MX: %d\r\n", kSsdpMx);
    request += FormatString("HOST: %s:%d\r\n", ipv6 ? kSsdpHost6 : kSsdpGroup, kSsdpPort);
    request += "MAN: \"ssdp:discover\"\r\n";
    request += FormatString("ST: %s\r\n", st);
    request += "\r\n";
    return request;
}

cSsdpAnswer cSSDP::ReadAnswer(const std::string& datagram, const std::set<std::string>& targets) {
    cSsdpAnswer answer;
    const std::vector<std::string> lines = SplitLines(datagram);
    if (lines.empty())
        return answer;
    const std::vector<std::string> status = Split(lines[0], " \t");
    if (status.size() >= 2)
        answer.status = ReadInt(status[1]);
    for (size_t i = 1; i < lines.size(); ++i) {
        std::string value = lines[i];
        const std::string name = SplitPair(value, ":");
        if (name.empty() || value.empty())
            continue;
        if (CompareNoCase(name.c_str(), "ST") == 0)
            answer.st = value;
        else if (CompareNoCase(name.c_str(), "Location") == 0)
            answer.location = value;
        else if (CompareNoCase(name.c_str(), "Server") == 0)
            answer.server = value;
    }
    answer.acceptable = answer.status == 200 && !answer.st.empty() && !answer.location.empty() &&
                        targets.count(answer.st);
    return answer;
}

bool cSSDP::ParseAnswer(const std::string& datagram, const std::set<std::string>& targets,
                        std::string& st, std::string& location) {
    const cSsdpAnswer answer = ReadAnswer(datagram, targets);
    if (!answer.acceptable)
        return false;
    st = answer.st;
    location = answer.location;
    return true;
}

void cSSDP::Reset() {
    udp.Close();
    st.clear();
    location.clear();
    sender.clear();
    targets.clear();
    onlyLocal = 0;
    ipv6 = false;
    scopeId = 0;
}

std::string cSSDP::SenderText() const {
    return ipv6 ? udp.peerText : AddressText(udp.peerAddress);
}

bool cSSDP::OpenIPv6(const std::string& localAddress, unsigned scope) {
    Reset();
    if (!udp.CreateIPv6(localAddress, scope, kSsdpFirstLocalPort, kSsdpExtraLocalPorts))
        return false;
    ipv6 = true;
    scopeId = scope;
    openedAt = std::chrono::steady_clock::now();
    return true;
}

bool cSSDP::Open() {
    Reset();
    if (!udp.Create() || !udp.Bind(kSsdpFirstLocalPort, kSsdpExtraLocalPorts))
        return false;
    udp.SetMulticastTTL(kSsdpTtl);
    openedAt = std::chrono::steady_clock::now();
    return true;
}

void cSSDP::RestrictTo(std::uint32_t localAddress) {
    onlyLocal = localAddress;
}

bool cSSDP::Search(const char* searchTarget) {
    const bool sent =
        ipv6 ? udp.SendToIPv6(ComposeSearch(searchTarget, true), kSsdpGroup6, kSsdpPort, scopeId)
             : udp.SendMulticast(ComposeSearch(searchTarget), kSsdpGroup, kSsdpPort, onlyLocal);
    if (!sent)
        return false;
    targets.insert(searchTarget);
    return true;
}

bool cSSDP::Receive(int timeoutMs) {
    return ReceiveUntil(openedAt + std::chrono::milliseconds(timeoutMs) +
                            std::chrono::milliseconds(kSsdpOverallExtraMs),
                        timeoutMs);
}

bool cSSDP::ReceiveWithin(int windowMs) {
    return ReceiveUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(windowMs),
                        windowMs);
}

bool cSSDP::ReceiveUntil(std::chrono::steady_clock::time_point deadline, int silenceMs) {
    using cClock = std::chrono::steady_clock;
    std::string datagram;
    for (;;) {
        const long long left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - cClock::now()).count();
        if (left <= 0 ||
            !udp.RecvFrom(datagram, static_cast<int>(std::min<long long>(silenceMs, left))))
            return false;
        // A datagram carrying a NUL is read up to it, as a C text would be.
        if (ParseAnswer(datagram.c_str(), targets, st, location)) {
            sender = SenderText();
            return true;
        }
    }
}

bool cSSDP::ReceiveWaiting() {
    std::string datagram;
    if (!udp.RecvFrom(datagram, 0) || !ParseAnswer(datagram.c_str(), targets, st, location))
        return false;
    sender = SenderText();
    return true;
}

std::vector<cSsdpAnswer> cSSDP::ReceiveAll(int timeoutMs) {
    using cClock = std::chrono::steady_clock;
    const cClock::time_point deadline = openedAt + std::chrono::milliseconds(timeoutMs);
    std::vector<cSsdpAnswer> answers;
    std::string datagram;
    for (;;) {
        const long long left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - cClock::now()).count();
        if (left <= 0 || !udp.RecvFrom(datagram, static_cast<int>(left)))
            return answers;
        if (answers.size() == kSsdpMaxAnswers)
            continue;
        cSsdpAnswer answer = ReadAnswer(datagram.c_str(), targets);
        answer.sender = SenderText();
        answers.push_back(answer);
    }
}
