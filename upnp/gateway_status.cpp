#include "upnp/gateway_status.h"

#include <map>

namespace {

struct cOutput {
    const char* argument;
    const char* key;
    const char* label;
};

struct cQuery {
    cUPnP::eService service;
    const char* action;
    std::vector<cOutput> outputs;
};

const std::vector<cQuery>& Queries() {
    using eService = cUPnP::eService;
    static const std::vector<cQuery> queries = {
        {eService::kConnection,
         "GetStatusInfo",
         {{"NewConnectionStatus", "connectionStatus", "Connection status"},
          {"NewUptime", "uptime", "Uptime (s)"},
          {"NewLastConnectionError", "lastConnectionError", "Last connection error"}}},
        {eService::kConnection,
         "GetConnectionTypeInfo",
         {{"NewConnectionType", "connectionType", "Connection type"},
          {"NewPossibleConnectionTypes", "possibleConnectionTypes", "Possible types"}}},
        {eService::kConnection,
         "GetNATRSIPStatus",
         {{"NewNATEnabled", "natEnabled", "NAT enabled"},
          {"NewRSIPAvailable", "rsipAvailable", "RSIP available"}}},
        {eService::kCommonInterface,
         "GetCommonLinkProperties",
         {{"NewWANAccessType", "accessType", "Access type"},
          {"NewLayer1UpstreamMaxBitRate", "maxBitRateUp", "Max bit rate up"},
          {"NewLayer1DownstreamMaxBitRate", "maxBitRateDown", "Max bit rate down"},
          {"NewPhysicalLinkStatus", "physicalLinkStatus", "Physical link"}}},
        {eService::kCommonInterface,
         "GetTotalBytesSent",
         {{"NewTotalBytesSent", "totalBytesSent", "Bytes sent"}}},
        {eService::kCommonInterface,
         "GetTotalBytesReceived",
         {{"NewTotalBytesReceived", "totalBytesReceived", "Bytes received"}}},
        {eService::kCommonInterface,
         "GetTotalPacketsSent",
         {{"NewTotalPacketsSent", "totalPacketsSent", "Packets sent"}}},
        {eService::kCommonInterface,
         "GetTotalPacketsReceived",
         {{"NewTotalPacketsReceived", "totalPacketsReceived", "Packets received"}}},
    };
    return queries;
}

} // namespace

std::vector<cStatusItem> ReadGatewayStatus(cUPnP& gateway) {
    std::vector<cStatusItem> items;
    for (const cQuery& query : Queries()) {
        std::map<std::string, std::string> results;
        const bool answered = gateway.Query(query.service, query.action, results);
        for (const cOutput& output : query.outputs) {
            cStatusItem item;
            item.key = output.key;
            item.label = output.label;
            const auto found = results.find(output.argument);
            if (answered && found != results.end() && !found->second.empty()) {
                item.value = found->second;
                item.known = true;
            }
            items.push_back(item);
        }
    }
    return items;
}
