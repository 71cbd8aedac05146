#pragma once

#include <string>
#include <vector>

#include "mapping/gateway.h"
#include "upnp/port_listing.h"
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
    // Reads protocol's mappings from firstPort to lastPort in one go, so
    // that the adds of a range there need no look each (miniupnpd's lookup
    // reads its whole rule set). Version 2 only (a bulk read); without a
    // reading Add looks port by port.
    void LookAheadOver(const std::string& protocol, int firstPort, int lastPort);

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
    // What LookAheadOver read: the span and its mappings.
    std::string aheadProtocol;
    int aheadFirst = 0;
    int aheadLast = -1;
    std::vector<cListedMapping> ahead;
};

// Ports tried after the one asked for when a gateway cannot grant any port itself.
constexpr int kAnyPortSteps = 15;

// A mapping record as the gateway client carries it, and back.
cUPnP::cEntry ToEntry(const cMapping& mapping);
cMapping ToMapping(const cUPnP::cEntry& entry, int leaseSeconds = 0);
