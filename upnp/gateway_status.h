#pragma once

#include <string>
#include <vector>

#include "upnp/upnp.h"

// One thing the gateway tells about its connection or its link.
struct cStatusItem {
    std::string key;   // camelCase, as in JSON
    std::string label; // for the text output
    std::string value; // as the gateway wrote it
    bool known = false; // false: the gateway does not offer it (or did not answer)
};

// Asks every status query of the connection service (GetStatusInfo,
// GetConnectionTypeInfo, GetNATRSIPStatus) and of WANCommonInterfaceConfig
// (GetCommonLinkProperties, the byte and packet counters). An item a
// gateway does not offer stays unknown; it is no error.
std::vector<cStatusItem> ReadGatewayStatus(cUPnP& gateway);
