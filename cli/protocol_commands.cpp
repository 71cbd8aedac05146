#include "cli/protocol_commands.h"

#include <chrono>
#include <ctime>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/port_input.h"
#include "cli/remembered_gateway.h"
#include "cli/report.h"
#include "mapping/external_address.h"
#include "net/http.h"
#include "net/interfaces.h"
#include "net/socket.h"
#include "net/socket_wait.h"
#include "net/ssdp.h"
#include "net/url.h"
#include "pcp/client.h"
#include "pcp/mapping_gateway.h"
#include "pcp/mapping_store.h"
#include "pcp/result_code.h"
#include "support/text.h"
#include "support/text_encoding.h"
#include "upnp/discovery.h"
#include "upnp/mapping_gateway.h"

namespace {

using cClock = std::chrono::steady_clock;
using cJson = nlohmann::ordered_json;

// Once poll says the search's socket is readable, cSSDP reads for at most
// this long (a bound below 2 ms can round to no read at all).
constexpr int kAutoSsdpReadMs = 10;

constexpr const char* kPrefix = "wendrel-cli: ";
bool ResolveServer(const cPcpSettings& settings, std::string& server) {
    server = settings.server;
    return !server.empty() || GetDefaultGateway(server);
}

bool ResolveLocal(const cPcpSettings& settings, const std::string& server, std::string& local) {
    local = settings.localAddress;
    return !local.empty() || GetSourceAddressTowards(server, local);
}

const char* DialectLabel(bool natPmp) {
    return natPmp ? "NAT-PMP" : "PCP";
}

int Fail(const cCommandLine& line, const std::string& what, const cFailure& failure,
         std::ostream& out, std::ostream& err) {
    err << kPrefix << what << ": " << FailureText(failure) << "\n";
    if (line.json)
        out << ErrorJson(failure);
    return kExitFailed;
}

std::string Dump(const cJson& json) {
    return json.dump(2, ' ', false, cJson::error_handler_t::replace) + "\n";
}

void Warn(std::ostream& err, const std::vector<std::string>& warnings) {
    for (const std::string& warning : warnings)
        err << kPrefix << "warning: " << PrintableText(warning) << "\n";
}

int ExternalIp(const cCommandLine& line, cPcpMappingGateway& gateway, std::ostream& out,
               std::ostream& err) {
    std::string address;
    if (!gateway.GetExternalAddress(address))
        return Fail(line, "the gateway did not tell its external address", gateway.LastFailure(),
                    out, err);
    out << (line.json ? ExternalAddressJson(address) : address + "\n");
    return kExitOk;
}

int Add(const cCommandLine& line, cPcpMappingGateway& gateway, const std::string& local,
        std::ostream& out, std::ostream& err) {
    if (line.addCount > 1) {
        err << kPrefix << "PCP and NAT-PMP map one port at a time: give one port, not a range\n";
        return kExitUsage;
    }
    // --any-port asks for nothing more: these gateways grant another port by themselves.
    cPortInput input = line.addInput;
    if (!line.clientGiven)
        input.internalClient = local;
    if (input.internalClient != local) {
        err << kPrefix << DialectLabel(gateway.Dialect() == ePcpDialect::kNatPmp)
            << " maps ports only to the host that asks: CLIENT must be this host ("
            << PrintableText(local) << "), not " << PrintableText(input.internalClient) << "\n";
        return kExitUsage;
    }
    cUPnP::cEntry entry;
    if (!ValidatePortInput(input, entry)) {
        err << kPrefix << "invalid port mapping\n";
        return kExitUsage;
    }
    cMapping wanted =
        ToMapping(entry, line.leaseGiven ? line.leaseSeconds : kPcpDefaultLeaseSeconds);
    cAddResult result;
    const std::string described = entry.protocol + " " + DecimalText(entry.externalPort);
    if (!gateway.Add(wanted, result)) {
        Warn(err, result.warnings);
        const cFailure& failure = gateway.LastFailure();
        return Fail(
            line, failure.code ? "the gateway refused " + described : "could not add " + described,
            failure, out, err);
    }
    Warn(err, result.warnings);
    if (line.json) {
        out << AddedJson(result);
        return kExitOk;
    }
    out << "added " << result.kept.protocol << " " << result.kept.externalPort << " -> "
        << result.kept.internalClient << ":" << result.kept.internalPort << ", lease "
        << result.kept.leaseSeconds << " s\n";
    return kExitOk;
}

int Delete(const cCommandLine& line, cPcpMappingGateway& gateway, std::ostream& out,
           std::ostream& err) {
    for (const cPortSpan& entry : line.deletions)
        if (entry.lastPort != entry.externalPort) {
            err << kPrefix
                << "PCP and NAT-PMP delete one port at a time: give ports, not a range\n";
            return kExitUsage;
        }
    std::vector<cDeletion> deletions;
    int status = kExitOk;
    for (const cPortSpan& entry : line.deletions) {
        cDeletion deletion{entry.protocol, entry.externalPort, cFailure(), 0};
        if (!gateway.Delete(entry.protocol, entry.externalPort)) {
            deletion.failure = gateway.LastFailure();
            err << kPrefix << "the gateway did not delete " << entry.protocol << " "
                << entry.externalPort << ": " << FailureText(deletion.failure) << "\n";
            status = kExitFailed;
        }
        deletions.push_back(deletion);
    }
    if (line.json)
        out << DeletedJson(deletions);
    return status;
}

// The gateway cannot be asked for its table: the external address, then what
// this host made there and still remembers.
int List(const cCommandLine& line, cPcpMappingGateway& gateway, const cMappingStore& store,
         const std::string& server, const std::string& local, std::ostream& out,
         std::ostream& err) {
    const bool natPmp = gateway.Dialect() == ePcpDialect::kNatPmp;
    cGatewayReport report;
    report.modelName = std::string(DialectLabel(natPmp)) + " gateway " + server;
    report.localAddress = local;
    // Without an answer there may be no gateway at all: the cache is still shown.
    const bool answered = gateway.GetExternalAddress(report.externalAddress);
    if (!answered)
        err << kPrefix << "the gateway did not tell its external address: "
            << FailureText(gateway.LastFailure()) << "\n";
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    for (const cStoredMapping& stored : store.All()) {
        if (stored.dialect != gateway.DialectName() || stored.gateway != server ||
            stored.expires <= now)
            continue;
        cListedMapping listed;
        listed.entry = cUPnP::cEntry{true, stored.externalPort, stored.internalPort,
                                     stored.protocol, local, stored.description};
        listed.leaseSeconds = static_cast<int>(stored.expires - now);
        report.mappings.push_back(listed);
    }
    err << kPrefix << DialectLabel(natPmp)
        << " cannot list a gateway's mappings: shown are only those this host made, as its "
           "cache remembers them\n";
    if (!line.json) {
        out << ListText(report);
        if (!report.mappings.empty())
            out << "(from this host's cache: mappings made by other hosts, or by this host "
                   "without the cache, are not shown)\n";
        return answered ? kExitOk : kExitFailed;
    }
    cJson json = cJson::parse(ListJson(report));
    for (cJson& mapping : json["mappings"])
        mapping["source"] = "cache";
    json["mappingsFrom"] = "cache";
    out << Dump(json);
    return answered ? kExitOk : kExitFailed;
}

} // namespace

