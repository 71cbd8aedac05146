#include "cli/commands.h"

#include <sstream>
#include <string>
#include <vector>

#include "cli/discovery_commands.h"
#include "cli/remembered_gateway.h"
#include "cli/keep_command.h"
#include "cli/pinhole_command.h"
#include "cli/report.h"
#include "net/interfaces.h"
#include "net/socket.h"
#include "mapping/external_address.h"
#include "mapping/port_range.h"
#include "support/text.h"
#include "upnp/fault.h"
#include "upnp/mapping_gateway.h"
#include "upnp/gateway_status.h"
#include "upnp/port_listing.h"
#include "upnp/range_delete.h"

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

std::string Target(const cMapping& mapping) {
    return PrintableText(mapping.internalClient) + ":" + DecimalText(mapping.internalPort);
}

// The mapping an add took the place of: a gateway replaces its client's own
// mapping of the port without a word.
void SayReplaced(const cAddResult& result, std::ostream& out) {
    if (!result.replaced)
        return;
    const cMapping& previous = result.previous;
    out << "replaced this client's earlier mapping "
        << Describe(previous.protocol, previous.externalPort) << " -> " << Target(previous);
    if (!previous.description.empty())
        out << " \"" << PrintableText(previous.description) << "\"";
    if (previous.leaseSeconds > 0)
        out << ", lease " << previous.leaseSeconds << " s left";
    out << "\n";
}

void SayLease(const cMapping& kept, std::ostream& out) {
    if (kept.leaseSeconds > 0)
        out << ", lease " << kept.leaseSeconds << " s";
    out << "\n";
}

int AddRangeOf(const cCommandLine& line, cUPnPMappingGateway& mappings, const cMapping& wanted,
               std::ostream& out, std::ostream& err) {
    cRangeAdd range;
    const int lastPort = wanted.externalPort + line.addCount - 1;
    const std::string described =
        Describe(wanted.protocol, wanted.externalPort) + "-" + DecimalText(lastPort);
    mappings.LookAheadOver(wanted.protocol, wanted.externalPort, lastPort);
    if (!AddRange(mappings, wanted, line.addCount, range)) {
        Warn(err, range.refusal.warnings);
        const cFailure& failure = range.failure;
        const std::string port = Describe(wanted.protocol, range.failedPort);
        err << kPrefix << (failure.code ? "the gateway refused " + port : "could not add " + port)
            << ": " << FailureText(failure);
        if (range.refusal.ownerKnown)
            err << "; held by " << HolderText(range.refusal.owner);
        err << "\n";
        if (!range.added.empty())
            err << kPrefix << "took back " << range.added.size() << " port(s) of " << described
                << " added by this run\n";
        Warn(err, range.warnings);
        if (line.json)
            out << RangeErrorJson(range);
        return kExitFailed;
    }
    for (const cAddResult& result : range.added)
        Warn(err, result.warnings);
    if (line.json) {
        out << AddedRangeJson(range);
        return kExitOk;
    }
    const cMapping& first = range.added.front().kept;
    out << "added " << described << " -> " << PrintableText(first.internalClient) << ":"
        << first.internalPort << "-" << range.added.back().kept.internalPort;
    SayLease(first, out);
    for (const cAddResult& result : range.added)
        SayReplaced(result, out);
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
    cMapping wanted = ToMapping(entry, line.leaseSeconds);
    if (line.addCount > 1)
        return AddRangeOf(line, mappings, wanted, out, err);
    cAddResult result;
    const std::string described = Describe(entry.protocol, entry.externalPort);
    const bool added =
        line.anyPort ? mappings.AddAnyPort(wanted, result) : mappings.Add(wanted, result);
    if (!added) {
        Warn(err, result.warnings);
        const cFailure& failure = mappings.LastFailure();
        const std::string what =
            failure.code ? "the gateway refused " + described : "could not add " + described;
        return Fail(line, what, failure, out, err, result.ownerKnown ? &result.owner : nullptr);
    }
    Warn(err, result.warnings);
    if (line.json) {
        out << AddedJson(result, line.anyPort ? entry.externalPort : 0);
        return kExitOk;
    }
    out << "added " << Describe(result.kept.protocol, result.kept.externalPort) << " -> "
        << Target(result.kept);
    if (result.kept.externalPort != entry.externalPort)
        out << " (" << entry.externalPort << " is taken; the gateway granted "
            << result.kept.externalPort << ")";
    SayLease(result.kept, out);
    SayReplaced(result, out);
    return kExitOk;
}

void SayNotDeleted(const std::string& protocol, int externalPort, const cFailure& failure,
                   std::ostream& err) {
    err << kPrefix << "the gateway did not delete " << Describe(protocol, externalPort) << ": "
        << FailureText(failure) << "\n";
}

// A range: this host's mappings in it, never another host's.
void DeleteRange(const cPortSpan& span, cUPnP& gateway, std::vector<cDeletion>& deletions,
                 std::ostream& err) {
    const std::string described =
        Describe(span.protocol, span.externalPort) + "-" + DecimalText(span.lastPort);
    cRangeDelete range;
    cFailure failure;
    if (!DeleteOwnInRange(gateway, span.protocol, span.externalPort, span.lastPort, range,
                          failure)) {
        err << kPrefix << "did not delete " << described << ": " << FailureText(failure) << "\n";
        deletions.push_back({span.protocol, span.externalPort, failure, span.lastPort});
        return;
    }
    for (const cRangeDeletion& port : range.ports) {
        if (port.failure.IsSet())
            SayNotDeleted(span.protocol, port.externalPort, port.failure, err);
        deletions.push_back({span.protocol, port.externalPort, port.failure, 0});
    }
    if (range.ports.empty())
        err << kPrefix << "this host has no mappings in " << described << "\n";
    if (range.othersKept)
        err << kPrefix << "left " << range.othersKept << " mapping(s) of other hosts in "
            << described << " alone\n";
}

int Delete(const cCommandLine& line, cUPnP& gateway, std::ostream& out, std::ostream& err) {
    cUPnPMappingGateway mappings(gateway);
    std::vector<cDeletion> deletions;
    for (const cPortSpan& span : line.deletions) {
        if (span.lastPort != span.externalPort) {
            DeleteRange(span, gateway, deletions, err);
            continue;
        }
        cDeletion deletion{span.protocol, span.externalPort, cFailure(), 0};
        if (!mappings.Delete(span.protocol, span.externalPort)) {
            deletion.failure = mappings.LastFailure();
            SayNotDeleted(span.protocol, span.externalPort, deletion.failure, err);
        }
        deletions.push_back(deletion);
    }
    int status = kExitOk;
    for (const cDeletion& deletion : deletions)
        if (deletion.failure.IsSet())
            status = kExitFailed;
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
    // Pinholes travel over IPv6, apart from the IPv4 gateway and its memory.
    if (line.command == eCommand::Pinhole) {
        cPinholeGateway pinholes;
        return RunPinhole(line, pinholes, out, err);
    }
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
    case eCommand::Pinhole:
    case eCommand::Help:
    case eCommand::Version:
        break;
    }
    return kExitUsage;
}

} // namespace
