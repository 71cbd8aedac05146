#include "upnp/mapping_gateway.h"

#include <algorithm>

#include "support/text.h"
#include "support/text_encoding.h"
#include "upnp/fault.h"
#include "upnp/port_listing.h"

namespace {

// Leases tried, in order, when a gateway refuses a lease as an invalid argument.
constexpr int kLeaseFallbacks[] = {kMaxLeaseSeconds, 3600};

constexpr int kHighestPort = 65535;

// Gateway text quoted in a warning: printable and short.
constexpr std::size_t kQuotedTextBytes = 80;

std::string Quoted(const std::string& text) {
    return "\"" + PrintableText(text, kQuotedTextBytes) + "\"";
}

std::string Seconds(int seconds) {
    return DecimalText(seconds) + " s";
}

std::string Refusal(const cFailure& failure) {
    return DecimalText(failure.code) + " " + failure.name;
}

// The refusals that mean "this port is not free" rather than "no".
bool IsPortTaken(const cFailure& failure) {
    return failure.code == kUpnpConflict || failure.code == kUpnpActionNotAuthorized ||
           failure.code == kUpnpConflictWithOtherMechanisms;
}

// A version 2 action the gateway does not carry out after all.
bool IsActionRefused(const cFailure& failure) {
    return failure.code == kUpnpInvalidAction || failure.code == kUpnpOptionalActionNotImplemented;
}

bool IsNoSuchMapping(const cFailure& failure) {
    return failure.code == kUpnpNoSuchEntry || failure.code == kUpnpPortMappingNotFound;
}

} // namespace

cUPnP::cEntry ToEntry(const cMapping& mapping) {
    cUPnP::cEntry entry;
    entry.enabled = mapping.enabled;
    entry.externalPort = mapping.externalPort;
    entry.internalPort = mapping.internalPort;
    entry.protocol = mapping.protocol;
    entry.internalClient = mapping.internalClient;
    entry.description = mapping.description;
    return entry;
}

cMapping ToMapping(const cUPnP::cEntry& entry, int leaseSeconds) {
    cMapping mapping;
    mapping.protocol = entry.protocol;
    mapping.externalPort = entry.externalPort;
    mapping.internalClient = entry.internalClient;
    mapping.internalPort = entry.internalPort;
    mapping.description = entry.description;
    mapping.enabled = entry.enabled;
    mapping.leaseSeconds = leaseSeconds;
    return mapping;
}

bool cUPnPMappingGateway::Failed() {
    failure = client.GetLastFailure();
    return false;
}

bool cUPnPMappingGateway::GetExternalAddress(std::string& out) {
    failure = cFailure();
    return client.GetExternalAddress(out) || Failed();
}

bool cUPnPMappingGateway::Delete(const std::string& protocol, int externalPort) {
    failure = cFailure();
    cUPnP::cEntry entry;
    entry.protocol = protocol;
    entry.externalPort = externalPort;
    return client.DeletePortMapping(entry) || Failed();
}

bool cUPnPMappingGateway::Find(const std::string& protocol, int externalPort, bool& found,
                               cMapping& out) {
    failure = cFailure();
    found = false;
    cUPnP::cEntry entry;
    int lease = 0;
    if (client.GetSpecificPortMappingEntry(protocol, externalPort, entry, lease)) {
        found = true;
        out = ToMapping(entry, lease);
        return true;
    }
    return IsNoSuchMapping(client.GetLastFailure()) || Failed();
}

bool cUPnPMappingGateway::Add(const cMapping& wanted, cAddResult& result) {
    failure = cFailure();
    result = cAddResult();
    return AddAt(wanted, result);
}

void cUPnPMappingGateway::LookAheadOver(const std::string& protocol, int firstPort, int lastPort) {
    ahead.clear();
    aheadLast = -1;
    // The walk of a version 1 table could cost more than a look per port.
    if (!lookBeforeAdd || !IsVersion2(client.GetIdentity().describedType) ||
        !ListRange(client, protocol, firstPort, lastPort, ahead))
        return;
    aheadProtocol = protocol;
    aheadFirst = firstPort;
    aheadLast = lastPort;
}

