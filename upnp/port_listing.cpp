#include "upnp/port_listing.h"

#include <set>
#include <utility>

#include "support/text.h"
#include "support/xml.h"
#include "upnp/fault.h"

namespace {

constexpr int kHighestPort = 65535;

std::string Value(const std::map<std::string, std::string>& values, const char* name) {
    const auto found = values.find(name);
    return found == values.end() ? std::string() : found->second;
}

bool IsPort(const std::string& text) {
    return !text.empty() && text.size() <= 5 &&
           text.find_first_not_of("0123456789") == std::string::npos && ReadInt(text) >= 1 &&
           ReadInt(text) <= kHighestPort;
}

} // namespace

bool IsVersion2(const std::string& describedType) {
    const std::size_t colon = describedType.rfind(':');
    return colon != std::string::npos && ReadInt(describedType.substr(colon + 1)) >= 2;
}

bool ReadPortListing(const std::string& document, std::size_t maxEntries,
                     std::vector<cListedMapping>& out) {
    cXML listing;
    listing.Load(document.c_str());
    if (listing.SelectEveryChildMap("PortMappingList", 1).empty())
        return false;
    // One more than allowed, to tell a full listing from an overlong one.
    const std::vector<std::map<std::string, std::string>> entries =
        listing.SelectEveryChildMap("PortMappingEntry", maxEntries + 1);
    if (entries.size() > maxEntries)
        return false;
    std::vector<cListedMapping> read;
    for (const std::map<std::string, std::string>& values : entries) {
        cListedMapping mapping;
        mapping.entry.protocol = Value(values, "NewProtocol");
        const std::string port = Value(values, "NewExternalPort");
        if (mapping.entry.protocol.empty() || !IsPort(port))
            return false;
        mapping.entry.externalPort = ReadInt(port);
        mapping.entry.internalPort = ReadInt(Value(values, "NewInternalPort"));
        mapping.entry.internalClient = Value(values, "NewInternalClient");
        mapping.entry.enabled = ReadInt(Value(values, "NewEnabled")) != 0;
        mapping.entry.description = Value(values, "NewDescription");
        mapping.leaseSeconds = ReadInt(Value(values, "NewLeaseTime"));
        read.push_back(mapping);
    }
    out = read;
    return true;
}

namespace {

// miniupnpd 2.3.1 (nftables) overruns a buffer and dies when the range asked
// for holds more than 128 mappings of the protocol, whatever the count asked.
// Only a table the gateway ends by index kBulkSafeEntries is asked for in
// bulk; a larger one is walked.
bool EndsByBulkSafeIndex(cUPnP& gateway) {
    cUPnP::cEntry beyond;
    int leaseSeconds = 0;
    return !gateway.GetPortMappingEntryWithLease(kBulkSafeEntries, beyond, leaseSeconds) &&
           gateway.GetLastFailure().code == kUpnpArrayIndexInvalid;
}

// One protocol's mappings between the two ports in one bulk request, added to
// `table`. False on any failure or an answer that is not what was asked for.
bool ReadInBulk(cUPnP& gateway, const char* protocol, int startPort, int endPort,
                std::size_t maxEntries, std::set<std::pair<std::string, int>>& seen,
                std::vector<cListedMapping>& table) {
    std::string document;
    std::vector<cListedMapping> chunk;
    if (!gateway.GetListOfPortMappings(protocol, startPort, endPort, kListingChunk, document) ||
        !ReadPortListing(document, kListingChunk, chunk))
        return false;
    // A full answer leaves a rest that cannot be asked for: miniupnpd lists
    // in its own order, not by port, so no next range is known.
    if (chunk.size() >= static_cast<std::size_t>(kListingChunk))
        return false;
    for (const cListedMapping& mapping : chunk) {
        // Another protocol, a port outside the range or listed twice: not
        // what was asked for.
        if (mapping.entry.protocol != protocol || mapping.entry.externalPort < startPort ||
            mapping.entry.externalPort > endPort ||
            !seen.insert({protocol, mapping.entry.externalPort}).second)
            return false;
        table.push_back(mapping);
    }
    return table.size() <= maxEntries;
}

} // namespace

bool ListInBulk(cUPnP& gateway, std::size_t maxEntries, std::vector<cListedMapping>& out) {
    if (!IsVersion2(gateway.GetIdentity().describedType) || !EndsByBulkSafeIndex(gateway))
        return false;
    std::vector<cListedMapping> table;
    std::set<std::pair<std::string, int>> seen;
    for (const char* protocol : {"TCP", "UDP"})
        if (!ReadInBulk(gateway, protocol, 1, kHighestPort, maxEntries, seen, table))
            return false;
    out = table;
    return true;
}

bool ListRange(cUPnP& gateway, const std::string& protocol, int startPort, int endPort,
               std::vector<cListedMapping>& out) {
    std::vector<cListedMapping> table;
    std::set<std::pair<std::string, int>> seen;
    if (IsVersion2(gateway.GetIdentity().describedType) && EndsByBulkSafeIndex(gateway) &&
        ReadInBulk(gateway, protocol.c_str(), startPort, endPort, kMaxMappingEntries, seen,
                   table)) {
        out = table;
        return true;
    }
    table.clear();
    cListedMapping listed;
    for (int index = 0; index < kMaxMappingEntries; ++index) {
        if (!gateway.GetPortMappingEntryWithLease(index, listed.entry, listed.leaseSeconds)) {
            // The end of the table is an index the gateway refuses as invalid.
            if (gateway.GetLastFailure().code != kUpnpArrayIndexInvalid)
                return false;
            out = table;
            return true;
        }
        if (listed.entry.protocol == protocol && listed.entry.externalPort >= startPort &&
            listed.entry.externalPort <= endPort)
            table.push_back(listed);
    }
    // A table that never ends cannot be known to hold nothing more of the range.
    return false;
}
