// The PCP / NAT-PMP client and adapter against a fake server on loopback:
// what the real daemon cannot show (answers from the wrong source, a wrong
// nonce, a truncated answer, a NAT-PMP-only server, another port granted, a
// restart, silence).
#include "pcp/mapping_gateway.h"

#include <chrono>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "fake_pcp_server.h"
#include "pcp/result_code.h"

namespace {

using tReplies = std::vector<cFakePcpServer::cReply>;
constexpr const char* kLocal = "127.0.0.1";
constexpr int kBudgetMs = 800;

struct cFixture {
    cFakePcpServer server;
    cPcpClient client;
    cMappingStore store{StorePath()};
    cPcpMappingGateway gateway;

    explicit cFixture(ePcpDialect dialect = ePcpDialect::kPcp)
        : gateway(client, dialect, kLocal, store, kBudgetMs) {
        client.Open(kLocal, server.Port());
    }
    ~cFixture() { std::remove(StorePath().c_str()); }
    static std::string StorePath() { return testing::TempDir() + "wendrel-pcp-test-mappings"; }
};

cMapping Wanted(int externalPort, int internalPort = 8080, int lease = 3600) {
    cMapping wanted;
    wanted.protocol = "TCP";
    wanted.externalPort = externalPort;
    wanted.internalClient = kLocal;
    wanted.internalPort = internalPort;
    wanted.leaseSeconds = lease;
    return wanted;
}

TEST(PcpExchange, AnswersFromAnotherPortAreIgnored) {
    cFixture f;
    f.server.SetHandler([](const std::string& request, int) {
        return tReplies{{cFakePcpServer::PcpMapAnswer(request, 0, 0, 10, 0, 0x01020304), true, 0},
                        {cFakePcpServer::PcpMapAnswer(request, 0, 0, 10, 0), false, 50}};
    });
    std::string address;
    ASSERT_TRUE(f.gateway.GetExternalAddress(address)) << f.gateway.LastFailure().message;
    EXPECT_EQ(address, "203.0.113.7");
}

TEST(PcpExchange, AnswersThatDoNotMatchTheRequestAreIgnored) {
    const struct {
        const char* what;
        std::function<std::string(const std::string&)> spoil;
    } cases[] = {
        {"another nonce",
         [](const std::string& request) {
             std::string answer = cFakePcpServer::PcpMapAnswer(request, 0, 3600, 10, 8080);
             answer[24] ^= 1;
             return answer;
         }},
        {"another internal port",
         [](const std::string& request) {
             std::string answer = cFakePcpServer::PcpMapAnswer(request, 0, 3600, 10, 8080);
             answer[41] ^= 1;
             return answer;
         }},
        {"truncated",
         [](const std::string& request) {
             return cFakePcpServer::PcpMapAnswer(request, 0, 3600, 10, 8080).substr(0, 44);
         }},
    };
    for (const auto& c : cases) {
        cFixture f;
        f.server.SetHandler([&c](const std::string& request, int) {
            return tReplies{{c.spoil(request), false, 0}};
        });
        cAddResult result;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(f.gateway.Add(Wanted(8080), result)) << c.what;
        EXPECT_EQ(f.gateway.LastFailure().name, "Timeout") << c.what;
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kBudgetMs));
        // The good answer after the bad one is still taken.
        f.server.SetHandler([&c](const std::string& request, int) {
            return tReplies{{c.spoil(request), false, 0},
                            {cFakePcpServer::PcpMapAnswer(request, 0, 3600, 10, 8080), false, 20}};
        });
        EXPECT_TRUE(f.gateway.Add(Wanted(8080), result)) << c.what;
    }
}

TEST(PcpExchange, AVersionZeroAnswerMeansSpeakNatPmp) {
    cFixture f;
    f.server.SetHandler([](const std::string&, int) {
        return tReplies{{std::string("\x00\x81\x00\x01\x00\x00\x00\x09", 8), false, 0}};
    });
    std::string address;
    EXPECT_FALSE(f.gateway.GetExternalAddress(address));
    EXPECT_TRUE(f.gateway.ServerSpeaksNatPmpOnly());
    EXPECT_EQ(f.gateway.LastFailure().name, "UNSUPP_VERSION");
}

