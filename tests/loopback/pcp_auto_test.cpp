// --protocol auto: the UPnP search and the PCP request at once, over fake
// SSDP, IGD and PCP servers in the private namespace.
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "cli/protocol_commands.h"
#include "fake_gateway.h"
#include "fake_pcp_server.h"
#include "fake_ssdp.h"

namespace {

using tReplies = std::vector<cFakePcpServer::cReply>;
using cClock = std::chrono::steady_clock;

enum class ePcpServer { kSilent, kPcp, kNatPmpOnly };

TEST(PcpAuto, UpnpWinsWhenItAnswersWithinTheGraceElsePcpAfterTheGrace) {
    const struct {
        const char* what;
        ePcpServer pcp;
        int ssdpDelayMs; // -1: no SSDP answer
        int timeoutMs;
        eProtocolFound expected;
        int leastMs, mostMs;
    } cases[] = {
        {"PCP alone: the grace, not the time-out", ePcpServer::kPcp, -1, 5000, eProtocolFound::kPcp,
         kAutoPcpGraceMs, kAutoPcpGraceMs + 400},
        {"NAT-PMP form: speak NAT-PMP", ePcpServer::kNatPmpOnly, -1, 5000, eProtocolFound::kNatPmp,
         kAutoPcpGraceMs, kAutoPcpGraceMs + 400},
        {"UPnP within the grace wins", ePcpServer::kPcp, 300, 5000, eProtocolFound::kUpnp, 300,
         900},
        {"UPnP alone, at its first answer", ePcpServer::kSilent, 0, 5000, eProtocolFound::kUpnp, 0,
         500},
        {"nothing: the time-out", ePcpServer::kSilent, -1, 800, eProtocolFound::kNone, 800, 1200},
    };
    for (const auto& c : cases) {
        cFakePcpServer pcp;
        if (c.pcp != ePcpServer::kSilent)
            pcp.SetHandler([&c](const std::string& request, int) {
                if (c.pcp == ePcpServer::kNatPmpOnly)
                    return tReplies{{std::string("\x00\x81\x00\x01\x00\x00\x00\x09", 8), false, 0}};
                return tReplies{{cFakePcpServer::PcpMapAnswer(request, 8, 0, 10, 0), false, 0}};
            });
        cFakeGateway::cOptions options;
        options.address = kTestInterfaceAddress;
        cFakeGateway igd(options);
        cFakeSsdp ssdp;
        if (c.ssdpDelayMs >= 0)
            ssdp.EchoSearches(igd.GetDescriptionUrl(), c.ssdpDelayMs);

        cCommandLine line;
        line.timeoutMs = c.timeoutMs;
        cPcpSettings settings;
        settings.server = "127.0.0.1";
        settings.port = pcp.Port();
        settings.localAddress = "127.0.0.1";
        std::ostringstream err;
        const cClock::time_point start = cClock::now();
        const eProtocolFound found = DetectProtocol(line, cUPnP::GetInstance(), settings, 0, err);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(cClock::now() - start).count();
        EXPECT_EQ(found, c.expected) << c.what;
        EXPECT_GE(ms, c.leastMs) << c.what;
        EXPECT_LE(ms, c.mostMs) << c.what;
        // The request went out at the start; the fake's thread may record it
        // after a UPnP answer already ended the detection.
        const cClock::time_point end = cClock::now() + std::chrono::seconds(1);
        while (pcp.Requests().empty() && cClock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_GE(pcp.Requests().size(), 1u) << c.what;
    }
}

} // namespace
