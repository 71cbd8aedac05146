#pragma once

#include <string>
#include <vector>

#include "mapping/failure.h"
#include "mapping/gateway.h"
#include "mapping/mapping.h"
#include "mapping/port_range.h"
#include "support/text_encoding.h"
#include "upnp/gateway_status.h"
#include "upnp/pinhole.h"
#include "upnp/port_listing.h"
#include "upnp/upnp.h"

// What `list` found, as the gateway reported it.
struct cGatewayReport {
    std::string modelName;
    std::string externalAddress;
    std::string localAddress;
    std::vector<cListedMapping> mappings;
};

// The model name, external + " (" + local + ")", then one line per mapping in
// index order; disabled mappings are marked "off", leases shown in seconds
// ("-" for none).
std::string ListText(const cGatewayReport& report);
// One JSON object; field order is part of the output contract.
std::string ListJson(const cGatewayReport& report);
std::string ExternalAddressJson(const std::string& address);

// {"added": {<mapping as in the list, plus "leaseDuration", "replaced"?: {<the
// same client's mapping the add took the place of>}, "requestedPort"?>},
// "warnings": [...]}. requestedPort (not 0): the port --any-port asked for.
std::string AddedJson(const cAddResult& result, int requestedPort = 0);
// A range: {"added": [<as in AddedJson>...], "warnings": [...]}
std::string AddedRangeJson(const cRangeAdd& range);
// A range refused midway: {"error": {... as ErrorJson}, "failedPort",
// "rolledBack": [ports undone], "warnings": [...]}
std::string RangeErrorJson(const cRangeAdd& range);

struct cDeletion {
    std::string protocol;
    int externalPort = 0;
    cFailure failure; // set when the delete failed
    // A range that could not be handled at all ends here (0: one port).
    int lastPort = 0;
};
// {"deleted": [{"protocol", "externalPort"}...],
//  "failed": [{..., "lastPort"?, "error": {...}}...]}
std::string DeletedJson(const std::vector<cDeletion>& deletions);

// {"error": {"code": 718 or null, "name", "message", "owner"?: {<mapping>}}}
std::string ErrorJson(const cFailure& failure, const cMapping* owner = nullptr);

// "718 ConflictInMappingEntry: <sentence>" for a gateway's error, the
// sentence alone for a failure without a code.
std::string FailureText(const cFailure& failure);

// "198.51.100.10:8080 \"comment\"": who holds a mapping, for a message.
std::string HolderText(const cMapping& mapping);

// One line per item, "Label: value" ("unknown" when the gateway does not tell).
std::string StatusText(const std::vector<cStatusItem>& items);
// One key per item: numbers as numbers, the two flags as booleans, null when
// unknown.
std::string StatusJson(const std::vector<cStatusItem>& items);

// The pinhole commands' objects ("protocol" is added at their end):
// {"uniqueId", "pinhole": {"protocol", "internalClient", "internalPort",
//  "remoteHost" (null: any), "remotePort" (null: any), "leaseTime"}}
std::string PinholeAddedJson(const std::string& uniqueId, const cPinhole& pinhole);
// {"uniqueId", "deleted": true}
std::string PinholeDeletedJson(const std::string& uniqueId);
// {"uniqueId", "leaseTime"}
std::string PinholeUpdatedJson(const std::string& uniqueId, int leaseSeconds);
// {"uniqueId", "working": true|false|null (no packet yet), "noPacketSent",
//  "packets": number or null}
std::string PinholeCheckJson(const std::string& uniqueId, ePinholeCheck check,
                             const std::string& packets);
