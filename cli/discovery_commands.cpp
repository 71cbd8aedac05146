#include "cli/discovery_commands.h"

#include <string>

#include <nlohmann/json.hpp>

#include "mapping/external_address.h"
#include "net/interfaces.h"
#include "net/socket.h"
#include "support/text.h"
#include "support/text_encoding.h"
#include "upnp/discovery.h"

namespace {

using cJson = nlohmann::ordered_json;

constexpr int kJsonIndent = 2;

std::string Json(const std::string& text) {
    return NativeToUtf8(text);
}

std::string Dump(const cJson& json) {
    return json.dump(kJsonIndent, ' ', false, cJson::error_handler_t::replace) + "\n";
}

std::string Shown(const std::string& text) {
    return text.empty() ? "-" : PrintableText(text);
}

cJson GatewayJson(const cGatewayCandidate& gateway) {
    cJson json;
    json["interface"] = Json(gateway.interfaceName);
    json["localAddress"] = Json(gateway.localAddress);
    json["descriptionUrl"] = Json(gateway.descriptionUrl);
    json["modelName"] = Json(gateway.modelName);
    json["udn"] = Json(gateway.udn);
    json["serviceType"] = Json(gateway.serviceType);
    json["externalAddress"] = Json(gateway.externalAddress);
    return json;
}

// The default gateway (or the configured server) is reached through the
// interface that has `local`.
bool TowardsInterface(const cPcpSettings& pcp, std::uint32_t local) {
    std::string server = pcp.server, source;
    return (!server.empty() || GetDefaultGateway(server)) &&
           GetSourceAddressTowards(server, source) && source == AddressText(local);
}

bool AnyUsable(const cSearchReport& report) {
    for (const cGatewayCandidate& gateway : report.gateways)
        if (gateway.usable)
            return true;
    return false;
}

bool AnsweredFrom(const cSearchReport& report, const std::string& address) {
    for (const cSsdpAnswer& answer : report.answers)
        if (answer.sender == address)
            return true;
    return false;
}

// Whether the search went out through the interface toward this address.
bool SearchedToward(const cSearchReport& report, const std::string& address) {
    std::string local;
    if (!GetSourceAddressTowards(address, local))
        return false;
    for (const cSearchReport::cSent& sent : report.sent)
        if (sent.sent && AddressText(sent.via.address) == local)
            return true;
    return false;
}

const char* PcpProtocolName(eProtocolFound found) {
    return found == eProtocolFound::kNatPmp ? "natpmp" : "pcp";
}

std::string PcpLine(const cPcpProbeReport& probe) {
    if (!probe.asked)
        return "not asked (no default gateway on the searched network)";
    std::string line = probe.server + " port " + DecimalText(probe.port);
    if (probe.found == eProtocolFound::kNone)
        return line + " did not answer";
    return line + " answered: " + (probe.found == eProtocolFound::kNatPmp ? "NAT-PMP" : "PCP") +
           " version " + DecimalText(probe.version);
}

// One line with the next step to try; defaultGateway only when the search
// reached its network.
std::string Verdict(const cSearchReport& report, const std::string& defaultGateway,
                    const cPcpProbeReport& probe) {
    bool anySent = false;
    for (const cSearchReport::cSent& sent : report.sent)
        anySent = anySent || sent.sent;
    if (report.sent.empty())
        return "no IPv4 interface is up: connect this host to the router's network";
    if (!anySent)
        return "the search could not be sent on any interface: check this host's network "
               "settings and firewall";
    for (const cGatewayCandidate& gateway : report.gateways) {
        if (!gateway.usable)
            continue;
        const eExternalAddressKind kind = ClassifyExternalAddress(gateway.externalAddress);
        std::string verdict = "usable gateway: " + PrintableText(gateway.modelName) + " at " +
                              PrintableText(gateway.descriptionUrl);
        if (kind != eExternalAddressKind::kPublic)
            verdict += std::string("; its external address is ") +
                       ExternalAddressKindName(kind) +
                       ", so another NAT is in front and mappings will not be reachable from "
                       "the Internet";
        return verdict;
    }
    if (probe.found != eProtocolFound::kNone)
        return std::string("no usable UPnP gateway, but the default gateway ") + probe.server +
               " answers " + (probe.found == eProtocolFound::kNatPmp ? "NAT-PMP" : "PCP") +
               ": use --protocol " + PcpProtocolName(probe.found) + " (auto takes it too)";
    if (!report.gateways.empty())
        return "a device answered but offers no usable gateway (" +
               PrintableText(report.gateways.front().problem) +
               "): check the router's UPnP settings or its firmware";
    if (!report.answers.empty())
        return "devices answered, but none as an Internet gateway: turn on UPnP in the "
               "router's settings";
    if (!defaultGateway.empty())
        return "no device answered, not even the default gateway " + defaultGateway +
               ": turn on UPnP in the router's settings, or check that this host's firewall "
               "lets in UDP answers from port 1900";
    return "no device answered: turn on UPnP in the router's settings, or check that this "
           "host's firewall lets in UDP answers from port 1900";
}

} // namespace

