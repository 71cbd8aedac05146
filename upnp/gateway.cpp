#include "upnp/gateway_impl.h"

#include "net/socket.h"
#include "net/ssdp.h"
#include "net/url.h"

cUPnP& cUPnP::GetInstance() {
    static cUPnP::impl instance;
    return instance;
}

namespace {

bool SearchBoth(cSSDP& ssdp) {
    const bool ip = ssdp.Search(kWanIpConnection);
    const bool ppp = ssdp.Search(kWanPppConnection);
    return ip && ppp;
}

const char* OtherSearchedType(const std::string& type) {
    return type == kWanIpConnection ? kWanPppConnection : kWanIpConnection;
}

} // namespace

bool cUPnP::impl::Discover(int timeoutMs) {
    Reset();
    std::string location, st;
    {
        cSSDP ssdp;
        if (!ssdp.Open())
            return false;
        ssdp.RestrictTo(searchInterface);
        // Sent twice: Wi-Fi loses single datagrams, and a lost search costs the
        // whole time-out.
        if (!SearchBoth(ssdp))
            return false;
        if (!ssdp.ReceiveWithin(kSsdpRepeatMs) && (!SearchBoth(ssdp) || !ssdp.Receive(timeoutMs)))
            return false;
        // The description must come from the device that answered: any LAN
        // device could otherwise send this host's requests wherever it likes
        // (a service on its loopback, say), or have it look up a host name.
        cHttpUrl described;
        if (!ParseHttpUrl(ssdp.location, described) || described.host != ssdp.sender)
            return false;
        location = ssdp.location;
        st = ssdp.st;
    }
    if (location.empty() || st.empty())
        return false;
    if (!soap.LoadDescription(location.c_str(), st.c_str(), {OtherSearchedType(st)}))
        return false;
    descriptionUrl = location;
    return true;
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
