#pragma once

#include <string>
#include <vector>

#include "mapping/failure.h"
#include "upnp/upnp.h"

// One mapping a range delete went for, and why it stayed when it did.
struct cRangeDeletion {
    int externalPort = 0;
    cFailure failure; // set when it was not deleted
};

// How a range delete went.
struct cRangeDelete {
    // This host's mappings in the range, in the order the table gave them.
    std::vector<cRangeDeletion> ports;
    // Mappings of other hosts in the range, left alone.
    int othersKept = 0;
    // The gateway's DeletePortMappingRange took them all at once.
    bool inOneRequest = false;
};

// Deletes this host's mappings of protocol from startPort to endPort and no
// other host's. The table is read first; DeletePortMappingRange is used only
// over a span that holds this host's mappings alone, because it deletes
// whatever it finds there; otherwise one DeletePortMapping each. False, with
// the reason in `failure`, when nothing could be decided: this host's address
// or the table could not be read.
bool DeleteOwnInRange(cUPnP& gateway, const std::string& protocol, int startPort, int endPort,
                      cRangeDelete& out, cFailure& failure);