// Gateways replace a mapping of the same client without a conflict (miniupnpd
// even takes the new internal port): only a look beforehand can tell.
bool cUPnPMappingGateway::HeldByClient(const cMapping& wanted, cMapping& held) {
    if (wanted.protocol == aheadProtocol && wanted.externalPort >= aheadFirst &&
        wanted.externalPort <= aheadLast) {
        for (const cListedMapping& listed : ahead)
            if (listed.entry.externalPort == wanted.externalPort) {
                held = ToMapping(listed.entry, listed.leaseSeconds);
                return held.internalClient == wanted.internalClient;
            }
        return false;
    }
    bool found = false;
    const bool asked = lookBeforeAdd && Find(wanted.protocol, wanted.externalPort, found, held);
    failure = cFailure();
    return asked && found && held.internalClient == wanted.internalClient;
}

bool cUPnPMappingGateway::AddAt(const cMapping& wanted, cAddResult& result) {
    cMapping held;
    const bool replacing = HeldByClient(wanted, held);
    int lease = wanted.leaseSeconds;
    if (!AddWithLeaseFallbacks(wanted, lease, result.warnings)) {
        ExplainRefusal(wanted, result);
        return false;
    }
    if (!ReadBack(wanted, lease, result))
        return false;
    result.replaced = replacing;
    if (replacing)
        result.previous = held;
    return true;
}

bool cUPnPMappingGateway::AddAnyPort(const cMapping& wanted, cAddResult& result) {
    failure = cFailure();
    result = cAddResult();
    if (IsVersion2(client.GetIdentity().describedType)) {
        // The gateway picks the port (miniupnpd 2.3.1 went below the asked
        // one), and one this client already maps as readily as a free one,
        // replacing that mapping: the protocol's table is read first.
        std::vector<cListedMapping> held;
        if (!lookBeforeAdd || !ListRange(client, wanted.protocol, 1, kHighestPort, held))
            held.clear();
        int granted = 0;
        if (client.AddAnyPortMapping(ToEntry(wanted), wanted.leaseSeconds, granted)) {
            cMapping kept = wanted;
            kept.externalPort = granted;
            if (!ReadBack(kept, wanted.leaseSeconds, result))
                return false;
            for (const cListedMapping& before : held)
                if (before.entry.externalPort == granted &&
                    before.entry.internalClient == wanted.internalClient) {
                    result.replaced = true;
                    result.previous = ToMapping(before.entry, before.leaseSeconds);
                }
            return true;
        }
        if (!IsActionRefused(client.GetLastFailure())) {
            Failed();
            ExplainRefusal(wanted, result);
            return false;
        }
        result.warnings.push_back("the gateway refused AddAnyPortMapping (" +
                                  Refusal(client.GetLastFailure()) + "); trying port by port");
    }
    std::vector<std::string> steps = result.warnings;
    const int last = std::min(wanted.externalPort + kAnyPortSteps, kHighestPort);
    for (int port = wanted.externalPort; port <= last; ++port) {
        cMapping asked = wanted;
        asked.externalPort = port;
        result = cAddResult();
        failure = cFailure();
        // A later port this client already maps is taken too: the gateway
        // would replace that mapping without a word.
        bool found = false;
        cMapping holder;
        if (port != wanted.externalPort && Find(asked.protocol, port, found, holder) && found) {
            steps.push_back(asked.protocol + " " + DecimalText(port) + " is held by " +
                            Quoted(holder.internalClient));
            continue;
        }
        if (AddAt(asked, result)) {
            result.warnings.insert(result.warnings.begin(), steps.begin(), steps.end());
            return true;
        }
        if (!IsPortTaken(failure) || port == last)
            break;
        steps.push_back(asked.protocol + " " + DecimalText(port) + " is taken (" +
                        Refusal(failure) + ")");
    }
    result.warnings.insert(result.warnings.begin(), steps.begin(), steps.end());
    if (!failure.IsSet()) {
        failure.name = "NoFreePort";
        failure.message = "every port tried is taken";
        failure.messageJa = "試したポートはすべて使用中です";
    }
    if (IsPortTaken(failure) || failure.name == "NoFreePort")
        failure.message +=
            "; ports " + DecimalText(wanted.externalPort) + "-" + DecimalText(last) + " were tried";
    return false;
}

