#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "mapping/failure.h"

// The gateway client: finds the Internet gateway's connection service and
// speaks its port-mapping actions. Reached only through GetInstance().
class cUPnP {
public:
    // One port mapping as it travels between a front end and the gateway.
    struct cEntry {
        bool enabled = false;
        int externalPort = 0;
        int internalPort = 0;
        std::string protocol;
        std::string internalClient;
        std::string description;
    };

    static cUPnP& GetInstance();

    virtual ~cUPnP() = default;
    virtual bool Discover(int timeoutMs) = 0;
    virtual void Reset() = 0;
    virtual const char* GetModelName() = 0;
    virtual bool GetExternalAddress(std::string& out) = 0;
    virtual bool GetLocalAddress(std::string& out) = 0;
    virtual bool GetPortMappingEntry(int index, cEntry& out) = 0;
    virtual bool AddPortMapping(const cEntry& entry) = 0;
    virtual bool DeletePortMapping(const cEntry& entry) = 0;

    // Why the last action that failed did: the gateway's error, or what
    // happened to the exchange.
    virtual const cFailure& GetLastFailure() const = 0;
    // The mapping of protocol and external port (any remote host), with the
    // seconds of lease it has left (0: no limit).
    virtual bool GetSpecificPortMappingEntry(const std::string& protocol, int externalPort,
                                             cEntry& out, int& leaseSeconds) = 0;
    // AddPortMapping asking for a lease of leaseSeconds (0: no limit).
    virtual bool AddPortMappingWithLease(const cEntry& entry, int leaseSeconds) = 0;

    // What identifies the gateway found: enough to find it again without a search.
    struct cIdentity {
        std::string descriptionUrl;
        std::string udn;
        std::string serviceType;
        std::string controlUrl;
        // As the description names it: a higher version than serviceType on
        // a version 2 gateway, which is searched as version 1.
        std::string describedType;
    };
    virtual cIdentity GetIdentity() = 0;
    // GetPortMappingEntry with the seconds of lease the mapping has left.
    virtual bool GetPortMappingEntryWithLease(int index, cEntry& out, int& leaseSeconds) = 0;
    // GetListOfPortMappings (version 2): the escaped listing document of at
    // most `count` mappings of protocol between the two ports.
    virtual bool GetListOfPortMappings(const std::string& protocol, int startPort, int endPort,
                                       int count, std::string& listing) = 0;
    // Which of the gateway's services a query goes to.
    enum class eService { kConnection, kCommonInterface };
    // An action without input arguments (the status queries); `results` gets
    // every output argument by name.
    virtual bool Query(eService service, const char* action,
                       std::map<std::string, std::string>& results) = 0;
    // Later searches go out through this local address only (network byte
    // order); 0: through every interface.
    virtual void SetSearchInterface(std::uint32_t localAddress) = 0;
    // Takes the gateway described at descriptionUrl without a search, looking
    // for serviceType first (then the other searched type). The URL must be
    // http:// on an IPv4 address; the fetch has these bounds.
    virtual bool UseGateway(const std::string& descriptionUrl, const std::string& serviceType,
                            int connectTimeoutMs, int totalMs) = 0;
    // AddAnyPortMapping (version 2): the gateway may grant another external
    // port than the entry's; `grantedPort` gets the one it reserved.
    virtual bool AddAnyPortMapping(const cEntry& entry, int leaseSeconds, int& grantedPort) = 0;
    // DeletePortMappingRange (version 2) of protocol from startPort to endPort.
    virtual bool DeletePortMappingRange(const std::string& protocol, int startPort,
                                        int endPort) = 0;

    class impl;
};

// The service types searched for, in this order.
constexpr const char* kWanIpConnection = "urn:schemas-upnp-org:service:WANIPConnection:1";
constexpr const char* kWanPppConnection = "urn:schemas-upnp-org:service:WANPPPConnection:1";

// Front ends stop reading the mapping table after this many indices: a gateway
// that answers every index with success would otherwise be read forever.
constexpr int kMaxMappingEntries = 4096;
