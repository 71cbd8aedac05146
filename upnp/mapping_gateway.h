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

    // Adds `wanted` at its external port or, where that is taken, at another
    // the gateway grants: AddAnyPortMapping on a version 2 service, else (or
    // when the gateway refuses that action) the next kAnyPortSteps ports in
    // turn. result.kept.externalPort is the port granted.
    bool AddAnyPort(const cMapping& wanted, cAddResult& result);
    // Off: Add does not look the port up first. The keeper renews its own
    // mappings and needs no word that it did.
    void SetLookBeforeAdd(bool look) { lookBeforeAdd = look; }

  private:
    bool HeldByClient(const cMapping& wanted, cMapping& held);
    bool AddAt(const cMapping& wanted, cAddResult& result);
    bool AddWithLeaseFallbacks(const cMapping& wanted, int& lease,
                               std::vector<std::string>& warnings);
    bool ReadBack(const cMapping& wanted, int lease, cAddResult& result);
    void ExplainRefusal(const cMapping& wanted, cAddResult& result);
    bool Failed();

    cUPnP& client;
    cFailure failure;
    bool lookBeforeAdd = true;
};

// Ports tried after the one asked for when a gateway cannot grant any port itself.
constexpr int kAnyPortSteps = 15;

// A mapping record as the gateway client carries it, and back.
cUPnP::cEntry ToEntry(const cMapping& mapping);
cMapping ToMapping(const cUPnP::cEntry& entry, int leaseSeconds = 0);