TEST(PcpExchange, AnotherGrantedPortIsKeptAndSaid) {
    for (ePcpDialect dialect : {ePcpDialect::kPcp, ePcpDialect::kNatPmp}) {
        cFixture f(dialect);
        f.server.SetHandler([dialect](const std::string& request, int) {
            return tReplies{{dialect == ePcpDialect::kPcp
                                 ? cFakePcpServer::PcpMapAnswer(request, 0, 1800, 10, 40000)
                                 : cFakePcpServer::NatPmpAnswer(request, 0, 10, 40000),
                             false, 0}};
        });
        cAddResult result;
        ASSERT_TRUE(f.gateway.Add(Wanted(8080, 8080, 1800), result));
        EXPECT_EQ(result.kept.externalPort, 40000);
        EXPECT_EQ(result.kept.internalPort, 8080);
        EXPECT_EQ(result.kept.leaseSeconds, 1800);
        ASSERT_EQ(result.warnings.size(), 1u);
        EXPECT_NE(result.warnings[0].find("40000"), std::string::npos);
        bool found = false;
        cMapping known;
        ASSERT_TRUE(f.gateway.Find("TCP", 40000, found, known));
        EXPECT_TRUE(found);
    }
}

TEST(PcpExchange, DeleteCarriesTheNonceOfTheAdd) {
    cFixture f;
    f.server.SetHandler([](const std::string& request, int) {
        return tReplies{
            {cFakePcpServer::PcpMapAnswer(request, 0, request[7] ? 3600 : 0, 10, 8080), false, 0}};
    });
    cAddResult result;
    ASSERT_TRUE(f.gateway.Add(Wanted(8080), result));
    ASSERT_TRUE(f.gateway.Delete("TCP", 8080)) << f.gateway.LastFailure().message;
    const std::vector<std::string> requests = f.server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].substr(24, 12), requests[0].substr(24, 12));
    EXPECT_EQ(requests[1].substr(4, 4), std::string(4, '\0'));
    EXPECT_FALSE(f.gateway.Delete("TCP", 8080));
    EXPECT_EQ(f.gateway.LastFailure().name, "UnknownMapping");
    EXPECT_EQ(f.server.Requests().size(), 2u);
}

TEST(PcpExchange, RefusalsCarryTheTabledReason) {
    cFixture f;
    f.server.SetHandler([](const std::string& request, int) {
        return tReplies{
            {cFakePcpServer::PcpMapAnswer(request, kPcpNotAuthorized, 0, 10, 0), false, 0}};
    });
    cAddResult result;
    EXPECT_FALSE(f.gateway.Add(Wanted(80), result));
    EXPECT_EQ(f.gateway.LastFailure().code, kPcpNotAuthorized);
    EXPECT_EQ(f.gateway.LastFailure().name, "NOT_AUTHORIZED");
}

TEST(PcpExchange, AnEpochThatGoesBackwardsIsARestart) {
    cFixture f(ePcpDialect::kNatPmp);
    f.server.SetHandler([](const std::string& request, int index) {
        return tReplies{
            {cFakePcpServer::NatPmpAnswer(request, 0, index == 0 ? 5000 : 3), false, 0}};
    });
    std::string address;
    ASSERT_TRUE(f.gateway.GetExternalAddress(address));
    EXPECT_FALSE(f.gateway.TakeGatewayRestart());
    ASSERT_TRUE(f.gateway.GetExternalAddress(address));
    EXPECT_TRUE(f.gateway.TakeGatewayRestart());
    EXPECT_EQ(f.gateway.Epoch(), 3u);
}

TEST(PcpExchange, AnAnnounceDuringAnExchangeIsARestart) {
    cFixture f;
    f.server.SetHandler([](const std::string& request, int) {
        std::string announce(24, '\0');
        announce[0] = 2;
        announce[1] = static_cast<char>(0x80);
        return tReplies{{announce, false, 0},
                        {cFakePcpServer::PcpMapAnswer(request, 0, 0, 10, 0), false, 0}};
    });
    std::string address;
    ASSERT_TRUE(f.gateway.GetExternalAddress(address));
    EXPECT_TRUE(f.gateway.TakeGatewayRestart());
}

