#pragma once

#include <cstdint>

// A gateway's own count of seconds since it started, as PCP and NAT-PMP
// servers send it with every answer. An epoch that went backwards, or a PCP
// ANNOUNCE, means the gateway restarted and lost every mapping: whoever
// keeps mappings should make them again at once. Offered beside
// cMappingGateway by the protocols that have one.
class cGatewayEpochSource {
public:
    virtual ~cGatewayEpochSource() = default;

    // False until an answer carried an epoch.
    virtual bool EpochKnown() const = 0;
    virtual std::uint32_t Epoch() const = 0;
    // True once for each restart seen since the last call.
    virtual bool TakeGatewayRestart() = 0;
};
