#include "pcp/packet.h"

namespace {

void PutU16(std::string& out, std::uint16_t value) {
    out.push_back(static_cast<char>(value >> 8));
    out.push_back(static_cast<char>(value & 0xFF));
}

void PutU32(std::string& out, std::uint32_t value) {
    PutU16(out, static_cast<std::uint16_t>(value >> 16));
    PutU16(out, static_cast<std::uint16_t>(value & 0xFFFF));
}

// ::ffff:a.b.c.d, the IPv4-mapped form PCP carries IPv4 addresses in; all
// zeros for "no address" (RFC 6887 §11.1: ::ffff:0.0.0.0 for IPv4 "any").
void PutMappedIpv4(std::string& out, std::uint32_t address) {
    out.append(10, '\0');
    out.append(2, '\xFF');
    PutU32(out, address);
}

// Bounds-checked big-endian reads over one datagram.
class cReader {
  public:
    explicit cReader(const std::string& bytes) : bytes(bytes) {}
    std::size_t Size() const { return bytes.size(); }
    std::uint8_t U8(std::size_t at) const {
        return at < bytes.size() ? static_cast<std::uint8_t>(bytes[at]) : 0;
    }
    std::uint16_t U16(std::size_t at) const {
        return static_cast<std::uint16_t>(U8(at) << 8 | U8(at + 1));
    }
    std::uint32_t U32(std::size_t at) const {
        return static_cast<std::uint32_t>(U16(at)) << 16 | U16(at + 2);
    }
    bool IsMappedIpv4(std::size_t at) const {
        for (std::size_t i = 0; i < 10; ++i)
            if (U8(at + i) != 0)
                return false;
        return U8(at + 10) == 0xFF && U8(at + 11) == 0xFF;
    }

  private:
    const std::string& bytes;
};

// Options follow the MAP payload: code, reserved, length, data padded to 4.
bool OptionsFit(const cReader& reader, std::size_t at) {
    while (at < reader.Size()) {
        if (reader.Size() - at < 4)
            return false;
        const std::size_t length = reader.U16(at + 2);
        const std::size_t padded = (length + 3) / 4 * 4;
        if (padded > reader.Size() - at - 4)
            return false;
        at += 4 + padded;
    }
    return true;
}

cPcpAnswer DecodePcp(const cReader& reader) {
    cPcpAnswer answer;
    if (reader.Size() < kPcpHeaderBytes || reader.Size() > kPcpMaxMessageBytes ||
        reader.Size() % 4 != 0 || !(reader.U8(1) & kPcpResponseBit))
        return answer;
    answer.version = reader.U8(0);
    answer.opcode = reader.U8(1) & ~kPcpResponseBit;
    answer.resultCode = reader.U8(3);
    answer.lifetime = reader.U32(4);
    answer.epoch = reader.U32(8);
    if (answer.opcode == kPcpOpcodeAnnounce) {
        answer.kind = OptionsFit(reader, kPcpHeaderBytes) ? cPcpAnswer::kPcpAnnounce
                                                          : cPcpAnswer::kUnreadable;
        return answer;
    }
    if (reader.Size() == kPcpHeaderBytes) {
        // Only an error may come without the payload it is about.
        if (answer.resultCode != 0)
            answer.kind = cPcpAnswer::kPcpHeaderOnly;
        return answer;
    }
    if (answer.opcode != kPcpOpcodeMap || reader.Size() < kPcpHeaderBytes + kPcpMapPayloadBytes ||
        !OptionsFit(reader, kPcpHeaderBytes + kPcpMapPayloadBytes))
        return answer;
    const std::size_t at = kPcpHeaderBytes;
    for (std::size_t i = 0; i < kPcpNonceBytes; ++i)
        answer.nonce[i] = reader.U8(at + i);
    answer.protocol = reader.U8(at + 12);
    answer.internalPort = reader.U16(at + 16);
    answer.externalPort = reader.U16(at + 18);
    answer.externalAddressIsIpv4 = reader.IsMappedIpv4(at + 20);
    answer.externalAddress = answer.externalAddressIsIpv4 ? reader.U32(at + 32) : 0;
    answer.kind = cPcpAnswer::kPcpMap;
    return answer;
}

cPcpAnswer DecodeNatPmp(const cReader& reader) {
    cPcpAnswer answer;
    if (reader.Size() < 8 || reader.Size() > kNatPmpMapAnswerBytes ||
        !(reader.U8(1) & kPcpResponseBit))
        return answer;
    answer.version = kNatPmpVersion;
    answer.opcode = reader.U8(1) & ~kPcpResponseBit;
    answer.resultCode = reader.U16(2);
    answer.epoch = reader.U32(4);
    if (answer.opcode == kNatPmpOpcodeExternalAddress &&
        reader.Size() == kNatPmpAddressAnswerBytes) {
        answer.externalAddress = reader.U32(8);
        answer.externalAddressIsIpv4 = true;
        answer.kind = cPcpAnswer::kNatPmpAddress;
    } else if ((answer.opcode == kNatPmpOpcodeMapUdp || answer.opcode == kNatPmpOpcodeMapTcp) &&
               reader.Size() == kNatPmpMapAnswerBytes) {
        answer.protocol =
            answer.opcode == kNatPmpOpcodeMapUdp ? kIanaProtocolUdp : kIanaProtocolTcp;
        answer.internalPort = reader.U16(8);
        answer.externalPort = reader.U16(10);
        answer.lifetime = reader.U32(12);
        answer.kind = cPcpAnswer::kNatPmpMap;
    } else if (reader.Size() == 8 && answer.resultCode != 0) {
        // RFC 6886 §3.5: an error may come as the bare header; a PCP server
        // answers a NAT-PMP request, and vice versa, this way.
        answer.kind = cPcpAnswer::kNatPmpHeaderOnly;
    }
    return answer;
}

} // namespace

std::string EncodePcpMapRequest(const cPcpMapRequest& request) {
    std::string out;
    out.reserve(kPcpHeaderBytes + kPcpMapPayloadBytes);
    out.push_back(static_cast<char>(kPcpVersion));
    out.push_back(static_cast<char>(kPcpOpcodeMap));
    PutU16(out, 0);
    PutU32(out, request.lifetime);
    PutMappedIpv4(out, request.clientAddress);
    out.append(reinterpret_cast<const char*>(request.nonce.data()), request.nonce.size());
    out.push_back(static_cast<char>(request.protocol));
    out.append(3, '\0');
    PutU16(out, request.internalPort);
    PutU16(out, request.suggestedExternalPort);
    PutMappedIpv4(out, request.suggestedExternalAddress);
    return out;
}

std::string EncodeNatPmpRequest(const cNatPmpRequest& request) {
    std::string out;
    out.push_back(static_cast<char>(kNatPmpVersion));
    out.push_back(static_cast<char>(request.opcode));
    if (request.opcode == kNatPmpOpcodeExternalAddress)
        return out;
    PutU16(out, 0);
    PutU16(out, request.internalPort);
    PutU16(out, request.suggestedExternalPort);
    PutU32(out, request.lifetime);
    return out;
}

cPcpAnswer DecodeAnswer(const std::string& datagram) {
    const cReader reader(datagram);
    if (datagram.size() < 2)
        return cPcpAnswer();
    // The version byte decides the layout: NAT-PMP is version 0.
    return reader.U8(0) == kNatPmpVersion ? DecodeNatPmp(reader) : DecodePcp(reader);
}

std::string Ipv4Text(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string(address >> 16 & 0xFF) + "." +
           std::to_string(address >> 8 & 0xFF) + "." + std::to_string(address & 0xFF);
}
