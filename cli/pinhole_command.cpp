#include "cli/pinhole_command.h"

#include <sstream>
#include <string>

#include "cli/protocol_commands.h"
#include "cli/report.h"
#include "support/text.h"
#include "upnp/fault.h"

namespace {

constexpr const char* kPrefix = "wendrel-cli: ";

const char* ActionName(ePinholeAction action) {
    switch (action) {
    case ePinholeAction::kAdd: return "add";
    case ePinholeAction::kDelete: return "delete";
    case ePinholeAction::kUpdate: return "update";
    case ePinholeAction::kCheck: return "check";
    }
    return "";
}

// A refusal on stderr, and with --json the error object on stdout.
int Fail(const cCommandLine& line, const std::string& what, const cFailure& failure,
         std::ostream& out, std::ostream& err) {
    err << kPrefix << what << ": " << FailureText(failure);
    // UniqueID is the only argument of these: miniupnpd answers 402 for an
    // ID it does not know.
    if (line.pinhole.action != ePinholeAction::kAdd &&
        (failure.code == kUpnpInvalidArgs || failure.code == kUpnpNoSuchPinhole))
        err << " (is there a pinhole with ID " << line.pinhole.uniqueId << "?)";
    err << "\n";
    if (line.json)
        out << ErrorJson(failure);
    return kExitFailed;
}

// Says why no gateway can take the request; returns the exit status.
int ExplainNotFound(cPinholes::eFound found, const cPinholeFound& details, std::ostream& err) {
    switch (found) {
    case cPinholes::kNoAddress:
        err << kPrefix
            << "this host has no global or unique-local IPv6 address: pinholes need IPv6 "
               "toward the gateway\n";
        return kExitNoGateway;
    case cPinholes::kNoAnswer:
        err << kPrefix << "no UPnP gateway answered over IPv6";
        if (!details.problem.empty())
            err << " (one answered, but " << PrintableText(details.problem) << ")";
        err << "\n";
        return kExitNoGateway;
    case cPinholes::kNoFirewall:
        err << kPrefix << "the gateway cannot open pinholes: "
            << PrintableText(details.problem) << "\n";
        return kExitFailed;
    case cPinholes::kFound:
        break;
    }
    return kExitOk;
}

// GetFirewallStatus before any action: a disabled firewall or a refusal of
// inbound pinholes is explained rather than left to a bare error code.
bool FirewallAllows(const cCommandLine& line, cPinholes& gateway, std::ostream& out,
                    std::ostream& err, int& status) {
    bool enabled = true, inboundAllowed = true;
    if (!gateway.GetFirewallStatus(enabled, inboundAllowed)) {
        err << kPrefix << "warning: the gateway did not tell its firewall's status: "
            << FailureText(gateway.LastFailure()) << "\n";
        return true;
    }
    const ePinholeAction action = line.pinhole.action;
    if (!enabled) {
        err << kPrefix
            << "the gateway's IPv6 firewall is disabled: it lets inbound IPv6 through "
               "already and keeps no pinholes\n";
        status = Fail(line, "cannot " + std::string(ActionName(action)) + " a pinhole",
                      UpnpFailure(kUpnpFirewallDisabled, ""), out, err);
        return false;
    }
    if (!inboundAllowed &&
        (action == ePinholeAction::kAdd || action == ePinholeAction::kUpdate)) {
        err << kPrefix
            << "the gateway does not allow inbound pinholes (its firewall setting, not "
               "this request)\n";
        status = Fail(line, "cannot " + std::string(ActionName(action)) + " a pinhole",
                      UpnpFailure(kUpnpInboundPinholeNotAllowed, ""), out, err);
        return false;
    }
    return true;
}

int Add(const cCommandLine& line, cPinholes& gateway, const cPinholeFound& found,
        std::ostream& out, std::ostream& err) {
    cPinhole pinhole = line.pinhole.pinhole;
    if (pinhole.internalClient.empty())
        pinhole.internalClient = found.localAddress;
    std::string uniqueId;
    if (!gateway.Add(pinhole, uniqueId)) {
        const cFailure& failure = gateway.LastFailure();
        return Fail(line,
                    (failure.code ? "the gateway refused the pinhole to " : "could not open a pinhole to ") +
                        pinhole.internalClient + " " + pinhole.protocol + " " +
                        DecimalText(pinhole.internalPort),
                    failure, out, err);
    }
    if (line.json)
        out << PinholeAddedJson(uniqueId, pinhole);
    else
        out << uniqueId << "\n";
    return kExitOk;
}

int Check(const cCommandLine& line, cPinholes& gateway, std::ostream& out, std::ostream& err) {
    const std::string& id = line.pinhole.uniqueId;
    const ePinholeCheck check = gateway.Check(id);
    if (check == ePinholeCheck::kFailed)
        return Fail(line, "the gateway did not check pinhole " + id, gateway.LastFailure(), out,
                    err);
    std::string packets;
    if (!gateway.GetPackets(id, packets))
        err << kPrefix << "warning: the gateway did not count the pinhole's packets: "
            << FailureText(gateway.LastFailure()) << "\n";
    if (line.json) {
        out << PinholeCheckJson(id, check, packets);
        return kExitOk;
    }
    switch (check) {
    case ePinholeCheck::kWorking: out << "pinhole " << id << " works: traffic has passed it"; break;
    case ePinholeCheck::kNotWorking: out << "pinhole " << id << " is not working"; break;
    default: out << "pinhole " << id << " is open; no packet has come through it yet"; break;
    }
    if (!packets.empty())
        out << " (" << packets << " packets)";
    out << "\n";
    return kExitOk;
}

int RunFound(const cCommandLine& line, cPinholes& gateway, const cPinholeFound& found,
             std::ostream& out, std::ostream& err) {
    int status = kExitOk;
    if (!FirewallAllows(line, gateway, out, err, status))
        return status;
    const std::string& id = line.pinhole.uniqueId;
    switch (line.pinhole.action) {
    case ePinholeAction::kAdd:
        return Add(line, gateway, found, out, err);
    case ePinholeAction::kDelete:
        if (!gateway.Delete(id))
            return Fail(line, "the gateway did not delete pinhole " + id, gateway.LastFailure(),
                        out, err);
        out << (line.json ? PinholeDeletedJson(id) : "deleted pinhole " + id + "\n");
        return kExitOk;
    case ePinholeAction::kUpdate: {
        const int lease = line.pinhole.pinhole.leaseSeconds;
        if (!gateway.Update(id, lease))
            return Fail(line, "the gateway did not renew pinhole " + id, gateway.LastFailure(),
                        out, err);
        out << (line.json ? PinholeUpdatedJson(id, lease)
                          : "renewed pinhole " + id + ", lease " + DecimalText(lease) + " s\n");
        return kExitOk;
    }
    case ePinholeAction::kCheck:
        return Check(line, gateway, out, err);
    }
    return kExitUsage;
}

} // namespace

int RunPinhole(const cCommandLine& line, cPinholes& gateway, std::ostream& out,
               std::ostream& err) {
    cPinholeFound found;
    const cPinholes::eFound result = gateway.Discover(line.timeoutMs, line.interfaceName, found);
    if (result != cPinholes::kFound)
        return ExplainNotFound(result, found, err);
    std::ostringstream json;
    const int status = RunFound(line, gateway, found, line.json ? json : out, err);
    if (line.json && !json.str().empty())
        out << WithProtocol(json.str(), "upnp");
    return status;
}
