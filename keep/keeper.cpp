#include "keep/keeper.h"

#include <algorithm>
#include <map>
#include <set>

#include "support/text.h"
#include "support/text_encoding.h"

namespace {

constexpr tKeepTime kFirstBackOffMs = 1000;
// A gateway announces itself a moment before its web server answers: requests
// that find nobody listening that soon after are tried again, not taken for a
// lost gateway.
constexpr tKeepTime kStartingGraceMs = 3000;
constexpr tKeepTime kStartingRetryMs = 50;
// An ssdp:alive without a boot id comes in bursts (one per device and
// service): it makes the keeper look at its mappings at most this often.
constexpr tKeepTime kAliveVerifyGapMs = 5000;

// UPnP's ConflictInMappingEntry: another host holds the port.
constexpr int kConflict = 718;

std::string FailureSentence(const cFailure& failure) {
    const std::string message = PrintableText(failure.message);
    if (failure.code == 0)
        return message;
    return DecimalText(failure.code) + " " + PrintableText(failure.name) + ": " + message;
}

std::string Endpoint(const std::string& client, int port) {
    return PrintableText(client) + ":" + DecimalText(port);
}

bool SameDeclaration(const cKeepEntry& a, const cKeepEntry& b) {
    return a.followsHost == b.followsHost && a.mapping.internalClient == b.mapping.internalClient &&
           a.mapping.internalPort == b.mapping.internalPort &&
           a.mapping.description == b.mapping.description;
}

std::string Key(const cKeepEntry& entry) {
    return MappingName(entry.mapping.protocol, entry.mapping.externalPort);
}

} // namespace

const char* KeepStateName(cKeeper::eState state) {
    switch (state) {
    case cKeeper::eState::kWanted:
        return "wanted";
    case cKeeper::eState::kHeld:
        return "held";
    case cKeeper::eState::kMissing:
        return "missing";
    case cKeeper::eState::kRefused:
        return "refused";
    case cKeeper::eState::kLeaving:
        return "leaving";
    }
    return "?";
}

cKeeper::cKeeper(cMappingGateway& gateway, const cSettings& settings)
    : gateway(gateway), settings(settings) {}

bool cKeeper::AllHeld() const {
    return std::all_of(table.begin(), table.end(),
                       [](const cKept& kept) { return kept.state == eState::kHeld; });
}

tKeepTime cKeeper::BackOff(int tries) const {
    const tKeepTime most = static_cast<tKeepTime>(settings.checkSeconds) * 1000;
    tKeepTime delay = kFirstBackOffMs;
    for (int i = 1; i < tries && delay < most; ++i)
        delay *= 2;
    return std::min(delay, most);
}

tKeepTime cKeeper::DueAt(const cKept& kept) const {
    if (kept.state != eState::kHeld)
        return kept.dueAt;
    return kept.renewAt ? std::min(kept.checkAt, kept.renewAt) : kept.checkAt;
}

cMapping cKeeper::Wanted(const cKept& kept) const {
    cMapping wanted = kept.declared.mapping;
    if (kept.declared.followsHost)
        wanted.internalClient = localAddress;
    wanted.leaseSeconds = settings.leaseSeconds;
    return wanted;
}

cKeepNotice cKeeper::Notice(const std::string& event, const cKept& kept,
                            const std::string& text) const {
    cKeepNotice notice;
    notice.event = event;
    notice.text = text;
    const cMapping wanted = Wanted(kept);
    notice.protocol = wanted.protocol;
    notice.externalPort = wanted.externalPort;
    notice.internalClient = wanted.internalClient;
    notice.internalPort = wanted.internalPort;
    return notice;
}

