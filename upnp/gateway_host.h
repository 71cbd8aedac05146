#pragma once

#include <string>

#include "upnp/upnp.h"

// The address of the gateway that `client` discovered (the host of its
// control URL); false before discovery and for other implementations.
bool GetGatewayHost(cUPnP& client, std::string& out);
