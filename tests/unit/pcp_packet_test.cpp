#include "pcp/packet.h"

#include <string>

#include <gtest/gtest.h>

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out.push_back(static_cast<char>(v));
    return out;
}

const cPcpNonce kNonce = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

// A PCP MAP response: result, lifetime, epoch, then the payload.
std::string PcpMapAnswer(int result, std::uint32_t lifetime, std::uint32_t epoch, int protocol,
                         int internalPort, int externalPort, std::string address) {
    std::string out = Bytes({2, 0x81, 0, result});
    for (std::uint32_t v : {lifetime, epoch})
        out += Bytes({int(v >> 24), int(v >> 16 & 0xFF), int(v >> 8 & 0xFF), int(v & 0xFF)});
    out.append(12, '\0');
    out.append(kNonce.begin(), kNonce.end());
    out += Bytes({protocol, 0, 0, 0, internalPort >> 8, internalPort & 0xFF, externalPort >> 8,
                  externalPort & 0xFF});
    out += address;
    return out;
}

const std::string kMappedExternal =
    Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 203, 0, 113, 7});

TEST(PcpPacket, MapRequestIsLaidOutAsRfc6887Says) {
    cPcpMapRequest request;
    request.lifetime = 7200;
    request.clientAddress = 0xC0A84D14; // 192.168.77.20
    request.nonce = kNonce;
    request.protocol = kIanaProtocolUdp;
    request.internalPort = 8080;
    request.suggestedExternalPort = 8081;
    const std::string expected = Bytes(
        {2,    1,    0,    0,    0, 0, 0x1C, 0x20, 0, 0, 0, 0, 0, 0,  0,    0,    0,  0, 0xFF, 0xFF,
         192,  168,  77,   20,   1, 2, 3,    4,    5, 6, 7, 8, 9, 10, 11,   12,   17, 0, 0,    0,
         0x1F, 0x90, 0x1F, 0x91, 0, 0, 0,    0,    0, 0, 0, 0, 0, 0,  0xFF, 0xFF, 0,  0, 0,    0});
    EXPECT_EQ(EncodePcpMapRequest(request), expected);
}

TEST(PcpPacket, NatPmpRequestsAreLaidOutAsRfc6886Says) {
    EXPECT_EQ(EncodeNatPmpRequest(cNatPmpRequest()), Bytes({0, 0}));
    cNatPmpRequest map;
    map.opcode = kNatPmpOpcodeMapTcp;
    map.internalPort = 8080;
    map.suggestedExternalPort = 9090;
    map.lifetime = 3600;
    EXPECT_EQ(EncodeNatPmpRequest(map),
              Bytes({0, 2, 0, 0, 0x1F, 0x90, 0x23, 0x82, 0, 0, 0x0E, 0x10}));
}

TEST(PcpPacket, MapAnswerIsRead) {
    const cPcpAnswer answer =
        DecodeAnswer(PcpMapAnswer(0, 7200, 99, kIanaProtocolTcp, 8080, 8081, kMappedExternal));
    ASSERT_EQ(answer.kind, cPcpAnswer::kPcpMap);
    EXPECT_EQ(answer.version, 2);
    EXPECT_EQ(answer.opcode, kPcpOpcodeMap);
    EXPECT_EQ(answer.resultCode, 0);
    EXPECT_EQ(answer.lifetime, 7200u);
    EXPECT_EQ(answer.epoch, 99u);
    EXPECT_EQ(answer.nonce, kNonce);
    EXPECT_EQ(answer.protocol, kIanaProtocolTcp);
    EXPECT_EQ(answer.internalPort, 8080);
    EXPECT_EQ(answer.externalPort, 8081);
    EXPECT_TRUE(answer.externalAddressIsIpv4);
    EXPECT_EQ(Ipv4Text(answer.externalAddress), "203.0.113.7");
}

