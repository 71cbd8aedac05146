#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// PCP (RFC 6887) and NAT-PMP (RFC 6886) packets: bytes to records and back.
// Nothing here sends; every reader is bounded by the datagram it is given.
// Written here, not over libnatpmp: that library has no PCP and does its own
// blocking I/O, which cannot share the one poll loop of --protocol auto.

constexpr std::uint16_t kPcpServerPort = 5351;
// Where servers multicast what they announce unasked (PCP ANNOUNCE after a
// restart, NAT-PMP's address notice): all hosts, the client port.
constexpr const char* kPcpAnnounceGroup = "224.0.0.1";
constexpr std::uint16_t kPcpClientPort = 5350;
constexpr std::uint8_t kPcpVersion = 2;
constexpr std::uint8_t kNatPmpVersion = 0;

constexpr std::uint8_t kPcpOpcodeAnnounce = 0;
constexpr std::uint8_t kPcpOpcodeMap = 1;
constexpr std::uint8_t kPcpResponseBit = 0x80;

constexpr std::uint8_t kNatPmpOpcodeExternalAddress = 0;
constexpr std::uint8_t kNatPmpOpcodeMapUdp = 1;
constexpr std::uint8_t kNatPmpOpcodeMapTcp = 2;

constexpr std::uint8_t kIanaProtocolTcp = 6;
constexpr std::uint8_t kIanaProtocolUdp = 17;

constexpr std::size_t kPcpHeaderBytes = 24;
constexpr std::size_t kPcpMapPayloadBytes = 36;
constexpr std::size_t kPcpMaxMessageBytes = 1100;
constexpr std::size_t kPcpNonceBytes = 12;
constexpr std::size_t kNatPmpAddressAnswerBytes = 12;
constexpr std::size_t kNatPmpMapAnswerBytes = 16;

using cPcpNonce = std::array<std::uint8_t, kPcpNonceBytes>;

// A PCP MAP request (IPv4 only: addresses travel as IPv4-mapped IPv6).
struct cPcpMapRequest {
    std::uint32_t lifetime = 0;
    std::uint32_t clientAddress = 0; // host byte order
    cPcpNonce nonce{};
    std::uint8_t protocol = kIanaProtocolTcp;
    std::uint16_t internalPort = 0;
    std::uint16_t suggestedExternalPort = 0;
    std::uint32_t suggestedExternalAddress = 0; // 0: any
};

// A NAT-PMP request: the external address (opcode 0) or a mapping (1, 2).
struct cNatPmpRequest {
    std::uint8_t opcode = kNatPmpOpcodeExternalAddress;
    std::uint16_t internalPort = 0;
    std::uint16_t suggestedExternalPort = 0;
    std::uint32_t lifetime = 0;
};

// Any answer on port 5351, as far as it could be read.
struct cPcpAnswer {
    enum eKind {
        kUnreadable,      // too short, too long, not a response, wrong layout
        kPcpMap,          // PCP MAP response (payload present)
        kPcpHeaderOnly,   // PCP response without the opcode's payload (an error)
        kPcpAnnounce,     // PCP ANNOUNCE response
        kNatPmpAddress,   // NAT-PMP opcode 128
        kNatPmpMap,       // NAT-PMP opcode 129 or 130
        kNatPmpHeaderOnly // NAT-PMP error without payload (e.g. to a PCP request)
    };
    eKind kind = kUnreadable;
    std::uint8_t version = 0;
    std::uint8_t opcode = 0; // without the response bit
    int resultCode = 0;
    std::uint32_t lifetime = 0;
    std::uint32_t epoch = 0;
    // MAP payload (PCP) or mapping answer (NAT-PMP).
    cPcpNonce nonce{};
    std::uint8_t protocol = 0;
    std::uint16_t internalPort = 0;
    std::uint16_t externalPort = 0;
    std::uint32_t externalAddress = 0; // host byte order; also NAT-PMP opcode 128
    bool externalAddressIsIpv4 = false;
};

std::string EncodePcpMapRequest(const cPcpMapRequest& request);
std::string EncodeNatPmpRequest(const cNatPmpRequest& request);

// Reads one datagram. PCP options after a MAP payload are walked (each must
// fit) and ignored.
cPcpAnswer DecodeAnswer(const std::string& datagram);

// Dotted text of a host-byte-order IPv4 address.
std::string Ipv4Text(std::uint32_t address);