eProtocolFound DetectProtocol(const cCommandLine& line, cUPnP& gateway,
                              const cPcpSettings& settings, std::uint32_t onlyLocal,
                              std::ostream& err) {
    const cClock::time_point start = cClock::now();
    cClock::time_point end = start + std::chrono::milliseconds(line.timeoutMs);

    cPcpClient client;
    cMappingStore store("");
    std::string server, local;
    bool pcpAsking = ResolveServer(settings, server) && ResolveLocal(settings, server, local) &&
                     client.Open(server, settings.port);
    cPcpMappingGateway probe(client, ePcpDialect::kPcp, local, store, line.timeoutMs);
    pcpAsking = pcpAsking && probe.StartExternalAddress();

    cSSDP ssdp;
    bool searching = ssdp.Open();
    if (searching) {
        ssdp.RestrictTo(onlyLocal);
        searching = SearchConnectionServices(ssdp) == 2;
    }
    bool repeated = false;
    eProtocolFound pcpFound = eProtocolFound::kNone;
    // One wait over both sockets: whichever answers first is handled first.
    while ((searching || pcpAsking) && cClock::now() < end) {
        const cClock::time_point now = cClock::now();
        cClock::time_point wake = end;
        if (searching && !repeated)
            wake = std::min(wake, start + std::chrono::milliseconds(kSsdpRepeatMs));
        if (pcpAsking)
            wake = std::min(wake, now + std::chrono::milliseconds(client.MsUntilDue()));
        const int waitMs = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count());
        const std::uint32_t ready = WaitForAnySocket(
            {searching ? &ssdp.Socket() : nullptr, pcpAsking ? &client.Socket() : nullptr},
            std::max(waitMs, 0));
        if ((ready & 1) && ssdp.ReceiveWithin(kAutoSsdpReadMs)) {
            cHttpUrl described;
            // As cUPnP::Discover: the description must come from the device that answered.
            if (ParseHttpUrl(ssdp.location, described) && described.host == ssdp.sender &&
                gateway.UseGateway(ssdp.location, ssdp.st, kHttpTimeoutMs, kHttpDeadlineMs)) {
                if (line.interfaceName.empty())
                    RememberGateway(line.rememberedPath, gateway);
                return eProtocolFound::kUpnp;
            }
        }
        if (searching && !repeated &&
            cClock::now() - start >= std::chrono::milliseconds(kSsdpRepeatMs)) {
            // Sent twice, as Discover does: Wi-Fi loses single datagrams.
            repeated = true;
            SearchConnectionServices(ssdp);
        }
        // Also when nothing arrived: Poll resends when due and ends the budget.
        if (pcpAsking && client.Poll(0) != cPcpClient::kWaiting) {
            pcpAsking = false;
            if (client.State() == cPcpClient::kAnswered) {
                std::string address;
                probe.FinishExternalAddress(address);
                pcpFound =
                    probe.ServerSpeaksNatPmpOnly() ? eProtocolFound::kNatPmp : eProtocolFound::kPcp;
                // A PCP-only network must not cost the whole time-out.
                end = std::min(end, cClock::now() + std::chrono::milliseconds(kAutoPcpGraceMs));
            }
        }
    }
    if (pcpFound == eProtocolFound::kNone)
        err << kPrefix
            << "no UPnP gateway found, nor a PCP or NAT-PMP server at the default gateway\n";
    return pcpFound;
}

