#pragma once

#include <string>
#include <vector>

#include "upnp/upnp.h"

// What `list` found, as the gateway reported it.
struct cGatewayReport {
    std::string modelName;
    std::string externalAddress;
    std::string localAddress;
    std::vector<cUPnP::cEntry> mappings;
};

// The model name, external + " (" + local + ")", then one line per mapping in
// index order; disabled mappings are marked "off".
std::string ListText(const cGatewayReport& report);
// One JSON object; field order is part of the output contract.
std::string ListJson(const cGatewayReport& report);
std::string ExternalAddressJson(const std::string& address);

// Gateway text made safe for a terminal: unreadable bytes and control
// characters (C0, DEL, C1) become U+FFFD (or the console code page's default
// character), so a hostile gateway cannot send escape sequences to the user's
// terminal.
std::string PrintableText(const std::string& text);
