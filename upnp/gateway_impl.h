#pragma once

#include "upnp/soap.h"
#include "upnp/upnp.h"

// The one implementation of cUPnP; everything it learns lives in `soap`.
class cUPnP::impl : public cUPnP {
public:
    bool Discover(int timeoutMs) override;
    void Reset() override;
    const char* GetModelName() override;
    bool GetExternalAddress(std::string& out) override;
    bool GetLocalAddress(std::string& out) override;
    bool GetPortMappingEntry(int index, cEntry& out) override;
    bool AddPortMapping(const cEntry& entry) override;
    bool DeletePortMapping(const cEntry& entry) override;
    const cFailure& GetLastFailure() const override;
    bool GetSpecificPortMappingEntry(const std::string& protocol, int externalPort, cEntry& out,
                                     int& leaseSeconds) override;
    bool AddPortMappingWithLease(const cEntry& entry, int leaseSeconds) override;
    cIdentity GetIdentity() override;
    bool Query(eService service, const char* action,
               std::map<std::string, std::string>& results) override;
    bool GetPortMappingEntryWithLease(int index, cEntry& out, int& leaseSeconds) override;
    bool GetListOfPortMappings(const std::string& protocol, int startPort, int endPort, int count,
                               std::string& listing) override;
    void SetSearchInterface(std::uint32_t localAddress) override;
    bool UseGateway(const std::string& descriptionUrl, const std::string& serviceType,
                    int connectTimeoutMs, int totalMs) override;
    bool AddAnyPortMapping(const cEntry& entry, int leaseSeconds, int& grantedPort) override;
    bool DeletePortMappingRange(const std::string& protocol, int startPort, int endPort) override;

    // Call on the SOAP object, keeping its reason for GetLastFailure.
    bool Call(const char* action);
    // Call on the service type the description names: a version 2 action.
    bool CallDescribed(const char* action);

    cSOAP soap;
    cFailure failure;
    std::string descriptionUrl;
    std::uint32_t searchInterface = 0;
};