cKeepStep cKeeper::Handle(const cKeepEvent& event, tKeepTime now) {
    cKeepStep step;
    renewed = 0;
    switch (event.kind) {
    case cKeepEvent::kTick:
        break;
    case cKeepEvent::kReload:
        Reload(event.entries, now, step);
        break;
    case cKeepEvent::kStop:
        Stop(now);
        break;
    case cKeepEvent::kAnnounced:
        Announced(event, now, step);
        break;
    case cKeepEvent::kDiscovered:
        Discovered(event.address, now, step);
        break;
    case cKeepEvent::kNotDiscovered:
        ++discoverTries;
        discoverAt = now + BackOff(discoverTries);
        if (!searchReported) {
            searchReported = true;
            cKeepNotice notice;
            notice.event = "gateway-not-found";
            notice.text = everFound ? "the gateway does not answer the search; searching again"
                                    : "no " + settings.gatewayKind + " found; searching again";
            step.notices.push_back(notice);
        }
        break;
    case cKeepEvent::kAddressChanged:
        AddressChanged(event.address, now, step);
        break;
    }

    if ((gatewayUp || stopping) && now >= holdUntil && !sayFirst)
        DoDueWork(now, step);
    sayFirst = false;
    table.erase(std::remove_if(table.begin(), table.end(), [](const cKept& k) { return k.gone; }),
                table.end());
    if (renewed > 0) {
        cKeepNotice notice;
        notice.event = "renewed";
        notice.count = renewed;
        notice.text =
            renewed == 1 ? "renewed 1 lease" : "renewed " + DecimalText(renewed) + " leases";
        step.notices.push_back(notice);
    }

    if (stopping) {
        step.finished = table.empty();
        step.wakeAt = now;
        return step;
    }
    const tKeepTime heartbeat = now + static_cast<tKeepTime>(settings.checkSeconds) * 1000;
    if (!gatewayUp) {
        step.discover = now >= discoverAt;
        step.wakeAt = std::max(discoverAt, now);
        return step;
    }
    step.wakeAt = heartbeat;
    for (const cKept& kept : table)
        step.wakeAt = std::min(step.wakeAt, DueAt(kept));
    step.wakeAt = std::max(step.wakeAt, std::max(holdUntil, now));
    return step;
}

void cKeeper::Reload(const std::vector<cKeepEntry>& entries, tKeepTime now, cKeepStep& step) {
    int added = 0, removed = 0, changed = 0;
    std::map<std::string, const cKeepEntry*> listed;
    for (const cKeepEntry& entry : entries)
        listed[Key(entry)] = &entry;
    std::set<std::string> running;
    for (cKept& kept : table) {
        const std::string key = Key(kept.declared);
        const auto found = listed.find(key);
        if (found == listed.end()) {
            ++removed;
            kept.state = eState::kLeaving;
            kept.dueAt = now;
            kept.gone = !kept.ours;
            continue;
        }
        running.insert(key);
        const cKeepEntry& entry = *found->second;
        const bool same = SameDeclaration(kept.declared, entry);
        kept.declared = entry;
        if (same && kept.state != eState::kLeaving)
            continue;
        if (!same)
            ++changed;
        const std::string client = Wanted(kept).internalClient;
        if (kept.ours && kept.heldClient != client)
            kept.staleClient = kept.heldClient;
        kept.state = kept.everHeld ? eState::kMissing : eState::kWanted;
        kept.why = "after the keep file changed";
        kept.tries = 0;
        kept.reported.clear();
        kept.dueAt = now;
    }
    for (const cKeepEntry& entry : entries) {
        if (running.count(Key(entry)))
            continue;
        cKept kept;
        kept.declared = entry;
        kept.dueAt = now;
        table.push_back(kept);
        ++added;
    }
    if (!started) {
        started = true;
        return;
    }
    cKeepNotice notice;
    notice.event = "reloaded";
    notice.count = static_cast<int>(entries.size());
    notice.text = "read the keep file again: " + DecimalText(added) + " new, " +
                  DecimalText(removed) + " removed, " + DecimalText(changed) + " changed";
    step.notices.push_back(notice);
}

void cKeeper::Stop(tKeepTime now) {
    stopping = true;
    for (cKept& kept : table) {
        if (kept.ours) {
            kept.state = eState::kLeaving;
            kept.dueAt = now;
        } else {
            kept.gone = true;
        }
    }
    holdUntil = 0;
}