// A gateway that refuses the lease is asked again: without one where it takes
// only permanent mappings, else with a week, then an hour.
bool cUPnPMappingGateway::AddWithLeaseFallbacks(const cMapping& wanted, int& lease,
                                                std::vector<std::string>& warnings) {
    const cUPnP::cEntry entry = ToEntry(wanted);
    if (client.AddPortMappingWithLease(entry, lease))
        return true;
    const cFailure first = client.GetLastFailure();
    if (lease != 0 && first.code == kUpnpOnlyPermanentLeases) {
        warnings.push_back("the gateway refused a lease of " + Seconds(lease) + " (" +
                           Refusal(first) + "); asking for a permanent mapping");
        lease = 0;
        return client.AddPortMappingWithLease(entry, lease) || Failed();
    }
    if (lease != 0 && (first.code == kUpnpInvalidArgs || first.code == kUpnpSamePortValuesRequired)) {
        cFailure last = first;
        for (const int fallback : kLeaseFallbacks) {
            if (fallback == lease)
                continue;
            warnings.push_back("the gateway refused a lease of " + Seconds(lease) + " (" +
                               Refusal(last) + "); asking for " + Seconds(fallback));
            lease = fallback;
            if (client.AddPortMappingWithLease(entry, lease))
                return true;
            last = client.GetLastFailure();
        }
    }
    return Failed();
}

// After a conflict or a refusal: who holds the port, or else why a port
// nobody holds was refused.
void cUPnPMappingGateway::ExplainRefusal(const cMapping& wanted, cAddResult& result) {
    if (failure.code != kUpnpConflict && failure.code != kUpnpActionNotAuthorized)
        return;
    const cFailure refusal = failure;
    bool found = false;
    cMapping holder;
    const bool asked = Find(wanted.protocol, wanted.externalPort, found, holder);
    failure = refusal;
    if (asked && found) {
        result.ownerKnown = true;
        result.owner = holder;
        return;
    }
    std::string local;
    if (asked && client.GetLocalAddress(local) && !local.empty() &&
        wanted.internalClient != local) {
        failure.message += "; nobody holds the port: this gateway lets a host map ports only "
                           "to itself";
        failure.messageJa += "（このルーターでは自分自身へのポートマップのみ追加できます）";
    }
}

// What the gateway kept, compared with what was asked for. The lease it holds
// is reported, not warned about: miniupnpd holds lease 0 as 604800 s.
bool cUPnPMappingGateway::ReadBack(const cMapping& wanted, int lease, cAddResult& result) {
    result.kept = wanted;
    result.kept.leaseSeconds = lease;
    cUPnP::cEntry kept;
    int leaseLeft = 0;
    if (!client.GetSpecificPortMappingEntry(wanted.protocol, wanted.externalPort, kept,
                                            leaseLeft)) {
        const cFailure& why = client.GetLastFailure();
        if (IsNoSuchMapping(why)) {
            failure.name = "NotKept";
            failure.message = "the gateway reported success but kept no mapping";
            failure.messageJa = "ルーターは成功と答えましたがポートマップを保持していません";
            return false;
        }
        result.warnings.push_back("the mapping could not be read back: " + why.message);
        return true;
    }
    result.kept = ToMapping(kept, leaseLeft);
    std::vector<std::string>& warnings = result.warnings;
    if (kept.internalClient != wanted.internalClient)
        warnings.push_back("the gateway maps the port to " + Quoted(kept.internalClient) +
                           ", not to " + Quoted(wanted.internalClient));
    if (kept.internalPort != wanted.internalPort)
        warnings.push_back("the gateway maps to internal port " + DecimalText(kept.internalPort) +
                           ", not " + DecimalText(wanted.internalPort));
    if (kept.enabled != wanted.enabled)
        warnings.push_back(kept.enabled ? "the gateway keeps the mapping enabled"
                                        : "the gateway keeps the mapping disabled");
    // The gateway's answer comes trimmed, as every text read from XML.
    const std::string asked = Trim(wanted.description);
    if (kept.description != asked) {
        const bool cut = kept.description.size() < asked.size() &&
                         asked.compare(0, kept.description.size(), kept.description) == 0;
        warnings.push_back(cut ? "the gateway cut the comment to " +
                                     DecimalText(static_cast<int>(kept.description.size())) +
                                     " bytes: " + Quoted(kept.description)
                               : "the gateway changed the comment to " + Quoted(kept.description));
    }
    return true;
}
