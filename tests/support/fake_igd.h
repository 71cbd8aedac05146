#pragma once

// The gateway side of the fake, without sockets: the SOAP control actions over
// the port-mapping table, and the texts a gateway sends. Used by
// fake_gateway.cpp; the HTTP framing lives there.

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fake_gateway.h"

namespace fake_igd {

struct cOutcome {
    int status = 200; // 200, 400 or 500 (then fault holds the UPnP error)
    std::string body;
};

// Handles one POST to the control path. The table and the external address
// belong to the caller, who holds its lock. A canned outcome replaces the
// action's once the request has passed the header and XML checks.
cOutcome HandleControl(const cFakeGateway::cRequest& request, const std::string& servedType,
                       const std::string& externalAddress,
                       std::vector<cFakeGateway::cMapping>& mappings,
                       const cOutcome* canned = nullptr,
                       const cFakeGateway::cAddPolicy& policy = {},
                       const cFakeGateway::cQueryAnswers& queries = {});

// The bulk listing and the status actions (fake_igd_queries.cpp): true, with
// the outcome, when `action` is one of them for the service `type` names.
bool AnswerQuery(const std::string& action, const std::string& type,
                 const std::map<std::string, std::string>& args,
                 const std::vector<cFakeGateway::cMapping>& mappings,
                 const cFakeGateway::cQueryAnswers& queries, cOutcome& outcome);
cOutcome Fault(int code, const std::string& description);
cOutcome Success(const std::string& action, const std::string& type,
                 const std::vector<std::pair<std::string, std::string>>& outputs);

std::string EscapeText(const std::string& text);
// The path a client should request for reference, read against base (an
// absolute http URL): RFC 3986 merging without dot segments, enough for tests.
std::string PathOf(const std::string& base, const std::string& reference);
void ReplaceAll(std::string& text, const std::string& from, const std::string& to);

} // namespace fake_igd