bool cPcpProbe::Start(const cPcpSettings& settings, int budgetMs) {
    report = cPcpProbeReport();
    report.port = settings.port;
    std::string local;
    if (!ResolveServer(settings, report.server) || !ResolveLocal(settings, report.server, local) ||
        !client.Open(report.server, settings.port))
        return false;
    gateway =
        std::make_unique<cPcpMappingGateway>(client, ePcpDialect::kPcp, local, store, budgetMs);
    report.asked = gateway->StartExternalAddress();
    return report.asked;
}

cPcpProbeReport cPcpProbe::Finish() {
    if (!report.asked)
        return report;
    std::string address;
    // A refusal is an answer too: the server is there.
    gateway->FinishExternalAddress(address);
    if (client.State() == cPcpClient::kAnswered) {
        report.found =
            gateway->ServerSpeaksNatPmpOnly() ? eProtocolFound::kNatPmp : eProtocolFound::kPcp;
        report.version = client.Answer().version;
    }
    return report;
}

int RunPcpCommand(const cCommandLine& line, bool natPmp, const cPcpSettings& settings,
                  std::ostream& out, std::ostream& err) {
    std::string server, local;
    if (!ResolveServer(settings, server)) {
        err << kPrefix << "no " << DialectLabel(natPmp)
            << " gateway: this host has no IPv4 default gateway\n";
        return kExitNoGateway;
    }
    cPcpClient client;
    if (!ResolveLocal(settings, server, local) || !client.Open(server, settings.port)) {
        err << kPrefix << "cannot reach the default gateway " << server << "\n";
        return kExitNoGateway;
    }
    cMappingStore store(settings.storePath);
    store.Load();
    cPcpMappingGateway gateway(client, natPmp ? ePcpDialect::kNatPmp : ePcpDialect::kPcp, local,
                               store, line.timeoutMs);
    int status = kExitUsage;
    switch (line.command) {
    case eCommand::List:
        status = List(line, gateway, store, server, local, out, err);
        break;
    case eCommand::Add:
        status = Add(line, gateway, local, out, err);
        break;
    case eCommand::Delete:
        status = Delete(line, gateway, out, err);
        break;
    case eCommand::ExternalIp:
        status = ExternalIp(line, gateway, out, err);
        break;
    default:
        err << kPrefix << "this command needs a UPnP gateway\n";
        break;
    }
    if (gateway.ServerSpeaksNatPmpOnly())
        err << kPrefix << "the gateway speaks NAT-PMP only: use --protocol natpmp (or auto)\n";
    // A silent gateway: nothing there speaks the protocol.
    if (status == kExitFailed && gateway.LastFailure().name == "Timeout" &&
        line.command != eCommand::Delete)
        status = kExitNoGateway;
    return status;
}

std::string WithProtocol(const std::string& json, const char* name) {
    cJson object = cJson::parse(json, nullptr, false);
    if (!object.is_object())
        return json;
    object["protocol"] = name;
    return Dump(object);
}
