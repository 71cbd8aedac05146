// The read-only actions of the fake: GetListOfPortMappings with its hostile
// variants, and the status actions of the connection service and of
// WANCommonInterfaceConfig.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "fake_igd.h"

namespace fake_igd {
namespace {

constexpr int kInvalidAction = 401;
constexpr int kInvalidArgs = 402;
constexpr int kHighestPort = 65535;
constexpr int kTooMany = 4097;
constexpr std::size_t kOverBoundBytes = 3 * 1024 * 1024;

struct cStatusAction {
    const char* service; // what the type names: "WANCommonInterfaceConfig" or a connection
    const char* action;
    std::vector<const char*> outputs;
};

const std::vector<cStatusAction>& StatusActions() {
    static const std::vector<cStatusAction> actions = {
        {"Connection",
         "GetStatusInfo",
         {"NewConnectionStatus", "NewLastConnectionError", "NewUptime"}},
        {"Connection", "GetConnectionTypeInfo", {"NewConnectionType", "NewPossibleConnectionTypes"}},
        {"Connection", "GetNATRSIPStatus", {"NewRSIPAvailable", "NewNATEnabled"}},
        {"WANCommonInterfaceConfig",
         "GetCommonLinkProperties",
         {"NewWANAccessType", "NewLayer1UpstreamMaxBitRate", "NewLayer1DownstreamMaxBitRate",
          "NewPhysicalLinkStatus"}},
        {"WANCommonInterfaceConfig", "GetTotalBytesSent", {"NewTotalBytesSent"}},
        {"WANCommonInterfaceConfig", "GetTotalBytesReceived", {"NewTotalBytesReceived"}},
        {"WANCommonInterfaceConfig", "GetTotalPacketsSent", {"NewTotalPacketsSent"}},
        {"WANCommonInterfaceConfig", "GetTotalPacketsReceived", {"NewTotalPacketsReceived"}},
    };
    return actions;
}

bool IsCommonInterface(const std::string& type) {
    return type.find(":service:WANCommonInterfaceConfig:") != std::string::npos;
}

int Number(const std::map<std::string, std::string>& args, const char* name) {
    const auto found = args.find(name);
    if (found == args.end() || found->second.empty() || found->second.size() > 5 ||
        !std::all_of(found->second.begin(), found->second.end(),
                     [](unsigned char c) { return std::isdigit(c); }))
        return -1;
    return std::stoi(found->second);
}

std::string Entry(const std::string& protocol, const std::string& externalPort,
                  const cFakeGateway::cMapping& m) {
    return "<p:PortMappingEntry><p:NewRemoteHost>" + EscapeText(m.remoteHost) +
           "</p:NewRemoteHost><p:NewExternalPort>" + externalPort +
           "</p:NewExternalPort><p:NewProtocol>" + protocol +
           "</p:NewProtocol><p:NewInternalPort>" + std::to_string(m.internalPort) +
           "</p:NewInternalPort><p:NewInternalClient>" + EscapeText(m.internalClient) +
           "</p:NewInternalClient><p:NewEnabled>" + (m.enabled ? "1" : "0") +
           "</p:NewEnabled><p:NewDescription>" + EscapeText(m.description) +
           "</p:NewDescription><p:NewLeaseTime>" + std::to_string(m.leaseDuration) +
           "</p:NewLeaseTime></p:PortMappingEntry>";
}

std::string Document(const std::string& entries, const char* root = "PortMappingList") {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<p:") + root +
           " xmlns:p=\"urn:schemas-upnp-org:gw:WANIPConnection\">" + entries + "</p:" + root +
           ">";
}

// The entries of `protocol` between the ports in table order, at most count:
// miniupnpd lists in its own order, not by port.
std::string HonestEntries(const std::vector<cFakeGateway::cMapping>& mappings,
                          const std::string& protocol, int start, int end, int count) {
    std::vector<cFakeGateway::cMapping> chosen;
    for (const cFakeGateway::cMapping& m : mappings)
        if (m.protocol == protocol && m.externalPort >= start && m.externalPort <= end &&
            static_cast<int>(chosen.size()) < count)
            chosen.push_back(m);
    std::string entries;
    for (const cFakeGateway::cMapping& m : chosen)
        entries += Entry(protocol, std::to_string(m.externalPort), m);
    return entries;
}

// The listing document as it goes into NewPortListing (escaped once by
// Success), or false for a fault.
bool Listing(const std::map<std::string, std::string>& args,
             const std::vector<cFakeGateway::cMapping>& mappings, cFakeGateway::eListing mode,
             std::string& document, cOutcome& fault) {
    using eListing = cFakeGateway::eListing;
    const auto protocolArg = args.find("NewProtocol");
    const int start = Number(args, "NewStartPort");
    const int end = Number(args, "NewEndPort");
    const int count = Number(args, "NewNumberOfPorts");
    if (protocolArg == args.end() || args.count("NewManage") == 0 || start < 0 || end < start ||
        end > kHighestPort || count < 0) {
        fault = Fault(kInvalidArgs, "Invalid Args");
        return false;
    }
    const std::string& protocol = protocolArg->second;
    cFakeGateway::cMapping invented;
    invented.internalClient = "192.168.1.10";
    invented.internalPort = 80;
    switch (mode) {
    case eListing::kHonest:
    case eListing::kTruncated:
    case eListing::kOverBound:
    case eListing::kDoublyEscaped:
        document = Document(HonestEntries(mappings, protocol, start, end, count));
        if (mode == eListing::kTruncated)
            document.resize(document.size() / 2);
        if (mode == eListing::kOverBound)
            document += std::string(kOverBoundBytes, ' ');
        if (mode == eListing::kDoublyEscaped)
            document = EscapeText(document);
        return true;
    case eListing::kTooManyEntries: {
        // Entries of port and protocol only, so the count and not the size
        // bound is what refuses it.
        std::string entries;
        for (int i = 0; i < kTooMany; ++i)
            entries += "<p:PortMappingEntry><p:NewExternalPort>" + std::to_string(1 + i) +
                       "</p:NewExternalPort><p:NewProtocol>" + protocol +
                       "</p:NewProtocol></p:PortMappingEntry>";
        document = Document(entries);
        return true;
    }
    case eListing::kEndless:
    case eListing::kStuck: {
        std::string entries;
        for (int i = 0; i < count && start + i <= end; ++i)
            entries += Entry(protocol, std::to_string(mode == eListing::kStuck ? start : start + i),
                             invented);
        document = Document(entries);
        return true;
    }
    case eListing::kNotXml:
        document = "PortMappingList: 8080 TCP 192.168.1.10";
        return true;
    case eListing::kWrongRoot:
        document = Document(HonestEntries(mappings, protocol, start, end, count),
                            "PortMappingEntries");
        return true;
    case eListing::kBadPorts:
        document = Document(Entry(protocol, "0", invented) + Entry(protocol, "65536", invented) +
                            Entry(protocol, "80x", invented));
        return true;
    case eListing::kRefused:
        break;
    }
    fault = Fault(kInvalidAction, "Invalid Action");
    return false;
}

} // namespace

bool AnswerQuery(const std::string& action, const std::string& type,
                 const std::map<std::string, std::string>& args,
                 const std::vector<cFakeGateway::cMapping>& mappings,
                 const cFakeGateway::cQueryAnswers& queries, cOutcome& outcome) {
    const bool common = IsCommonInterface(type);
    if (queries.refused.count(action)) {
        outcome = Fault(kInvalidAction, "Invalid Action");
        return true;
    }
    if (action == "GetListOfPortMappings" && !common) {
        // A version 1 service has no such action.
        if (type.size() >= 2 && type.compare(type.size() - 2, 2, ":1") == 0) {
            outcome = Fault(kInvalidAction, "Invalid Action");
            return true;
        }
        std::string document;
        if (Listing(args, mappings, queries.listing, document, outcome))
            outcome = Success(action, type, {{"NewPortListing", document}});
        return true;
    }
    for (const cStatusAction& status : StatusActions()) {
        if (action != status.action || common != (std::string(status.service) != "Connection"))
            continue;
        std::vector<std::pair<std::string, std::string>> outputs;
        for (const char* name : status.outputs) {
            const auto found = queries.status.find(name);
            outputs.push_back({name, found == queries.status.end() ? "" : found->second});
        }
        outcome = Success(action, type, outputs);
        return true;
    }
    // WANCommonInterfaceConfig has none of the connection service's actions.
    if (common) {
        outcome = Fault(kInvalidAction, "Invalid Action");
        return true;
    }
    return false;
}

} // namespace fake_igd

std::map<std::string, std::string> cFakeGateway::DefaultStatus() {
    return {{"NewConnectionStatus", "Connected"},
            {"NewLastConnectionError", "ERROR_NONE"},
            {"NewUptime", "3600"},
            {"NewConnectionType", "IP_Routed"},
            {"NewPossibleConnectionTypes", "IP_Routed"},
            {"NewRSIPAvailable", "0"},
            {"NewNATEnabled", "1"},
            {"NewWANAccessType", "Cable"},
            {"NewLayer1UpstreamMaxBitRate", "1000000"},
            {"NewLayer1DownstreamMaxBitRate", "8000000"},
            {"NewPhysicalLinkStatus", "Up"},
            {"NewTotalBytesSent", "1234"},
            {"NewTotalBytesReceived", "5678"},
            {"NewTotalPacketsSent", "12"},
            {"NewTotalPacketsReceived", "34"}};
}