void cKeeper::Verify(tKeepTime now, const std::string& why) {
    verifiedAt = now;
    for (cKept& kept : table) {
        if (kept.state == eState::kHeld) {
            kept.checkAt = now;
            kept.why = why;
        } else if (kept.state != eState::kLeaving) {
            kept.dueAt = now;
            if (kept.everHeld)
                kept.why = why;
        } else {
            kept.dueAt = now;
        }
    }
}

void cKeeper::Announced(const cKeepEvent& event, tKeepTime now, cKeepStep& step) {
    if (!event.alive) {
        if (!saidGoodbye) {
            saidGoodbye = true;
            cKeepNotice notice;
            notice.event = "gateway-leaving";
            notice.text = "the gateway said goodbye";
            step.notices.push_back(notice);
        }
        return;
    }
    const bool restarted = event.restarted || saidGoodbye ||
                           (!event.bootId.empty() && !bootId.empty() && event.bootId != bootId);
    // The first boot id heard: a restart before it (without a goodbye) would
    // go unseen until the next check.
    const bool firstBootId = bootId.empty() && !event.bootId.empty();
    if (!event.bootId.empty())
        bootId = event.bootId;
    saidGoodbye = false;
    if (!gatewayUp) {
        // Search at once rather than at the end of the back-off.
        discoverAt = std::min(discoverAt, now);
        announcedAt = now;
        return;
    }
    if (restarted) {
        cKeepNotice notice;
        notice.event = "gateway-restarted";
        notice.text = "the gateway restarted";
        step.notices.push_back(notice);
        announcedAt = now;
        holdUntil = 0;
        // The restart shows in the log when it is seen; the work comes with the next call.
        sayFirst = true;
        Verify(now, "after the gateway restarted");
    } else if ((event.bootId.empty() || firstBootId) &&
               (verifiedAt < 0 || now - verifiedAt >= kAliveVerifyGapMs)) {
        announcedAt = now;
        Verify(now, "after the gateway announced itself");
    }
}

void cKeeper::Discovered(const std::string& address, tKeepTime now, cKeepStep& step) {
    const bool again = everFound;
    gatewayUp = true;
    everFound = true;
    searchReported = false;
    holdUntil = 0;
    cKeepNotice notice;
    notice.event = "gateway-found";
    notice.text = again ? "found the gateway again" : "found the gateway";
    step.notices.push_back(notice);
    AddressChanged(address, now, step);
    if (again)
        Verify(now, "after the gateway came back");
}

void cKeeper::AddressChanged(const std::string& address, tKeepTime now, cKeepStep& step) {
    if (address.empty() || address == localAddress)
        return;
    const std::string old = localAddress;
    localAddress = address;
    if (old.empty())
        return;
    cKeepNotice notice;
    notice.event = "address-changed";
    notice.internalClient = address;
    notice.text =
        "this host's address changed from " + PrintableText(old) + " to " + PrintableText(address);
    step.notices.push_back(notice);
    for (cKept& kept : table) {
        if (!kept.declared.followsHost || kept.state == eState::kLeaving)
            continue;
        if (kept.ours && kept.heldClient != address)
            kept.staleClient = kept.heldClient;
        kept.moving = kept.everHeld;
        kept.state = kept.everHeld ? eState::kMissing : eState::kWanted;
        kept.tries = 0;
        kept.dueAt = now;
    }
}

