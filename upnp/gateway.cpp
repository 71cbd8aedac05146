#include "upnp/gateway_impl.h"

#include <set>

#include "net/socket.h"
#include "net/ssdp.h"
#include "net/url.h"
#include "upnp/discovery.h"

cUPnP& cUPnP::GetInstance() {
    static cUPnP::impl instance;
    return instance;
}

namespace {

// Answering devices whose descriptions are tried before a search gives up.
constexpr int kMaxDiscoveryCandidates = 3;

const char* OtherSearchedType(const std::string& type) {
    return type == kWanIpConnection ? kWanPppConnection : kWanIpConnection;
}

} // namespace

bool cUPnP::impl::Discover(int timeoutMs) {
    Reset();
    cSSDP ssdp;
    if (!ssdp.Open())
        return false;
    ssdp.RestrictTo(searchInterface);
    // Sent twice: Wi-Fi loses single datagrams, and a lost search costs the
    // whole time-out.
    if (SearchConnectionServices(ssdp) != 2)
        return false;
    bool answered = ssdp.ReceiveWithin(kSsdpRepeatMs);
    if (!answered &&
        (SearchConnectionServices(ssdp) != 2 || !(answered = ssdp.Receive(timeoutMs))))
        return false;
    // A device whose description cannot be used does not end the search while
    // another may still answer; a few such devices at most.
    std::set<std::string> tried;
    for (int candidates = 0; answered && candidates < kMaxDiscoveryCandidates;
         answered = ssdp.Receive(timeoutMs)) {
        if (!tried.insert(ssdp.location).second)
            continue;
        ++candidates;
        // The description must come from the device that answered: any LAN
        // device could otherwise send this host's requests wherever it likes
        // (a service on its loopback, say), or have it look up a host name.
        cHttpUrl described;
        if (!ParseHttpUrl(ssdp.location, described) || described.host != ssdp.sender)
            continue;
        if (soap.LoadDescription(ssdp.location.c_str(), ssdp.st.c_str(),
                                 {OtherSearchedType(ssdp.st)})) {
            descriptionUrl = ssdp.location;
            return true;
        }
    }
    return false;
}

bool cUPnP::impl::UseGateway(const std::string& url, const std::string& serviceType,
                             int connectTimeoutMs, int totalMs) {
    Reset();
    // Only an address literal: a host name would be looked up.
    cHttpUrl parsed;
    if (!ParseHttpUrl(url, parsed) || !IsIpv4Literal(parsed.host))
        return false;
    const std::string type = serviceType.empty() ? kWanIpConnection : serviceType;
    if (!soap.LoadDescription(url.c_str(), type.c_str(), {OtherSearchedType(type)},
                              {connectTimeoutMs, totalMs}))
        return false;
    descriptionUrl = url;
    return true;
}

cUPnP::cIdentity cUPnP::impl::GetIdentity() {
    return {descriptionUrl, soap.GetUdn(), soap.GetServiceType(), soap.GetControlUrl(),
            soap.GetDescribedServiceType()};
}

void cUPnP::impl::SetSearchInterface(std::uint32_t localAddress) {
    searchInterface = localAddress;
}

void cUPnP::impl::Reset() {
    soap.Reset();
    descriptionUrl.clear();
}

const char* cUPnP::impl::GetModelName() { return soap.GetModelName(); }

bool cUPnP::impl::GetLocalAddress(std::string& out) {
    out.clear();
    cSocketSystem::GetInstance();
    // The address the gateway sees us by; a multi-homed host or a host name
    // that resolves to 127.0.1.1 would otherwise map ports to the wrong place.
    cHttpUrl gateway;
    if (ParseHttpUrl(soap.GetControlUrl(), gateway) && GetSourceAddressTowards(gateway.host, out))
        return true;
    return GetHostAddress(out);
}
