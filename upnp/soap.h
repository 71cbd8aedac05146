#pragma once

#include <map>
#include <string>
#include <vector>

#include "mapping/failure.h"
#include "net/http.h"
#include "support/smart_ptr.h"

// How long a description fetch may take: the usual bounds, or tighter ones
// for a gateway that is only being checked.
struct cFetchBounds {
    int connectMs = kHttpTimeoutMs;
    int totalMs = kHttpDeadlineMs;
};

// What the client knows about the gateway's connection service, and one
// control action at a time: clear, set the arguments, call, read the results.
class cSOAP {
public:
    cSOAP();
    virtual ~cSOAP();

    void Reset();
    void ClearArguments();
    void SetArgument(const char* name, const char* value);
    // True exactly when the gateway answered with status 200.
    bool Call(const char* action);
    const char* GetResult(const char* name);
    // Why the last Call failed: the gateway's UPnP error, or what happened to
    // the exchange. Empty after a Call that succeeded.
    const cFailure& GetFailure() const;
    const char* GetModelName();
    const std::string& GetControlUrl() const;
    const std::string& GetServiceType() const;
    const std::string& GetDescribedServiceType() const;
    // Call naming another type of the same service: an action that only a
    // higher version of the service has.
    bool CallAs(const char* action, const std::string& serviceType);
    // Call on WANCommonInterfaceConfig, when the description names it.
    bool CallCommonInterface(const char* action);
    // Call on WANIPv6FirewallControl, when the description names it.
    bool CallFirewall(const char* action);
    bool HasFirewallService() const;
    // Every output argument of the last Call, by name.
    const std::map<std::string, std::string>& GetResults() const;

    // Fetches the description and finds the service: serviceType first, then the
    // other searched types; for each the exact type, then a higher version.
    bool LoadDescription(const char* descriptionUrl, const char* serviceType,
                         const std::vector<std::string>& otherTypes = {},
                         const cFetchBounds& bounds = {});
    // The root device's UDN from the last description loaded.
    const std::string& GetUdn() const;
    // Why the last LoadDescription failed, in one English sentence; "" after
    // one that succeeded.
    const std::string& GetDescriptionProblem() const;

    // The request body Call sends for action with the current arguments.
    std::string ComposeBody(const char* action) const;
    // The same, for an action of another service.
    std::string ComposeBody(const char* action, const std::string& serviceType) const;

    class impl;

private:
    cSOAP(const cSOAP&) = delete;
    cSOAP& operator=(const cSOAP&) = delete;
    smart_ptr<impl> pimpl;
};

// The service with the link's properties and counters.
constexpr const char* kWanCommonInterfaceConfig =
    "urn:schemas-upnp-org:service:WANCommonInterfaceConfig:1";

// The IPv6 firewall, where pinholes are opened.
constexpr const char* kWanIpv6FirewallControl =
    "urn:schemas-upnp-org:service:WANIPv6FirewallControl:1";

// `&`, `<`, `>` and `"` as XML entities.
std::string EscapeXml(const std::string& text);