void cKeeper::DoDueWork(tKeepTime now, cKeepStep& step) {
    for (cKept& kept : table) {
        if (kept.gone || DueAt(kept) > now)
            continue;
        bool reached = true;
        switch (kept.state) {
        case eState::kWanted:
        case eState::kMissing:
        case eState::kRefused:
            reached = Add(kept, now, false, step);
            break;
        case eState::kHeld:
            if (kept.renewAt && kept.renewAt <= now)
                reached = Add(kept, now, true, step);
            else
                reached = Check(kept, now, step);
            break;
        case eState::kLeaving:
            reached = Leave(kept, step);
            break;
        }
        if (reached)
            continue;
        if (stopping) {
            int left = 0;
            for (cKept& other : table) {
                if (!other.gone) {
                    other.gone = true;
                    ++left;
                }
            }
            cKeepNotice notice;
            notice.event = "delete-failed";
            notice.count = left;
            notice.failed = true;
            notice.failure = gateway.LastFailure();
            notice.text = "could not delete " + DecimalText(left) +
                          (left == 1 ? " mapping: " : " mappings: ") +
                          FailureSentence(notice.failure) + "; each ends with its lease";
            step.notices.push_back(notice);
        } else if (announcedAt >= 0 && now - announcedAt < kStartingGraceMs) {
            holdUntil = now + kStartingRetryMs;
        } else {
            GatewayLost(now, step);
        }
        return;
    }
}

bool cKeeper::Add(cKept& kept, tKeepTime now, bool renewal, cKeepStep& step) {
    const cMapping wanted = Wanted(kept);
    const std::string name = MappingName(wanted.protocol, wanted.externalPort);
    if (wanted.internalClient.empty()) {
        cFailure unknown;
        unknown.name = "NoLocalAddress";
        unknown.message = "this host's address towards the gateway is unknown";
        Refused(kept, unknown, cAddResult(), now, step);
        return true;
    }
    if (!kept.staleClient.empty()) {
        // Refused deletes (a gateway that lets a host remove only its own
        // mappings) are left to the add, which says who holds the port.
        if (!gateway.Delete(wanted.protocol, kept.HeldPort()) &&
            gateway.LastFailure().code == 0)
            return false;
        kept.staleClient.clear();
    }
    cAddResult result;
    if (!gateway.Add(wanted, result)) {
        const cFailure& failure = gateway.LastFailure();
        if (failure.code == 0 && failure.name != "NotKept")
            return false;
        Refused(kept, failure, result, now, step);
        return true;
    }
    discoverTries = 0;
    const bool wasHeld = kept.state == eState::kHeld;
    const bool first = !kept.everHeld;
    const bool moved = kept.moving;
    kept.state = eState::kHeld;
    kept.ours = true;
    kept.everHeld = true;
    kept.moving = false;
    kept.heldClient = wanted.internalClient;
    // A PCP or NAT-PMP gateway may grant another port than the one asked for;
    // the mapping is then checked and deleted there.
    kept.grantedPort =
        result.kept.externalPort > 0 && result.kept.externalPort != wanted.externalPort
            ? result.kept.externalPort
            : 0;
    kept.tries = 0;
    kept.reported.clear();
    // Renew at half the lease the gateway holds, when that is the shorter.
    int lease = settings.leaseSeconds;
    if (result.kept.leaseSeconds > 0 && (lease == 0 || result.kept.leaseSeconds < lease))
        lease = result.kept.leaseSeconds;
    kept.renewAt = lease > 0 ? now + static_cast<tKeepTime>(lease) * 500 : 0;
    kept.checkAt = now + static_cast<tKeepTime>(settings.checkSeconds) * 1000;
    const std::string why = kept.why;
    kept.why.clear();
    if (renewal && wasHeld) {
        ++renewed;
        return true;
    }
    const std::string target = Endpoint(wanted.internalClient, wanted.internalPort);
    if (first) {
        std::string text = "added " + name + " -> " + target;
        if (result.kept.leaseSeconds > 0)
            text += ", lease " + DecimalText(result.kept.leaseSeconds) + " s";
        step.notices.push_back(Notice("added", kept, text));
        for (const std::string& warning : result.warnings)
            step.notices.push_back(Notice("warning", kept, name + ": " + PrintableText(warning)));
    } else if (moved) {
        step.notices.push_back(Notice("moved", kept, "moved " + name + " to " + target));
    } else {
        step.notices.push_back(
            Notice("restored", kept, "restored " + name + (why.empty() ? "" : " " + why)));
    }
    return true;
}

