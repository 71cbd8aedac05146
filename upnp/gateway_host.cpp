#include "upnp/gateway_host.h"

#include "net/url.h"
#include "upnp/gateway_impl.h"

bool GetGatewayHost(cUPnP& client, std::string& out) {
    const auto* discovered = dynamic_cast<const cUPnP::impl*>(&client);
    cHttpUrl url;
    if (!discovered || !ParseHttpUrl(discovered->soap.GetControlUrl(), url))
        return false;
    out = url.host;
    return true;
}
