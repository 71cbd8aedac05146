#include "upnp/gateway_impl.h"

#include "net/socket.h"
#include "net/ssdp.h"
#include "net/url.h"

cUPnP& cUPnP::GetInstance() {
    static cUPnP::impl instance;
    return instance;
}

bool cUPnP::impl::Discover(int timeoutMs) {
    Reset();
    std::string location, st;
    {
        cSSDP ssdp;
        if (!ssdp.Open() || !ssdp.Search(kWanIpConnection) || !ssdp.Search(kWanPppConnection) ||
            !ssdp.Receive(timeoutMs))
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
    const std::string other = st == kWanIpConnection ? kWanPppConnection : kWanIpConnection;
    return soap.LoadDescription(location.c_str(), st.c_str(), {other});
}

void cUPnP::impl::Reset() { soap.Reset(); }

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
