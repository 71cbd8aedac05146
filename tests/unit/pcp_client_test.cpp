#include "pcp/client.h"

#include <gtest/gtest.h>

#include "pcp/mapping_store.h"
#include "pcp/result_code.h"

namespace {

const cPcpNonce kNonce = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

cPcpAnswer PcpMap(const cPcpNonce& nonce, std::uint8_t protocol, std::uint16_t internalPort) {
    cPcpAnswer answer;
    answer.kind = cPcpAnswer::kPcpMap;
    answer.version = kPcpVersion;
    answer.opcode = kPcpOpcodeMap;
    answer.nonce = nonce;
    answer.protocol = protocol;
    answer.internalPort = internalPort;
    return answer;
}

TEST(PcpClient, AnswersMatchOnlyWhatTheRequestCarried) {
    cPcpExpectation pcp;
    pcp.nonce = kNonce;
    pcp.protocol = kIanaProtocolTcp;
    pcp.internalPort = 8080;
    cPcpNonce otherNonce = kNonce;
    otherNonce[11] = 0;
    cPcpAnswer oldVersion = PcpMap(kNonce, kIanaProtocolTcp, 8080);
    oldVersion.version = 1;
    cPcpAnswer pcpError;
    pcpError.kind = cPcpAnswer::kPcpHeaderOnly;
    pcpError.opcode = kPcpOpcodeMap;
    pcpError.resultCode = 3;
    cPcpAnswer speakNatPmp;
    speakNatPmp.kind = cPcpAnswer::kNatPmpHeaderOnly;
    speakNatPmp.opcode = kPcpOpcodeMap;
    speakNatPmp.resultCode = kNatPmpUnsupportedVersion;
    cPcpAnswer natPmpOtherError = speakNatPmp;
    natPmpOtherError.resultCode = 2;

    cPcpExpectation natPmp;
    natPmp.dialect = ePcpDialect::kNatPmp;
    natPmp.opcode = kNatPmpOpcodeMapTcp;
    natPmp.internalPort = 8080;
    cPcpAnswer natPmpMap;
    natPmpMap.kind = cPcpAnswer::kNatPmpMap;
    natPmpMap.opcode = kNatPmpOpcodeMapTcp;
    natPmpMap.internalPort = 8080;
    cPcpAnswer natPmpWrongPort = natPmpMap;
    natPmpWrongPort.internalPort = 8081;
    cPcpAnswer natPmpUdp = natPmpMap;
    natPmpUdp.opcode = kNatPmpOpcodeMapUdp;

    const struct {
        const char* what;
        cPcpAnswer answer;
        const cPcpExpectation& expected;
        bool matches;
    } cases[] = {
        {"PCP: same nonce, protocol, port", PcpMap(kNonce, kIanaProtocolTcp, 8080), pcp, true},
        {"PCP: another nonce", PcpMap(otherNonce, kIanaProtocolTcp, 8080), pcp, false},
        {"PCP: another protocol", PcpMap(kNonce, kIanaProtocolUdp, 8080), pcp, false},
        {"PCP: another internal port", PcpMap(kNonce, kIanaProtocolTcp, 8081), pcp, false},
        {"PCP: another version", oldVersion, pcp, false},
        {"PCP: an error without payload", pcpError, pcp, true},
        {"PCP: NAT-PMP's unsupported version", speakNatPmp, pcp, true},
        {"PCP: another NAT-PMP error", natPmpOtherError, pcp, false},
        {"PCP: a NAT-PMP mapping answer", natPmpMap, pcp, false},
        {"NAT-PMP: same opcode and port", natPmpMap, natPmp, true},
        {"NAT-PMP: another internal port", natPmpWrongPort, natPmp, false},
        {"NAT-PMP: another protocol", natPmpUdp, natPmp, false},
        {"NAT-PMP: a PCP answer", PcpMap(kNonce, kIanaProtocolTcp, 8080), natPmp, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AnswerMatches(c.answer, c.expected), c.matches) << c.what;
}

TEST(PcpClient, NatPmpRetransmitsAfter250MsDoublingNineTimes) {
    int previous = 0;
    const int expected[] = {250, 500, 1000, 2000, 4000, 8000, 16000, 32000};
    for (int sent = 1; sent <= 8; ++sent) {
        previous = RetransmissionWaitMs(ePcpDialect::kNatPmp, sent, previous, 0.7);
        EXPECT_EQ(previous, expected[sent - 1]) << sent;
    }
    EXPECT_EQ(RetransmissionWaitMs(ePcpDialect::kNatPmp, 9, previous, 0), -1);
}

TEST(PcpClient, PcpRetransmitsAfterThreeSecondsDoublingToMrtWithTenPercentJitter) {
    EXPECT_EQ(RetransmissionWaitMs(ePcpDialect::kPcp, 1, 0, 0), 3000);
    EXPECT_EQ(RetransmissionWaitMs(ePcpDialect::kPcp, 1, 0, -1), 2700);
    EXPECT_EQ(RetransmissionWaitMs(ePcpDialect::kPcp, 1, 0, 1), 3300);
    EXPECT_EQ(RetransmissionWaitMs(ePcpDialect::kPcp, 2, 3000, 0), 6000);
    EXPECT_EQ(RetransmissionWaitMs(ePcpDialect::kPcp, 20, 1000000, 0), 1024000);
    EXPECT_EQ(RetransmissionWaitMs(ePcpDialect::kPcp, 20, 1000000, 1), 1126400);
}

TEST(PcpClient, EpochConsistencyFollowsRfc6887) {
    const struct {
        std::uint32_t previous, epoch, clientSeconds;
        bool consistent;
    } cases[] = {
        {1000, 1000, 0, true},   {1000, 1060, 60, true}, {1000, 999, 0, true},
        {1000, 998, 0, false},   {1000, 5, 60, false},   {1000, 1060, 200, false},
        {1000, 2000, 60, false}, {1000, 1062, 60, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EpochIsConsistent(c.previous, c.epoch, c.clientSeconds), c.consistent)
            << c.previous << " -> " << c.epoch << " after " << c.clientSeconds << " s";
}

TEST(PcpClient, EpochWatchKeepsARestartUntilTaken) {
    cEpochWatch watch;
    const auto start = std::chrono::steady_clock::now();
    watch.Observe(500, start);
    EXPECT_FALSE(watch.TakeRestart());
    watch.Observe(501, start + std::chrono::seconds(1));
    EXPECT_FALSE(watch.TakeRestart());
    watch.Observe(3, start + std::chrono::seconds(2));
    EXPECT_TRUE(watch.TakeRestart());
    EXPECT_FALSE(watch.TakeRestart());
    EXPECT_EQ(watch.Last(), 3u);
}

TEST(PcpResultCode, EveryTabledCodeHasItsNameAndBothSentences) {
    const char* pcpNames[] = {
        "UNSUPP_VERSION",        "NOT_AUTHORIZED",   "MALFORMED_REQUEST",       "UNSUPP_OPCODE",
        "UNSUPP_OPTION",         "MALFORMED_OPTION", "NETWORK_FAILURE",         "NO_RESOURCES",
        "UNSUPP_PROTOCOL",       "USER_EX_QUOTA",    "CANNOT_PROVIDE_EXTERNAL", "ADDRESS_MISMATCH",
        "EXCESSIVE_REMOTE_PEERS"};
    for (int code = 1; code <= 13; ++code) {
        const cFailure failure = PcpFailure(code);
        EXPECT_EQ(failure.code, code);
        EXPECT_EQ(failure.name, pcpNames[code - 1]);
        EXPECT_FALSE(failure.message.empty());
        EXPECT_FALSE(failure.messageJa.empty());
    }
    const char* natPmpNames[] = {"UnsupportedVersion", "NotAuthorized", "NetworkFailure",
                                 "OutOfResources", "UnsupportedOpcode"};
    for (int code = 1; code <= 5; ++code) {
        const cFailure failure = NatPmpFailure(code);
        EXPECT_EQ(failure.name, natPmpNames[code - 1]);
        EXPECT_FALSE(failure.messageJa.empty());
    }
    EXPECT_EQ(PcpFailure(99).code, 99);
    EXPECT_NE(PcpFailure(99).message.find("99"), std::string::npos);
    EXPECT_EQ(NatPmpFailure(6).name, "NatPmpError");
}

TEST(PcpMappingStore, EntriesSurviveTheFileFormat) {
    cStoredMapping a;
    a.dialect = "pcp";
    a.gateway = "192.168.77.1";
    a.protocol = "TCP";
    a.externalPort = 8080;
    a.internalPort = 80;
    a.nonce = kNonce;
    a.expires = 1790000000;
    a.description = "web server, \"quoted\"\n";
    cStoredMapping b = a;
    b.dialect = "natpmp";
    b.protocol = "UDP";
    b.description.clear();
    const std::vector<cStoredMapping> read = ParseStoredMappings(FormatStoredMappings({a, b}));
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].nonce, kNonce);
    EXPECT_EQ(read[0].description, a.description);
    EXPECT_EQ(read[0].expires, a.expires);
    EXPECT_EQ(read[1].dialect, "natpmp");
    EXPECT_EQ(read[1].protocol, "UDP");
    EXPECT_EQ(read[1].description, "");
}

TEST(PcpMappingStore, LinesThatAreNotExactlyOursAreSkipped) {
    const std::string good = "pcp 192.168.77.1 TCP 8080 80 0102030405060708090a0b0c 1790000000 -";
    const char* bad[] = {
        "ftp 192.168.77.1 TCP 8080 80 0102030405060708090a0b0c 1790000000 -",
        "pcp 192.168.77 TCP 8080 80 0102030405060708090a0b0c 1790000000 -",
        "pcp 192.168.77.256 TCP 8080 80 0102030405060708090a0b0c 1790000000 -",
        "pcp 192.168.77.1 SCTP 8080 80 0102030405060708090a0b0c 1790000000 -",
        "pcp 192.168.77.1 TCP 0 80 0102030405060708090a0b0c 1790000000 -",
        "pcp 192.168.77.1 TCP 8080 65536 0102030405060708090a0b0c 1790000000 -",
        "pcp 192.168.77.1 TCP 8080 80 0102030405060708090a0b 1790000000 -",
        "pcp 192.168.77.1 TCP 8080 80 0102030405060708090a0b0g 1790000000 -",
        "pcp 192.168.77.1 TCP 8080 80 0102030405060708090a0b0c -5 -",
        "pcp 192.168.77.1 TCP 8080 80 0102030405060708090a0b0c 1790000000 4",
        "pcp 192.168.77.1 TCP 8080 80 0102030405060708090a0b0c 1790000000 - extra",
    };
    for (const char* line : bad) {
        const std::vector<cStoredMapping> read =
            ParseStoredMappings(std::string("wendrel-mappings 1\n") + line + "\n" + good + "\n");
        EXPECT_EQ(read.size(), 1u) << line;
    }
    EXPECT_TRUE(ParseStoredMappings("wendrel-mappings 2\n" + good + "\n").empty());
}

TEST(PcpMappingStore, PutReplacesAndStaysBounded) {
    cMappingStore store("");
    cStoredMapping m;
    m.dialect = "pcp";
    m.gateway = "192.168.77.1";
    m.protocol = "TCP";
    m.internalPort = 80;
    for (int port = 1; port <= int(kMaxStoredMappings) + 10; ++port) {
        m.externalPort = port;
        m.internalPort = 1000 + port;
        store.Put(m);
    }
    EXPECT_EQ(store.All().size(), kMaxStoredMappings);
    EXPECT_EQ(store.Find("pcp", "192.168.77.1", "TCP", 1), nullptr);
    m.externalPort = 50;
    m.internalPort = 81;
    store.Put(m);
    EXPECT_EQ(store.All().size(), kMaxStoredMappings);
    EXPECT_EQ(store.Find("pcp", "192.168.77.1", "TCP", 50)->internalPort, 81);
    EXPECT_EQ(store.Find("natpmp", "192.168.77.1", "TCP", 50), nullptr);
    EXPECT_EQ(store.FindInternal("pcp", "192.168.77.1", "TCP", 81)->externalPort, 50);
    // Another external port for the same internal one replaces the entry.
    m.externalPort = 51;
    store.Put(m);
    EXPECT_EQ(store.Find("pcp", "192.168.77.1", "TCP", 50), nullptr);
    EXPECT_EQ(store.FindInternal("pcp", "192.168.77.1", "TCP", 81)->externalPort, 51);
    store.Remove("pcp", "192.168.77.1", "TCP", 51);
    EXPECT_EQ(store.FindInternal("pcp", "192.168.77.1", "TCP", 81), nullptr);
}

} // namespace