TEST(PcpExchange, WhatArrivesUnaskedIsARestartAsItsKindAndEpochSay) {
    cPcpAnswer announce;
    announce.kind = cPcpAnswer::kPcpAnnounce;
    cPcpAnswer natPmpNotice;
    natPmpNotice.kind = cPcpAnswer::kNatPmpAddress;
    cPcpAnswer map;
    map.kind = cPcpAnswer::kPcpMap;
    const struct {
        const char* what;
        cPcpAnswer answer;
        std::uint32_t epoch;
        bool restart;
    } cases[] = {
        {"PCP ANNOUNCE", announce, 5001, true},
        {"NAT-PMP notice, epoch backwards", natPmpNotice, 2, true},
        {"NAT-PMP notice, epoch consistent", natPmpNotice, 5000, false},
        {"a MAP answer nobody asked for", map, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        cFixture f;
        f.server.SetHandler([](const std::string& request, int) {
            return tReplies{{cFakePcpServer::PcpMapAnswer(request, 0, 3600, 5000, 8080), false, 0}};
        });
        cAddResult result;
        ASSERT_TRUE(f.gateway.Add(Wanted(8080), result));
        cPcpAnswer unasked = c.answer;
        unasked.epoch = c.epoch;
        f.gateway.Announced(unasked);
        EXPECT_EQ(f.gateway.TakeGatewayRestart(), c.restart);
        EXPECT_FALSE(f.gateway.TakeGatewayRestart());
        // The gateway lost what it held: nothing is found, nothing is left to delete.
        bool found = false;
        cMapping known;
        ASSERT_TRUE(f.gateway.Find("TCP", 8080, found, known));
        EXPECT_EQ(found, !c.restart);
        EXPECT_EQ(f.store.All().empty(), c.restart);
    }
}

// keep holds its store for days while add and delete run beside it.
TEST(PcpExchange, ALongLivedStoreKeepsWhatAnotherRunRecordedMeanwhile) {
    cFixture f;
    f.server.SetHandler([](const std::string& request, int) {
        const auto asked =
            static_cast<std::uint16_t>(std::uint8_t(request[42]) << 8 | std::uint8_t(request[43]));
        return tReplies{
            {cFakePcpServer::PcpMapAnswer(request, 0, request[7] ? 3600 : 0, 10, asked), false, 0}};
    });
    cMappingStore otherStore(cFixture::StorePath());
    cPcpMappingGateway otherRun(f.client, ePcpDialect::kPcp, kLocal, otherStore, kBudgetMs);
    cAddResult result;
    ASSERT_TRUE(f.gateway.Add(Wanted(8080, 8080), result));
    ASSERT_TRUE(otherRun.Add(Wanted(9090, 9090), result));
    ASSERT_TRUE(f.gateway.Add(Wanted(8081, 8081), result));
    cMappingStore file(cFixture::StorePath());
    ASSERT_TRUE(file.Load());
    EXPECT_EQ(file.All().size(), 3u);
    // A delete by the other run is what this one's next check sees.
    ASSERT_TRUE(otherRun.Delete("TCP", 8080));
    bool found = true;
    cMapping known;
    ASSERT_TRUE(f.gateway.Find("TCP", 8080, found, known));
    EXPECT_FALSE(found);
}

TEST(PcpExchange, ARenewalCarriesTheNonceEvenWhenAnotherPortWasGranted) {
    cFixture f;
    f.server.SetHandler([](const std::string& request, int) {
        return tReplies{{cFakePcpServer::PcpMapAnswer(request, 0, 3600, 10, 40000), false, 0}};
    });
    cAddResult first, renewed;
    ASSERT_TRUE(f.gateway.Add(Wanted(8080), first));
    ASSERT_TRUE(f.gateway.Add(first.kept, renewed));
    const std::vector<std::string> requests = f.server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].substr(24, 12), requests[0].substr(24, 12));
    EXPECT_EQ(requests[1].substr(42, 2), "\x9c\x40"); // 40000 suggested
    EXPECT_EQ(f.store.All().size(), 1u);
}

TEST(PcpExchange, SilenceIsRetriedOnTheRfcScheduleWithinTheBudget) {
    const struct {
        ePcpDialect dialect;
        std::size_t sends; // within kBudgetMs
    } cases[] = {{ePcpDialect::kNatPmp, 3u}, {ePcpDialect::kPcp, 1u}};
    for (const auto& c : cases) {
        cFixture f(c.dialect);
        const auto start = std::chrono::steady_clock::now();
        std::string address;
        EXPECT_FALSE(f.gateway.GetExternalAddress(address));
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(f.gateway.LastFailure().name, "Timeout");
        EXPECT_GE(took, std::chrono::milliseconds(kBudgetMs));
        EXPECT_LT(took, std::chrono::milliseconds(kBudgetMs + 400));
        EXPECT_EQ(f.server.Requests().size(), c.sends);
    }
}

TEST(PcpExchange, AnotherClientAddressIsRefusedBeforeSending) {
    cFixture f;
    cMapping wanted = Wanted(8080);
    wanted.internalClient = "127.0.0.2";
    cAddResult result;
    EXPECT_FALSE(f.gateway.Add(wanted, result));
    EXPECT_EQ(f.gateway.LastFailure().name, "NotThisHost");
    EXPECT_TRUE(f.server.Requests().empty());
}

} // namespace