TEST(PcpPacket, NatPmpAnswersAreRead) {
    const cPcpAnswer address = DecodeAnswer(Bytes({0, 128, 0, 0, 0, 0, 1, 0, 203, 0, 113, 7}));
    ASSERT_EQ(address.kind, cPcpAnswer::kNatPmpAddress);
    EXPECT_EQ(address.epoch, 256u);
    EXPECT_EQ(Ipv4Text(address.externalAddress), "203.0.113.7");

    const cPcpAnswer map =
        DecodeAnswer(Bytes({0, 130, 0, 0, 0, 0, 0, 5, 0x1F, 0x90, 0x23, 0x82, 0, 0, 0x0E, 0x10}));
    ASSERT_EQ(map.kind, cPcpAnswer::kNatPmpMap);
    EXPECT_EQ(map.opcode, kNatPmpOpcodeMapTcp);
    EXPECT_EQ(map.protocol, kIanaProtocolTcp);
    EXPECT_EQ(map.internalPort, 8080);
    EXPECT_EQ(map.externalPort, 9090);
    EXPECT_EQ(map.lifetime, 3600u);
}

TEST(PcpPacket, ErrorsWithoutPayloadAreReadAsSuch) {
    const cPcpAnswer natPmpToPcp = DecodeAnswer(Bytes({0, 0x81, 0, 1, 0, 0, 0, 9}));
    EXPECT_EQ(natPmpToPcp.kind, cPcpAnswer::kNatPmpHeaderOnly);
    EXPECT_EQ(natPmpToPcp.resultCode, 1);
    EXPECT_EQ(natPmpToPcp.opcode, 1);

    std::string header = Bytes({2, 0x81, 0, 3});
    header.append(20, '\0');
    const cPcpAnswer pcpError = DecodeAnswer(header);
    EXPECT_EQ(pcpError.kind, cPcpAnswer::kPcpHeaderOnly);
    EXPECT_EQ(pcpError.resultCode, 3);

    std::string announce = Bytes({2, 0x80, 0, 0});
    announce.append(20, '\0');
    EXPECT_EQ(DecodeAnswer(announce).kind, cPcpAnswer::kPcpAnnounce);
}

TEST(PcpPacket, MalformedDatagramsAreUnreadable) {
    const std::string good =
        PcpMapAnswer(0, 7200, 1, kIanaProtocolTcp, 8080, 8080, kMappedExternal);
    std::string header = Bytes({2, 0x81, 0, 0});
    header.append(20, '\0');
    const struct {
        const char* why;
        std::string datagram;
    } cases[] = {
        {"empty", ""},
        {"one byte", Bytes({2})},
        {"a request, not a response", Bytes({2, 1}) + good.substr(2)},
        {"cut inside the payload", good.substr(0, 40)},
        {"not a multiple of 4", good + Bytes({0})},
        {"success without payload", header},
        {"option longer than the datagram", good + Bytes({0x80, 0, 0, 8, 1, 2, 3, 4})},
        {"option data missing", good + Bytes({0x80, 0, 0, 4})},
        {"longer than 1100 bytes", good + std::string(1100, '\0')},
        {"NAT-PMP address answer cut", Bytes({0, 128, 0, 0, 0, 0, 1, 0, 203, 0, 113})},
        {"NAT-PMP map answer too long",
         Bytes({0, 130, 0, 0, 0, 0, 0, 5, 0x1F, 0x90, 0x23, 0x82, 0, 0, 0x0E, 0x10, 0})},
        {"NAT-PMP success without payload", Bytes({0, 128, 0, 0, 0, 0, 0, 1})},
        {"NAT-PMP unknown opcode", Bytes({0, 131, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0})},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeAnswer(c.datagram).kind, cPcpAnswer::kUnreadable) << c.why;
}

TEST(PcpPacket, OptionsAfterThePayloadAreSkipped) {
    const std::string withOption =
        PcpMapAnswer(0, 60, 1, kIanaProtocolUdp, 5000, 5000, kMappedExternal) +
        Bytes({0x80, 0, 0, 3, 1, 2, 3, 0});
    EXPECT_EQ(DecodeAnswer(withOption).kind, cPcpAnswer::kPcpMap);
}

TEST(PcpPacket, AnExternalAddressThatIsNotIpv4IsMarked) {
    const std::string ipv6(16, '\x20');
    const cPcpAnswer answer =
        DecodeAnswer(PcpMapAnswer(0, 60, 1, kIanaProtocolUdp, 5000, 5000, ipv6));
    EXPECT_EQ(answer.kind, cPcpAnswer::kPcpMap);
    EXPECT_FALSE(answer.externalAddressIsIpv4);
}

} // namespace
