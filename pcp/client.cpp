#include "pcp/client.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>

#include "pcp/result_code.h"

namespace {

using cClock = std::chrono::steady_clock;

constexpr int kPcpIrtMs = 3000;
constexpr int kPcpMrtMs = 1024000;
constexpr int kNatPmpFirstWaitMs = 250;
constexpr int kNatPmpMaxSends = 9;

int MsBetween(cClock::time_point from, cClock::time_point to) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
    return ms < 0 ? 0 : static_cast<int>(std::min<long long>(ms, 1 << 30));
}

std::mt19937& Random() {
    static std::mt19937 generator{std::random_device{}()};
    return generator;
}

} // namespace

bool AnswerMatches(const cPcpAnswer& answer, const cPcpExpectation& expected) {
    if (expected.dialect == ePcpDialect::kNatPmp) {
        if (answer.version != kNatPmpVersion || answer.opcode != expected.opcode)
            return false;
        switch (answer.kind) {
        case cPcpAnswer::kNatPmpAddress:
            return expected.opcode == kNatPmpOpcodeExternalAddress;
        case cPcpAnswer::kNatPmpMap:
            return answer.internalPort == expected.internalPort;
        case cPcpAnswer::kNatPmpHeaderOnly:
            return true;
        default:
            return false;
        }
    }
    if (answer.opcode != expected.opcode)
        return false;
    switch (answer.kind) {
    case cPcpAnswer::kPcpMap:
        return answer.version == kPcpVersion && answer.nonce == expected.nonce &&
               answer.protocol == expected.protocol && answer.internalPort == expected.internalPort;
    case cPcpAnswer::kPcpHeaderOnly:
        return true;
    case cPcpAnswer::kNatPmpHeaderOnly:
        // A NAT-PMP-only server: "speak NAT-PMP".
        return answer.resultCode == kNatPmpUnsupportedVersion;
    default:
        return false;
    }
}

int RetransmissionWaitMs(ePcpDialect dialect, int sent, int previousWaitMs, double random) {
    if (dialect == ePcpDialect::kNatPmp)
        return sent >= kNatPmpMaxSends ? -1 : kNatPmpFirstWaitMs << (sent - 1);
    const double factor = 1.0 + 0.1 * std::max(-1.0, std::min(1.0, random));
    const int base = sent <= 1 ? kPcpIrtMs : std::min(2 * previousWaitMs, kPcpMrtMs);
    return static_cast<int>(base * factor);
}

bool EpochIsConsistent(std::uint32_t previousEpoch, std::uint32_t epoch,
                       std::uint32_t clientSeconds) {
    if (epoch + 1 < previousEpoch)
        return false;
    const std::int64_t serverDelta = std::int64_t(epoch) - previousEpoch;
    const std::int64_t clientDelta = clientSeconds;
    return !(clientDelta + 2 < serverDelta - serverDelta / 16 ||
             serverDelta + 2 < clientDelta - clientDelta / 16);
}

void cEpochWatch::Observe(std::uint32_t epoch, cClock::time_point at) {
    if (known &&
        !EpochIsConsistent(last, epoch, static_cast<std::uint32_t>(MsBetween(lastAt, at) / 1000)))
        restart = true;
    known = true;
    last = epoch;
    lastAt = at;
}

bool cEpochWatch::TakeRestart() {
    const bool was = restart;
    restart = false;
    return was;
}

bool cPcpClient::Open(const std::string& serverAddress, std::uint16_t serverPort) {
    unsigned parts[4] = {};
    char end = 0;
    if (std::sscanf(serverAddress.c_str(), "%3u.%3u.%3u.%3u%c", &parts[0], &parts[1], &parts[2],
                    &parts[3], &end) != 4 ||
        parts[0] > 255 || parts[1] > 255 || parts[2] > 255 || parts[3] > 255)
        return false;
    const std::uint8_t bytes[4] = {std::uint8_t(parts[0]), std::uint8_t(parts[1]),
                                   std::uint8_t(parts[2]), std::uint8_t(parts[3])};
    std::memcpy(&server, bytes, 4);
    const std::uint8_t portBytes[2] = {std::uint8_t(serverPort >> 8), std::uint8_t(serverPort)};
    std::memcpy(&port, portBytes, 2);
    serverText = serverAddress;
    state = kIdle;
    return udp.Create();
}

bool cPcpClient::SendRequest() {
    udp.peerAddress = server;
    udp.peerPort = port;
    ++sent;
    if (!udp.SendTo(request))
        return false;
    const int wait = RetransmissionWaitMs(expected.dialect, sent, waitMs,
                                          std::uniform_real_distribution<double>(-1, 1)(Random()));
    waitMs = wait;
    nextSendAt = wait < 0 ? endAt : cClock::now() + std::chrono::milliseconds(wait);
    return true;
}

bool cPcpClient::Start(const std::string& bytes, const cPcpExpectation& expectation, int budget) {
    request = bytes;
    expected = expectation;
    answer = cPcpAnswer();
    failure = cFailure();
    sent = 0;
    waitMs = 0;
    budgetMs = budget;
    startedAt = cClock::now();
    endAt = startedAt + std::chrono::milliseconds(budget);
    if (!udp.IsOpen() || !SendRequest()) {
        state = kGaveUp;
        failure = PcpSendFailure();
        return false;
    }
    state = kWaiting;
    return true;
}

int cPcpClient::MsUntilDue() const {
    if (state != kWaiting)
        return 0;
    return MsBetween(cClock::now(), std::min(nextSendAt, endAt));
}

cPcpClient::eState cPcpClient::Poll(int pollMs) {
    if (state != kWaiting)
        return state;
    const cClock::time_point until = std::min(
        {cClock::now() + std::chrono::milliseconds(std::max(pollMs, 0)), nextSendAt, endAt});
    std::string datagram;
    for (;;) {
        const int left = MsBetween(cClock::now(), until);
        if (!udp.RecvFrom(datagram, left))
            break;
        // Only the server's own address and port speak for it.
        if (udp.peerAddress != server || udp.peerPort != port)
            continue;
        if (!datagram.empty())
            datagram.pop_back(); // the terminating zero Read adds
        const cPcpAnswer got = DecodeAnswer(datagram);
        if (got.kind == cPcpAnswer::kPcpAnnounce) {
            // Its epoch too: the answers after it must be read against the new one.
            epoch.Observe(got.epoch, cClock::now());
            epoch.NoteRestart();
            continue;
        }
        if (!AnswerMatches(got, expected))
            continue;
        epoch.Observe(got.epoch, cClock::now());
        answer = got;
        state = kAnswered;
        return state;
    }
    const cClock::time_point now = cClock::now();
    if (now >= endAt) {
        state = kGaveUp;
        failure = PcpTimeoutFailure(budgetMs);
    } else if (now >= nextSendAt && waitMs >= 0 && !SendRequest()) {
        state = kGaveUp;
        failure = PcpSendFailure();
    }
    return state;
}

bool cPcpClient::Exchange(const std::string& bytes, const cPcpExpectation& expectation,
                          int budget) {
    if (!Start(bytes, expectation, budget))
        return false;
    while (Poll(budget) == kWaiting) {
    }
    return state == kAnswered;
}

cPcpNonce MakePcpNonce() {
    cPcpNonce nonce;
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::uint8_t& b : nonce)
        b = static_cast<std::uint8_t>(byte(Random()));
    return nonce;
}
