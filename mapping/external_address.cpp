#include "mapping/external_address.h"

#include <cstdint>
#include <cstdio>

namespace {

// Dotted-quad IPv4 only; anything else is no address.
bool ReadIpv4(const std::string& text, std::uint32_t& out) {
    unsigned parts[4];
    char end = 0;
    if (text.size() > 15 ||
        std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u%c", &parts[0], &parts[1], &parts[2], &parts[3],
                    &end) != 4 ||
        text.find_first_not_of("0123456789.") != std::string::npos)
        return false;
    out = 0;
    for (unsigned part : parts) {
        if (part > 255)
            return false;
        out = out << 8 | part;
    }
    return true;
}

bool InRange(std::uint32_t address, std::uint32_t network, int prefixLength) {
    const std::uint32_t mask = prefixLength == 0 ? 0 : ~std::uint32_t(0) << (32 - prefixLength);
    return (address & mask) == network;
}

} // namespace

eExternalAddressKind ClassifyExternalAddress(const std::string& address) {
    std::uint32_t value = 0;
    if (!ReadIpv4(address, value) || value == 0)
        return eExternalAddressKind::kNone;
    if (InRange(value, 0x0A000000, 8) || InRange(value, 0xAC100000, 12) ||
        InRange(value, 0xC0A80000, 16))
        return eExternalAddressKind::kPrivate;
    if (InRange(value, 0x64400000, 10))
        return eExternalAddressKind::kShared;
    // Link-local (169.254/16): the gateway got no address on its WAN side.
    if (InRange(value, 0xA9FE0000, 16))
        return eExternalAddressKind::kNone;
    return eExternalAddressKind::kPublic;
}

const char* ExternalAddressKindName(eExternalAddressKind kind) {
    switch (kind) {
    case eExternalAddressKind::kPublic: return "public";
    case eExternalAddressKind::kPrivate: return "private";
    case eExternalAddressKind::kShared: return "shared";
    case eExternalAddressKind::kNone: break;
    }
    return "none";
}
