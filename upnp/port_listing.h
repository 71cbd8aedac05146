#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "upnp/upnp.h"

// One mapping of the table, with the seconds of lease it has left (0: none).
struct cListedMapping {
    cUPnP::cEntry entry;
    int leaseSeconds = 0;
};

// The listing document of GetListOfPortMappings (version 2): every
// PortMappingEntry of a PortMappingList, at most maxEntries. False when the
// text is not such a document or an entry names no protocol or port: a
// listing that cannot be read whole is not used at all.
bool ReadPortListing(const std::string& document, std::size_t maxEntries,
                     std::vector<cListedMapping>& out);

// Entries asked for in one bulk request.
constexpr int kListingChunk = 1000;

// The whole table of a version 2 gateway in bulk requests, TCP then UDP, at
// most maxEntries. False on a version 1 service or any failure: the caller
// then walks the table index by index.
bool ListInBulk(cUPnP& gateway, std::size_t maxEntries, std::vector<cListedMapping>& out);

// The mappings of protocol from startPort to endPort: in bulk on a version 2
// service, else (or on any trouble with that) by walking the whole table
// index by index. False when the table could not be read to its end.
bool ListRange(cUPnP& gateway, const std::string& protocol, int startPort, int endPort,
               std::vector<cListedMapping>& out);

// True when the service as described is version 2 or higher.
bool IsVersion2(const std::string& describedType);
