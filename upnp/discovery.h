#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/interfaces.h"
#include "net/ssdp.h"

// One device that answered the search for a connection service.
struct cGatewayCandidate {
    std::string sender;         // the address the answer came from
    std::string interfaceName;  // this host's interface toward it
    std::string localAddress;   // this host's address toward it
    std::string descriptionUrl; // its Location
    std::string answeredType;   // the ST it answered
    std::string server;         // its SERVER header
    // Usable: its description was fetched and offers the connection service
    // on the host that answered. Otherwise `problem` says why not.
    bool usable = false;
    std::string problem;
    std::string modelName;
    std::string udn;
    std::string serviceType;
    std::string controlUrl;
    std::string externalAddress;
};

// What one search sent and heard, for listing every gateway or explaining why
// none was found.
struct cSearchReport {
    struct cSent {
        cLocalInterface via;
        bool sent = false;
    };
    std::vector<cSent> sent; // one per interface searched
    std::vector<cSsdpAnswer> answers; // every datagram, as far as it could be read
    std::vector<cGatewayCandidate> gateways; // one per distinct Location answered
};

// Sends the search for both connection services, WANIPConnection then
// WANPPPConnection; returns how many of the two datagrams went out.
int SearchConnectionServices(cSSDP& ssdp);

// Searches through every interface (or only through onlyLocal, network byte
// order), twice as discovery does, listens for the whole of timeoutMs, and
// looks at every distinct gateway that answered: its description, then its
// external address.
cSearchReport SearchEveryGateway(int timeoutMs, std::uint32_t onlyLocal);
