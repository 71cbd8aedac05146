#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "net/http.h"
#include "net/url.h"
#include "support/text.h"
#include "support/xml.h"
#include "upnp/fault.h"
#include "upnp/soap_impl.h"

namespace {

// Service versions looked for when the searched one is not described: an
// IGDv2 gateway describes ":2" and still accepts ":1" requests.
constexpr int kHighestServiceVersion = 9;

std::string ControlUrlText(cXML& description, const std::string& type) {
    return description.SelectText(
        FormatString("//service[serviceType=\"%s\"]/controlURL", type.c_str()).c_str());
}

// The controlURL text of the first described service that stands for type:
// the exact type, else the same service at a higher version; `described`
// gets the type as the description names it.
std::string FindControlUrlText(cXML& description, const std::string& type,
                               std::string& described) {
    described = type;
    std::string text = ControlUrlText(description, type);
    const size_t colon = type.rfind(':');
    if (!text.empty() || colon == std::string::npos)
        return text;
    const std::string service = type.substr(0, colon + 1);
    for (int version = ReadInt(type.substr(colon + 1)) + 1;
         version <= kHighestServiceVersion && text.empty(); ++version) {
        described = service + DecimalText(version);
        text = ControlUrlText(description, described);
    }
    return text;
}

// The control URL of another described service, resolved; "" when it is not
// described or not on the host that served the description.
std::string SameHostControlUrl(cXML& description, const char* type, const std::string& base,
                               const std::string& host) {
    std::string describedType;
    const std::string text = FindControlUrlText(description, type, describedType);
    cHttpUrl parsed;
    if (text.empty() || !ParseHttpUrl(ResolveUrl(base, text), parsed) || parsed.host != host)
        return "";
    return ResolveUrl(base, text);
}

} // namespace

bool cSOAP::impl::LoadDescription(const char* descriptionUrl, const char* type,
                                  const std::vector<std::string>& otherTypes,
                                  const cFetchBounds& bounds) {
    using cClock = std::chrono::steady_clock;
    const cClock::time_point start = cClock::now();
    controlUrl.clear();
    serviceType.clear();
    describedType.clear();
    commonControlUrl.clear();
    firewallControlUrl.clear();
    arguments.clear();
    udn.clear();

    cHTTP http;
    http.Open("GET", descriptionUrl, bounds.connectMs);
    http.Send("");
    const int left = bounds.totalMs - static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          cClock::now() - start)
                                          .count());
    const bool received =
        left > 0 && http.Receive(std::min(kHttpTimeoutMs, left), left);
    if (!received || http.GetStatus() != 200) {
        descriptionProblem =
            "the description could not be fetched: " +
            (received || http.GetOutcome() == eHttpOutcome::kAnswered
                 ? FormatString("the gateway answered HTTP %d", http.GetStatus())
                 : TransportFailure(http.GetOutcome(), http.GetStatus(),
                                    std::min(bounds.connectMs, kHttpTimeoutMs))
                       .message);
        return false;
    }
    // The answered type first; a gateway may answer a search for a service it
    // does not have (miniupnpd echoes the PPP search), so the others follow.
    std::vector<std::string> candidates{type};
    candidates.insert(candidates.end(), otherTypes.begin(), otherTypes.end());
    return ReadDescription(http.GetBody(), descriptionUrl, candidates);
}

bool cSOAP::impl::ReadDescription(const char* text, const char* descriptionUrl,
                                  const std::vector<std::string>& candidates) {
    cXML description;
    description.Load(text);
    descriptionProblem = "the description offers no WAN connection service";
    for (const std::string& candidate : candidates) {
        std::string describedAs;
        const std::string controlText = FindControlUrlText(description, candidate, describedAs);
        if (controlText.empty())
            continue;
        std::string base = description.SelectText("//URLBase");
        if (base.empty())
            base = descriptionUrl;
        const std::string resolved = ResolveUrl(base, controlText);
        // Actions go to the host that served the description (any port).
        cHttpUrl parsed, described;
        if (!ParseHttpUrl(resolved, parsed) || !ParseHttpUrl(descriptionUrl, described) ||
            parsed.host != described.host) {
            descriptionProblem = "the control URL is not on the host that served the description";
            return false;
        }
        controlUrl = resolved;
        serviceType = candidate;
        describedType = describedAs;
        modelName = description.SelectText("//device/modelName");
        udn = description.SelectText("/root/device/UDN");
        // The link's properties and counters, where the gateway describes them;
        // on the same host only, as every request.
        commonControlUrl = SameHostControlUrl(description, kWanCommonInterfaceConfig, base,
                                              described.host);
        firewallControlUrl =
            SameHostControlUrl(description, kWanIpv6FirewallControl, base, described.host);
        descriptionProblem.clear();
        return true;
    }
    return false;
}
