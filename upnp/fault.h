#pragma once

#include <cstddef>
#include <string>

#include "mapping/failure.h"
#include "net/http.h"

// UPnP error codes the client acts on.
constexpr int kUpnpInvalidAction = 401;
constexpr int kUpnpInvalidArgs = 402;
constexpr int kUpnpOptionalActionNotImplemented = 602;
constexpr int kUpnpActionNotAuthorized = 606;
constexpr int kUpnpFirewallDisabled = 702;
constexpr int kUpnpInboundPinholeNotAllowed = 703;
constexpr int kUpnpNoSuchPinhole = 704;
constexpr int kUpnpNoPacketSent = 709; // a pinhole that has seen no packet yet
constexpr int kUpnpArrayIndexInvalid = 713; // past the end of the mapping table
constexpr int kUpnpNoSuchEntry = 714;
constexpr int kUpnpConflict = 718;
constexpr int kUpnpSamePortValuesRequired = 724;
constexpr int kUpnpOnlyPermanentLeases = 725;
constexpr int kUpnpConflictWithOtherMechanisms = 729;
constexpr int kUpnpPortMappingNotFound = 730;

// A gateway's own error description is kept to this many bytes (UTF-8).
constexpr std::size_t kMaxFaultDescriptionBytes = 200;

// The errorCode and errorDescription of the UPnPError in a SOAP fault body.
// False when the body holds no readable error code.
bool ReadUpnpFault(const char* body, int& code, std::string& description);

// The failure for an error code the gateway sent: its name and sentences from
// the table, or for a code the table lacks, the gateway's own description.
cFailure UpnpFailure(int code, const std::string& description);

// The failure for an exchange that ended without a UPnP error: what happened,
// with the bound that was hit (`silenceMs` is the connect and silence time-out).
cFailure TransportFailure(eHttpOutcome outcome, int httpStatus, int silenceMs);

// The failure of a request that was never sent because no gateway is known.
cFailure NoGatewayFailure();

// The failure of a request the gateway answered with success, but with an
// answer that could not be read (not XML, or without the values asked for).
cFailure UnreadableAnswerFailure();