bool cKeeper::Check(cKept& kept, tKeepTime now, cKeepStep& step) {
    const cMapping wanted = Wanted(kept);
    const std::string name = MappingName(wanted.protocol, wanted.externalPort);
    bool found = false;
    cMapping there;
    if (!gateway.Find(wanted.protocol, kept.HeldPort(), found, there)) {
        const cFailure& failure = gateway.LastFailure();
        if (failure.code == 0)
            return false;
        // The gateway answers but cannot say: look again later; the renewal
        // still comes at its time.
        ++kept.tries;
        kept.checkAt = now + BackOff(kept.tries);
        const std::string said = DecimalText(failure.code) + failure.name;
        if (said != kept.reported) {
            kept.reported = said;
            cKeepNotice notice = Notice(
                "check-failed", kept, "could not check " + name + ": " + FailureSentence(failure));
            notice.failed = true;
            notice.failure = failure;
            step.notices.push_back(notice);
        }
        return true;
    }
    discoverTries = 0;
    if (found && there.internalClient == kept.heldClient &&
        there.internalPort == wanted.internalPort && there.enabled) {
        kept.tries = 0;
        kept.reported.clear();
        kept.why.clear();
        kept.checkAt = now + static_cast<tKeepTime>(settings.checkSeconds) * 1000;
        return true;
    }
    kept.state = eState::kMissing;
    if (kept.why.empty())
        kept.why = found ? "(it pointed to " + Endpoint(there.internalClient, there.internalPort) +
                               (there.enabled ? ")" : ", disabled)")
                         : "(it was missing)";
    return Add(kept, now, false, step);
}

bool cKeeper::Leave(cKept& kept, cKeepStep& step) {
    const std::string name =
        MappingName(kept.declared.mapping.protocol, kept.declared.mapping.externalPort);
    if (!kept.ours) {
        kept.gone = true;
        return true;
    }
    if (!gateway.Delete(kept.declared.mapping.protocol, kept.HeldPort())) {
        const cFailure& failure = gateway.LastFailure();
        if (failure.code == 0)
            return false;
        cKeepNotice notice = Notice("delete-failed", kept,
                                    "could not delete " + name + ": " + FailureSentence(failure));
        notice.failed = true;
        notice.failure = failure;
        step.notices.push_back(notice);
    } else {
        step.notices.push_back(Notice("deleted", kept, "deleted " + name));
    }
    kept.gone = true;
    return true;
}

void cKeeper::GatewayLost(tKeepTime now, cKeepStep& step) {
    const cFailure failure = gateway.LastFailure();
    if (gatewayUp) {
        cKeepNotice notice;
        notice.event = "gateway-lost";
        notice.failed = true;
        notice.failure = failure;
        notice.text = "lost the gateway: " + FailureSentence(failure) + "; searching again";
        step.notices.push_back(notice);
    }
    gatewayUp = false;
    searchReported = true;
    discoverTries = std::max(discoverTries, 1);
    discoverAt = now + BackOff(discoverTries);
}

void cKeeper::Refused(cKept& kept, const cFailure& failure, const cAddResult& result, tKeepTime now,
                      cKeepStep& step) {
    kept.state = eState::kRefused;
    // Another host holds the port now: it is not ours to delete.
    if (failure.code == kConflict)
        kept.ours = false;
    ++kept.tries;
    kept.dueAt = now + BackOff(kept.tries);
    const std::string said = DecimalText(failure.code) + failure.name;
    if (said == kept.reported)
        return;
    kept.reported = said;
    const std::string name =
        MappingName(kept.declared.mapping.protocol, kept.declared.mapping.externalPort);
    std::string text = (failure.code ? "the gateway refused " : "could not add ") + name + ": " +
                       FailureSentence(failure);
    if (result.ownerKnown)
        text += "; held by " + Endpoint(result.owner.internalClient, result.owner.internalPort);
    text += "; trying again with back-off";
    cKeepNotice notice = Notice("refused", kept, text);
    notice.failed = true;
    notice.failure = failure;
    notice.ownerKnown = result.ownerKnown;
    notice.owner = result.owner;
    step.notices.push_back(notice);
}
