// One datagram from port 5351 given to the PCP / NAT-PMP reader, then to the
// matching rule, as the client does; the stored-mapping reader gets the same
// bytes as a cache file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "pcp/client.h"
#include "pcp/mapping_store.h"
#include "pcp/packet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string datagram(reinterpret_cast<const char*>(data), size);
    const cPcpAnswer answer = DecodeAnswer(datagram);
    if (answer.kind != cPcpAnswer::kUnreadable) {
        FUZZ_CHECK(size >= 8 && size <= kPcpMaxMessageBytes);
        FUZZ_CHECK((answer.opcode & kPcpResponseBit) == 0);
    }
    if (answer.kind == cPcpAnswer::kPcpMap)
        FUZZ_CHECK(size >= kPcpHeaderBytes + kPcpMapPayloadBytes && size % 4 == 0);
    if (answer.kind == cPcpAnswer::kNatPmpMap)
        FUZZ_CHECK(size == kNatPmpMapAnswerBytes);
    if (answer.kind == cPcpAnswer::kPcpHeaderOnly || answer.kind == cPcpAnswer::kNatPmpHeaderOnly)
        FUZZ_CHECK(answer.resultCode != 0);

    cPcpExpectation expected;
    expected.nonce = answer.nonce;
    expected.protocol = answer.protocol;
    expected.internalPort = answer.internalPort;
    expected.opcode = answer.opcode;
    if (AnswerMatches(answer, expected))
        FUZZ_CHECK(answer.kind != cPcpAnswer::kUnreadable);
    expected.dialect = ePcpDialect::kNatPmp;
    if (AnswerMatches(answer, expected))
        FUZZ_CHECK(answer.version == kNatPmpVersion);

    for (const cStoredMapping& stored : ParseStoredMappings(datagram)) {
        FUZZ_CHECK(stored.externalPort >= 1 && stored.externalPort <= 65535);
        FUZZ_CHECK(stored.internalPort >= 1 && stored.internalPort <= 65535);
        FUZZ_CHECK(stored.description.size() <= kMaxStoredDescriptionBytes);
    }
    return 0;
}
