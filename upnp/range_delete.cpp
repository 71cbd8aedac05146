#include "upnp/range_delete.h"

#include <algorithm>

#include "upnp/port_listing.h"

namespace {

cFailure Unknown(const char* name, const char* message, const char* messageJa) {
    cFailure failure;
    failure.name = name;
    failure.message = message;
    failure.messageJa = messageJa;
    return failure;
}

} // namespace

bool DeleteOwnInRange(cUPnP& gateway, const std::string& protocol, int startPort, int endPort,
                      cRangeDelete& out, cFailure& failure) {
    out = cRangeDelete();
    std::string local;
    if (!gateway.GetLocalAddress(local) || local.empty()) {
        failure = Unknown("NoLocalAddress", "this host's address towards the gateway is unknown",
                          "このコンピューターのアドレスが分かりません");
        return false;
    }
    std::vector<cListedMapping> listed;
    if (!ListRange(gateway, protocol, startPort, endPort, listed)) {
        failure = gateway.GetLastFailure().IsSet()
                      ? gateway.GetLastFailure()
                      : Unknown("TableUnreadable", "the mapping table could not be read to its end",
                                "ポートマップの一覧を最後まで読めませんでした");
        return false;
    }
    int first = endPort + 1;
    int last = startPort - 1;
    for (const cListedMapping& mapping : listed) {
        if (mapping.entry.internalClient != local)
            continue;
        out.ports.push_back({mapping.entry.externalPort, cFailure()});
        first = std::min(first, mapping.entry.externalPort);
        last = std::max(last, mapping.entry.externalPort);
    }
    for (const cListedMapping& mapping : listed)
        if (mapping.entry.internalClient != local) {
            ++out.othersKept;
            // Another host's mapping inside the span rules out the range action.
            if (mapping.entry.externalPort >= first && mapping.entry.externalPort <= last)
                first = last + 1;
        }
    if (out.ports.empty())
        return true;
    // miniupnpd gathers the range's mappings as it does for a bulk listing,
    // which dies past kBulkSafeEntries mappings: more are deleted one by one.
    if (first < last && out.ports.size() <= static_cast<std::size_t>(kBulkSafeEntries) &&
        IsVersion2(gateway.GetIdentity().describedType) &&
        gateway.DeletePortMappingRange(protocol, first, last)) {
        out.inOneRequest = true;
        return true;
    }
    for (cRangeDeletion& port : out.ports) {
        cUPnP::cEntry entry;
        entry.protocol = protocol;
        entry.externalPort = port.externalPort;
        if (!gateway.DeletePortMapping(entry))
            port.failure = gateway.GetLastFailure();
    }
    return true;
}
