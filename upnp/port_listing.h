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

// Entries asked for in one bulk request; an answer this full is not used.
constexpr int kListingChunk = 1000;

// The largest table read in bulk: one more entry and the table is walked.
constexpr int kBulkSafeEntries = 128;

// The whole table of a version 2 gateway in one bulk request per protocol,
// TCP then UDP, each in the gateway's order, at most maxEntries, after one
// look at index kBulkSafeEntries (which must be past the end). False on a
// version 1 service, a larger table or any failure: the caller then walks
// the table index by index.
bool ListInBulk(cUPnP& gateway, std::size_t maxEntries, std::vector<cListedMapping>& out);

// The mappings of protocol from startPort to endPort: in bulk on a version 2
// service, else (or on any trouble with that) by walking the whole table
// index by index. False when the table could not be read to its end.
bool ListRange(cUPnP& gateway, const std::string& protocol, int startPort, int endPort,
               std::vector<cListedMapping>& out);

// True when the service as described is version 2 or higher.
bool IsVersion2(const std::string& describedType);
