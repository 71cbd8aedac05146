#pragma once

#include "mapping/gateway.h"
#include "upnp/upnp.h"

// The mapping interface over a discovered UPnP gateway: adds with the lease
// fallbacks real gateways need and reads every added mapping back.
class cUPnPMappingGateway : public cMappingGateway {
public:
    explicit cUPnPMappingGateway(cUPnP& client) : client(client) {}

    bool GetExternalAddress(std::string& out) override;
    bool Add(const cMapping& wanted, cAddResult& result) override;
    bool Find(const std::string& protocol, int externalPort, bool& found, cMapping& out) override;
    bool Delete(const std::string& protocol, int externalPort) override;
    const cFailure& LastFailure() const override { return failure; }

private:
    bool AddWithLeaseFallbacks(const cMapping& wanted, int& lease,
                               std::vector<std::string>& warnings);
    bool ReadBack(const cMapping& wanted, int lease, cAddResult& result);
    void ExplainRefusal(const cMapping& wanted, cAddResult& result);
    bool Failed();

    cUPnP& client;
    cFailure failure;
};

// A mapping record as the gateway client carries it, and back.
cUPnP::cEntry ToEntry(const cMapping& mapping);
cMapping ToMapping(const cUPnP::cEntry& entry, int leaseSeconds = 0);