int ListGateways(const cCommandLine& line, std::uint32_t onlyLocal, std::ostream& out,
                 std::ostream& err) {
    const cSearchReport report = SearchEveryGateway(line.timeoutMs, onlyLocal);
    cJson list = cJson::array();
    for (const cGatewayCandidate& gateway : report.gateways) {
        if (!gateway.usable) {
            err << "wendrel-cli: " << PrintableText(gateway.descriptionUrl)
                << " answered but is not usable: " << PrintableText(gateway.problem) << "\n";
            continue;
        }
        list.push_back(GatewayJson(gateway));
        if (!line.json)
            out << Shown(gateway.interfaceName) << "  " << Shown(gateway.localAddress) << "  "
                << Shown(gateway.descriptionUrl) << "\n"
                << "  Model:    " << Shown(gateway.modelName) << "\n"
                << "  UDN:      " << Shown(gateway.udn) << "\n"
                << "  Service:  " << Shown(gateway.serviceType) << "\n"
                << "  External: " << Shown(gateway.externalAddress) << "\n";
    }
    if (line.json) {
        cJson json;
        json["gateways"] = list;
        out << Dump(json);
    }
    if (list.empty()) {
        err << "wendrel-cli: no UPnP gateway found\n";
        return kExitNoGateway;
    }
    return kExitOk;
}

int Diagnose(const cCommandLine& line, std::uint32_t onlyLocal, const cPcpSettings* pcp,
             std::ostream& out, std::ostream&) {
    // Sent before the search and read after it: doctor takes no longer for it.
    // Only on the searched network, when --interface names one.
    cPcpProbe probe;
    if (pcp && (onlyLocal == 0 || TowardsInterface(*pcp, onlyLocal)))
        probe.Start(*pcp, line.timeoutMs);
    const cSearchReport report = SearchEveryGateway(line.timeoutMs, onlyLocal);
    const cPcpProbeReport pcpReport = probe.Finish();
    std::string defaultGateway;
    GetDefaultGateway(defaultGateway);
    const bool defaultSearched = !defaultGateway.empty() && SearchedToward(report, defaultGateway);
    const bool defaultAnswered = defaultSearched && AnsweredFrom(report, defaultGateway);
    const std::string verdict = Verdict(report, defaultSearched ? defaultGateway : "", pcpReport);
    const int status =
        AnyUsable(report) || pcpReport.found != eProtocolFound::kNone ? kExitOk : kExitNoGateway;

    if (line.json) {
        cJson json;
        cJson interfaces = cJson::array();
        for (const cSearchReport::cSent& sent : report.sent)
            interfaces.push_back({{"interface", Json(sent.via.name)},
                                  {"localAddress", AddressText(sent.via.address)},
                                  {"searchSent", sent.sent}});
        cJson answers = cJson::array();
        for (const cSsdpAnswer& answer : report.answers)
            answers.push_back({{"sender", answer.sender},
                               {"status", answer.status},
                               {"server", Json(answer.server)},
                               {"st", Json(answer.st)},
                               {"location", Json(answer.location)}});
        cJson gateways = cJson::array();
        for (const cGatewayCandidate& gateway : report.gateways) {
            cJson item = GatewayJson(gateway);
            item["sender"] = gateway.sender;
            item["usable"] = gateway.usable;
            item["problem"] = Json(gateway.problem);
            item["externalAddressKind"] =
                gateway.usable
                    ? ExternalAddressKindName(ClassifyExternalAddress(gateway.externalAddress))
                    : "none";
            gateways.push_back(item);
        }
        json["interfaces"] = interfaces;
        json["answers"] = answers;
        json["gateways"] = gateways;
        json["defaultGateway"] = defaultGateway.empty() ? cJson(nullptr) : cJson(defaultGateway);
        json["defaultGatewaySearched"] = defaultSearched;
        json["defaultGatewayAnswered"] = defaultAnswered;
        const bool pcpAnswered = pcpReport.found != eProtocolFound::kNone;
        json["pcpServer"] = pcpReport.asked ? cJson(pcpReport.server) : cJson(nullptr);
        json["pcpAnswered"] = pcpAnswered;
        json["pcpProtocol"] =
            pcpAnswered ? cJson(PcpProtocolName(pcpReport.found)) : cJson(nullptr);
        json["pcpVersion"] = pcpAnswered ? cJson(pcpReport.version) : cJson(nullptr);
        json["verdict"] = verdict;
        out << Dump(json);
        return status;
    }

    out << "Interfaces searched:\n";
    if (report.sent.empty())
        out << "  none: no IPv4 interface is up\n";
    for (const cSearchReport::cSent& sent : report.sent)
        out << "  " << Shown(sent.via.name) << " " << AddressText(sent.via.address) << ": "
            << (sent.sent ? "search sent" : "the search could not be sent") << "\n";
    out << "Answers: " << report.answers.size() << "\n";
    for (const cSsdpAnswer& answer : report.answers)
        out << "  from " << answer.sender << "  SERVER: " << Shown(answer.server)
            << "  ST: " << Shown(answer.st) << "  LOCATION: " << Shown(answer.location) << "\n";
    out << "Gateways:\n";
    if (report.gateways.empty())
        out << "  none answered the search for a connection service\n";
    for (const cGatewayCandidate& gateway : report.gateways) {
        out << "  " << PrintableText(gateway.descriptionUrl) << " (from " << gateway.sender
            << " via " << Shown(gateway.interfaceName) << "): ";
        if (gateway.usable)
            out << "taken: " << Shown(gateway.modelName) << ", " << Shown(gateway.serviceType)
                << ", external address " << Shown(gateway.externalAddress) << " ("
                << ExternalAddressKindName(ClassifyExternalAddress(gateway.externalAddress))
                << ")\n";
        else
            out << "refused: " << PrintableText(gateway.problem) << "\n";
    }
    out << "Default route: ";
    if (defaultGateway.empty())
        out << "none\n";
    else
        out << "via " << defaultGateway << ", which "
            << (!defaultSearched ? "this search did not reach"
                : defaultAnswered ? "answered"
                                  : "did not answer")
            << "\n";
    out << "PCP/NAT-PMP: " << PcpLine(pcpReport) << "\n";
    out << "Verdict: " << verdict << "\n";
    return status;
}
