#include "upnp/discovery.h"

#include <set>

#include "net/socket.h"
#include "net/url.h"
#include "upnp/soap.h"
#include "upnp/upnp.h"

namespace {

bool SearchThrough(cSSDP& ssdp, std::uint32_t local) {
    ssdp.RestrictTo(local);
    return SearchConnectionServices(ssdp) > 0;
}

// Fills in what the gateway's description and connection service tell.
void Examine(cGatewayCandidate& candidate) {
    cHttpUrl described;
    if (!ParseHttpUrl(candidate.descriptionUrl, described)) {
        candidate.problem = "its Location is not a usable http:// URL";
        return;
    }
    if (described.host != candidate.sender) {
        candidate.problem = "its Location is on another host than the one that answered";
        return;
    }
    cSOAP soap;
    const std::string other =
        candidate.answeredType == kWanIpConnection ? kWanPppConnection : kWanIpConnection;
    if (!soap.LoadDescription(candidate.descriptionUrl.c_str(), candidate.answeredType.c_str(),
                              {other})) {
        candidate.problem = soap.GetDescriptionProblem();
        return;
    }
    candidate.usable = true;
    candidate.modelName = soap.GetModelName();
    candidate.udn = soap.GetUdn();
    candidate.serviceType = soap.GetServiceType();
    candidate.controlUrl = soap.GetControlUrl();
    soap.ClearArguments();
    if (soap.Call("GetExternalIPAddress"))
        candidate.externalAddress = soap.GetResult("NewExternalIPAddress");
}

} // namespace

int SearchConnectionServices(cSSDP& ssdp) {
    const bool ip = ssdp.Search(kWanIpConnection);
    const bool ppp = ssdp.Search(kWanPppConnection);
    return int(ip) + int(ppp);
}

cSearchReport SearchEveryGateway(int timeoutMs, std::uint32_t onlyLocal) {
    cSearchReport report;
    cSocketSystem::GetInstance();
    cSSDP ssdp;
    if (!ssdp.Open())
        return report;
    for (const cLocalInterface& local : GetLocalInterfaces())
        if (!onlyLocal || local.address == onlyLocal)
            report.sent.push_back({local, SearchThrough(ssdp, local.address)});
    report.answers = ssdp.ReceiveAll(kSsdpRepeatMs);
    for (const cSearchReport::cSent& sent : report.sent)
        SearchThrough(ssdp, sent.via.address);
    for (const cSsdpAnswer& answer : ssdp.ReceiveAll(timeoutMs))
        if (report.answers.size() < kSsdpMaxAnswers)
            report.answers.push_back(answer);

    std::set<std::string> seen;
    for (const cSsdpAnswer& answer : report.answers) {
        if (!answer.acceptable || !seen.insert(answer.location).second)
            continue;
        cGatewayCandidate candidate;
        candidate.sender = answer.sender;
        candidate.descriptionUrl = answer.location;
        candidate.answeredType = answer.st;
        candidate.server = answer.server;
        if (GetSourceAddressTowards(answer.sender, candidate.localAddress)) {
            for (const cSearchReport::cSent& sent : report.sent)
                if (AddressText(sent.via.address) == candidate.localAddress)
                    candidate.interfaceName = sent.via.name;
        }
        Examine(candidate);
        report.gateways.push_back(candidate);
    }
    return report;
}
