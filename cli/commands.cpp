#include "cli/commands.h"

#include <sstream>
#include <string>
#include <vector>

#include "cli/discovery_commands.h"
#include "cli/remembered_gateway.h"
#include "cli/keep_command.h"
#include "cli/report.h"
#include "net/interfaces.h"
#include "net/socket.h"
#include "mapping/external_address.h"
#include "support/text.h"
#include "upnp/fault.h"
#include "upnp/mapping_gateway.h"
#include "upnp/gateway_status.h"
#include "upnp/port_listing.h"

namespace {

constexpr const char* kPrefix = "wendrel-cli: ";

std::string Describe(const std::string& protocol, int externalPort) {
    return protocol + " " + DecimalText(externalPort);
}

void Warn(std::ostream& err, const std::vector<std::string>& warnings) {
    for (const std::string& warning : warnings)
        err << kPrefix << "warning: " << PrintableText(warning) << "\n";
}

// Mappings on a gateway whose own external address is not public lead to
// another NAT, not to the Internet.
void WarnAboutExternalAddress(const std::string& address, std::ostream& err) {
    const eExternalAddressKind kind = ClassifyExternalAddress(address);
    if (kind == eExternalAddressKind::kPublic)
        return;
    err << kPrefix;
    if (kind == eExternalAddressKind::kNone)
        err << "the gateway has no usable external address";
    else
        err << "the gateway's external address " << PrintableText(address) << " is "
            << ExternalAddressKindName(kind);
    err << ": mappings on this gateway will not be reachable from the Internet (another NAT is "
           "in front: double NAT or carrier-grade NAT)\n";
}

// A failure after discovery: one line on stderr, and with --json the error
// object on stdout.
int Fail(const cCommandLine& line, const std::string& what, const cFailure& failure,
         std::ostream& out, std::ostream& err, const cMapping* owner = nullptr) {
    err << kPrefix << what << ": " << FailureText(failure);
    if (owner)
        err << "; held by " << HolderText(*owner);
    err << "\n";
    if (line.json)
        out << ErrorJson(failure, owner);
    return kExitFailed;
}

int List(const cCommandLine& line, cUPnP& gateway, std::ostream& out, std::ostream& err) {
    cGatewayReport report;
    report.modelName = gateway.GetModelName();
    if (gateway.GetExternalAddress(report.externalAddress))
        WarnAboutExternalAddress(report.externalAddress, err);
    else
        err << kPrefix << "the gateway did not tell its external address: "
            << FailureText(gateway.GetLastFailure()) << "\n";
    if (!gateway.GetLocalAddress(report.localAddress))
        err << kPrefix << "this host's address is unknown\n";
    // A version 2 gateway gives the table in a few bulk requests; anything
    // else, or any trouble with those, and the table is walked index by index.
    int index = 0;
    if (!ListInBulk(gateway, kMaxMappingEntries, report.mappings)) {
        cListedMapping listed;
        for (; index < kMaxMappingEntries; ++index) {
            if (!gateway.GetPortMappingEntryWithLease(index, listed.entry, listed.leaseSeconds)) {
                // The end of the table is an index the gateway refuses as invalid.
                const cFailure& failure = gateway.GetLastFailure();
                if (failure.code != kUpnpArrayIndexInvalid)
                    err << kPrefix << "the listing stopped at index " << index << ": "
                        << FailureText(failure) << "\n";
                break;
            }
            if (listed.entry.protocol.empty() || listed.entry.externalPort == 0) {
                err << kPrefix << "warning: skipped index " << index
                    << ": the gateway's answer could not be read (no protocol or external "
                       "port)\n";
                continue;
            }
            report.mappings.push_back(listed);
        }
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
    cUPnPMappingGateway mappings(gateway);
    cAddResult result;
    cMapping wanted = ToMapping(entry, line.leaseSeconds);
    const std::string described = Describe(entry.protocol, entry.externalPort);
    if (!mappings.Add(wanted, result)) {
        Warn(err, result.warnings);
        const cFailure& failure = mappings.LastFailure();
        const std::string what =
            failure.code ? "the gateway refused " + described : "could not add " + described;
        return Fail(line, what, failure, out, err, result.ownerKnown ? &result.owner : nullptr);
    }
    Warn(err, result.warnings);
    if (line.json) {
        out << AddedJson(result);
        return kExitOk;
    }
    out << "added " << described << " -> " << PrintableText(result.kept.internalClient) << ":"
        << result.kept.internalPort;
    if (result.kept.leaseSeconds > 0)
        out << ", lease " << result.kept.leaseSeconds << " s";
    out << "\n";
    return kExitOk;
}

int Delete(const cCommandLine& line, cUPnP& gateway, std::ostream& out, std::ostream& err) {
    cUPnPMappingGateway mappings(gateway);
    std::vector<cDeletion> deletions;
    int status = kExitOk;
    for (const cUPnP::cEntry& entry : line.deletions) {
        cDeletion deletion{entry.protocol, entry.externalPort, cFailure()};
        if (!mappings.Delete(entry.protocol, entry.externalPort)) {
            deletion.failure = mappings.LastFailure();
            err << kPrefix << "the gateway did not delete "
                << Describe(entry.protocol, entry.externalPort) << ": "
                << FailureText(deletion.failure) << "\n";
            status = kExitFailed;
        }
        deletions.push_back(deletion);
    }
    if (line.json)
        out << DeletedJson(deletions);
    return status;
}

int ExternalIp(const cCommandLine& line, cUPnP& gateway, std::ostream& out, std::ostream& err) {
    std::string address;
    if (!gateway.GetExternalAddress(address))
        return Fail(line, "the gateway did not tell its external address",
                    gateway.GetLastFailure(), out, err);
    WarnAboutExternalAddress(address, err);
    out << (line.json ? ExternalAddressJson(address) : PrintableText(address) + "\n");
    return kExitOk;
}

// The address of the interface --interface names (0 without one); false, with
// a message, when this host has no such interface.
bool ChooseInterface(const cCommandLine& line, std::uint32_t& onlyLocal, std::ostream& err) {
    onlyLocal = 0;
    if (line.interfaceName.empty())
        return true;
    cLocalInterface chosen;
    if (!FindLocalInterface(line.interfaceName, chosen)) {
        err << kPrefix << "no such interface: " << PrintableText(line.interfaceName) << "\n";
        return false;
    }
    onlyLocal = chosen.address;
    return true;
}

// The gateway named with --gateway, else the remembered one when it still
// answers as itself, else the first one a search finds. Returns an exit
// status: kExitOk when there is a gateway to talk to.
int FindGateway(const cCommandLine& line, cUPnP& gateway, std::ostream& err) {
    if (!line.gatewayUrl.empty()) {
        if (gateway.UseGateway(line.gatewayUrl, "", kHttpTimeoutMs, kHttpDeadlineMs))
            return kExitOk;
        err << kPrefix << "no usable gateway description at " << PrintableText(line.gatewayUrl)
            << "\n";
        return kExitNoGateway;
    }
    std::uint32_t onlyLocal = 0;
    if (!ChooseInterface(line, onlyLocal, err))
        return kExitUsage;
    gateway.SetSearchInterface(onlyLocal);
    const bool remember = line.interfaceName.empty();
    if (remember && !line.rediscover && UseRememberedGateway(line.rememberedPath, gateway))
        return kExitOk;
    if (!gateway.Discover(line.timeoutMs)) {
        err << kPrefix << "no UPnP gateway found\n";
        return kExitNoGateway;
    }
    if (remember)
        RememberGateway(line.rememberedPath, gateway);
    return kExitOk;
}

} // namespace

namespace {

int RunUpnpCommand(const cCommandLine& line, cUPnP& gateway, std::ostream& out,
                   std::ostream& err, bool found);

} // namespace

int RunCommand(const cCommandLine& line, cUPnP& gateway, std::ostream& out, std::ostream& err,
               const cPcpSettings* pcp) {
    // keep searches by itself, after reading its file, and again whenever the gateway is lost.
    if (line.command == eCommand::Keep)
        return RunKeep(line, gateway, pcp, err);
    if (line.command == eCommand::Gateways || line.command == eCommand::Doctor) {
        std::uint32_t onlyLocal = 0;
        if (!ChooseInterface(line, onlyLocal, err))
            return kExitUsage;
        return line.command == eCommand::Gateways ? ListGateways(line, onlyLocal, out, err)
                                                  : Diagnose(line, onlyLocal, pcp, out, err);
    }
    // Every JSON object names the protocol that produced it.
    std::ostringstream json;
    std::ostream& sink = line.json ? json : out;
    int status = kExitNoGateway;
    const char* protocol = "upnp";
    eProtocolFound chosen = eProtocolFound::kUpnp;
    // Whether auto has found (or re-used) the UPnP gateway already.
    bool upnpFound = false;
    if (line.protocol == eProtocolChoice::kPcp) {
        chosen = eProtocolFound::kPcp;
    } else if (line.protocol == eProtocolChoice::kNatPmp) {
        chosen = eProtocolFound::kNatPmp;
    } else if (line.protocol == eProtocolChoice::kAuto && pcp && line.gatewayUrl.empty()) {
        if (line.interfaceName.empty() && !line.rediscover &&
            UseRememberedGateway(line.rememberedPath, gateway)) {
            upnpFound = true;
        } else {
            std::uint32_t onlyLocal = 0;
            if (!ChooseInterface(line, onlyLocal, err))
                return kExitUsage;
            chosen = DetectProtocol(line, gateway, *pcp, onlyLocal, err);
            upnpFound = chosen == eProtocolFound::kUpnp;
        }
    }
    if (chosen == eProtocolFound::kPcp || chosen == eProtocolFound::kNatPmp) {
        protocol = chosen == eProtocolFound::kPcp ? "pcp" : "natpmp";
        if (!pcp) {
            err << kPrefix << "PCP and NAT-PMP are not available here\n";
            return kExitUsage;
        }
        status = RunPcpCommand(line, chosen == eProtocolFound::kNatPmp, *pcp, sink, err);
    } else if (chosen == eProtocolFound::kUpnp) {
        status = RunUpnpCommand(line, gateway, sink, err, upnpFound);
    }
    if (line.json && !json.str().empty())
        out << WithProtocol(json.str(), protocol);
    return status;
}

namespace {

int RunUpnpCommand(const cCommandLine& line, cUPnP& gateway, std::ostream& out,
                   std::ostream& err, bool alreadyFound) {
    const int found = alreadyFound ? kExitOk : FindGateway(line, gateway, err);
    if (found != kExitOk)
        return found;
    switch (line.command) {
    case eCommand::List:
        return List(line, gateway, out, err);
    case eCommand::Add:
        return Add(line, gateway, out, err);
    case eCommand::Delete:
        return Delete(line, gateway, out, err);
    case eCommand::ExternalIp:
        return ExternalIp(line, gateway, out, err);
    case eCommand::Status:
        out << (line.json ? StatusJson(ReadGatewayStatus(gateway))
                          : StatusText(ReadGatewayStatus(gateway)));
        return kExitOk;
    case eCommand::Gateways:
    case eCommand::Doctor:
    case eCommand::Keep:
    case eCommand::Help:
    case eCommand::Version:
        break;
    }
    return kExitUsage;
}

} // namespace
