#include "cli/commands.h"

#include <string>

#include "cli/report.h"
#include "support/text.h"

namespace {

constexpr const char* kPrefix = "wendrel-cli: ";

std::string Describe(const cUPnP::cEntry& entry) {
    return entry.protocol + " " + DecimalText(entry.externalPort);
}

int List(const cCommandLine& line, cUPnP& gateway, std::ostream& out, std::ostream& err) {
    cGatewayReport report;
    report.modelName = gateway.GetModelName();
    if (!gateway.GetExternalAddress(report.externalAddress))
        err << kPrefix << "the gateway did not tell its external address\n";
    if (!gateway.GetLocalAddress(report.localAddress))
        err << kPrefix << "this host's address is unknown\n";
    // The end of the table is the first index the gateway refuses.
    cUPnP::cEntry entry;
    int index = 0;
    while (index < kMaxMappingEntries && gateway.GetPortMappingEntry(index, entry)) {
        report.mappings.push_back(entry);
        ++index;
    }
    if (index == kMaxMappingEntries)
        err << kPrefix << "stopped after " << kMaxMappingEntries << " mappings\n";
    out << (line.json ? ListJson(report) : ListText(report));
    return kExitOk;
}

int Add(const cCommandLine& line, cUPnP& gateway, std::ostream& out, std::ostream& err) {
    cPortInput input = line.addInput;
    if (!line.clientGiven && !gateway.GetLocalAddress(input.internalClient)) {
        err << kPrefix << "this host's address is unknown; give CLIENT\n";
        return kExitUsage;
    }
    cUPnP::cEntry entry;
    if (!ValidatePortInput(input, entry)) {
        err << kPrefix << "invalid port mapping\n";
        return kExitUsage;
    }
    if (!gateway.AddPortMapping(entry)) {
        err << kPrefix << "the gateway refused " << Describe(entry) << "\n";
        return kExitFailed;
    }
    out << "added " << Describe(entry) << " -> " << PrintableText(entry.internalClient) << ":"
        << entry.internalPort << "\n";
    return kExitOk;
}

int Delete(const cCommandLine& line, cUPnP& gateway, std::ostream& err) {
    int status = kExitOk;
    for (const cUPnP::cEntry& entry : line.deletions) {
        if (!gateway.DeletePortMapping(entry)) {
            err << kPrefix << "the gateway did not delete " << Describe(entry) << "\n";
            status = kExitFailed;
        }
    }
    return status;
}

int ExternalIp(const cCommandLine& line, cUPnP& gateway, std::ostream& out, std::ostream& err) {
    std::string address;
    if (!gateway.GetExternalAddress(address)) {
        err << kPrefix << "the gateway did not tell its external address\n";
        return kExitFailed;
    }
    out << (line.json ? ExternalAddressJson(address) : PrintableText(address) + "\n");
    return kExitOk;
}

} // namespace

int RunCommand(const cCommandLine& line, cUPnP& gateway, std::ostream& out, std::ostream& err) {
    if (!gateway.Discover(line.timeoutMs)) {
        err << kPrefix << "no UPnP gateway found\n";
        return kExitNoGateway;
    }
    switch (line.command) {
    case eCommand::List:
        return List(line, gateway, out, err);
    case eCommand::Add:
        return Add(line, gateway, out, err);
    case eCommand::Delete:
        return Delete(line, gateway, err);
    case eCommand::ExternalIp:
        return ExternalIp(line, gateway, out, err);
    case eCommand::Help:
    case eCommand::Version:
        break;
    }
    return kExitUsage;
}
