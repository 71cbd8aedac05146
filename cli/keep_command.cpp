#include "cli/keep_command.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "keep/keep_file.h"
#include "net/multicast_listener.h"
#include "net/ssdp.h"
#include "net/ssdp_notify.h"
#include "support/no_copy.h"
#include "support/text_encoding.h"
#include "upnp/gateway_host.h"
#include "upnp/mapping_gateway.h"

namespace {

// This host's address towards the gateway is looked at this often: a DHCP
// renumbering shows within this time.
constexpr tKeepTime kAddressCheckMs = 2000;
// A flood of datagrams cannot keep the loop from its timers.
constexpr int kDatagramsPerWake = 64;

tKeepTime Now() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The wiring around the keeper: the gateway client, the clock, the SSDP
// listener, the signals and the log.
class cKeepLoop : no_copy {
  public:
    cKeepLoop(const cCommandLine& line, cUPnP& client, std::ostream& err)
        : line(line), client(client), mappings(client), err(err),
          keeper(mappings, Settings(line.keep)) {
        // The keeper renews its own mappings: a look before each add would only cost time.
        mappings.SetLookBeforeAdd(false);
    }

    int Run(const std::vector<cKeepEntry>& entries);

  private:
    static cKeeper::cSettings Settings(const cKeepOptions& options) {
        cKeeper::cSettings settings;
        settings.leaseSeconds = options.leaseSeconds;
        settings.checkSeconds = options.checkSeconds;
        return settings;
    }

    cKeepStep Feed(const cKeepEvent& event) {
        cKeepStep step = keeper.Handle(event, Now());
        for (const cKeepNotice& notice : step.notices)
            err << KeepNoticeLine(notice, line.json) << std::flush;
        return step;
    }
    cKeepStep Feed(cKeepEvent::eKind kind) {
        cKeepEvent event;
        event.kind = kind;
        return Feed(event);
    }
    void Say(const std::string& event, const std::string& text) {
        cKeepNotice notice;
        notice.event = event;
        notice.text = text;
        err << KeepNoticeLine(notice, line.json) << std::flush;
    }

    bool Discover();
    void Listen();
    void ReadDatagrams();
    void LookAtAddress(tKeepTime now);
    void Reload();

    const cCommandLine& line;
    cUPnP& client;
    cUPnPMappingGateway mappings;
    std::ostream& err;
    cKeeper keeper;
    cMulticastListener listener;
    std::string listeningOn;
    std::string gatewayHost;
    std::string localAddress;
    tKeepTime addressCheckAt = 0;
};

bool cKeepLoop::Discover() {
    if (!client.Discover(line.timeoutMs)) {
        if (line.keep.once)
            Say("gateway-not-found", "no UPnP gateway found");
        else
            Feed(cKeepEvent::kNotDiscovered);
        return false;
    }
    gatewayHost.clear();
    GetGatewayHost(client, gatewayHost);
    localAddress.clear();
    client.GetLocalAddress(localAddress);
    addressCheckAt = Now() + kAddressCheckMs;
    // One pass waits for no announcement.
    if (!line.keep.once)
        Listen();
    cKeepEvent event;
    event.kind = cKeepEvent::kDiscovered;
    event.address = localAddress;
    Feed(event);
    return true;
}

// Joins the SSDP group on the interface towards the gateway, again whenever
// that interface's address changes.
void cKeepLoop::Listen() {
    if (localAddress.empty() || (listener.IsOpen() && listeningOn == localAddress))
        return;
    listener.Close();
    listeningOn = localAddress;
    if (!listener.Open(kSsdpGroup, kSsdpPort, localAddress))
        Say("listen-failed", "cannot listen for the gateway's announcements on " +
                                 PrintableText(localAddress) + ": restarts show at the next check");
}

void cKeepLoop::ReadDatagrams() {
    std::string datagram;
    for (int i = 0; i < kDatagramsPerWake && listener.IsOpen() && listener.RecvFrom(datagram, 0);
         ++i) {
        cSsdpNotify notify;
        // A datagram carrying a NUL is read up to it, as a C text would be.
        if (!ParseSsdpNotify(datagram.c_str(), notify))
            continue;
        const std::string sender = AddressText(listener.peerAddress);
        if (gatewayHost.empty() ? !IsGatewayNotify(notify) : sender != gatewayHost)
            continue;
        cKeepEvent event;
        event.kind = cKeepEvent::kAnnounced;
        event.alive = notify.nts != "ssdp:byebye";
        event.bootId = notify.bootId;
        Feed(event);
    }
}

void cKeepLoop::LookAtAddress(tKeepTime now) {
    if (now < addressCheckAt || !keeper.GatewayUp())
        return;
    addressCheckAt = now + kAddressCheckMs;
    // The route towards the gateway only: the host-name fallback of
    // GetLocalAddress could name another interface while the link is down.
    std::string address;
    if (gatewayHost.empty() || !GetSourceAddressTowards(gatewayHost, address) || address.empty() ||
        address == localAddress)
        return;
    localAddress = address;
    cKeepEvent event;
    event.kind = cKeepEvent::kAddressChanged;
    event.address = address;
    Feed(event);
    Listen();
}

void cKeepLoop::Reload() {
    std::vector<cKeepEntry> entries;
    std::string error;
    if (!ReadKeepFile(line.keep.file, entries, error)) {
        Say("reload-failed", PrintableText(error) + "; keeping the running set");
        return;
    }
    cKeepEvent event;
    event.kind = cKeepEvent::kReload;
    event.entries = entries;
    Feed(event);
}

int cKeepLoop::Run(const std::vector<cKeepEntry>& entries) {
    cKeepEvent start;
    start.kind = cKeepEvent::kReload;
    start.entries = entries;
    cKeepStep step = Feed(start);
    if (line.keep.once) {
        // One pass: the search, then every add; what failed is left for the next run.
        if (!Discover())
            return kExitFailed;
        return keeper.AllHeld() ? kExitOk : kExitFailed;
    }
    for (;;) {
        switch (TakeProcessSignal()) {
        case eProcessSignal::kStop:
            // Each call deletes what is due or gives up on an unreachable
            // gateway; the bound only guards against a keeper that does neither.
            step = Feed(cKeepEvent::kStop);
            for (int i = 0; !step.finished && i <= kMaxKeptMappings; ++i)
                step = Feed(cKeepEvent::kTick);
            return kExitOk;
        case eProcessSignal::kReload:
            Reload();
            break;
        case eProcessSignal::kNone:
            break;
        }
        ReadDatagrams();
        LookAtAddress(Now());
        step = Feed(cKeepEvent::kTick);
        if (step.discover) {
            Discover();
            continue;
        }
        const tKeepTime now = Now();
        tKeepTime wakeAt = step.wakeAt;
        if (keeper.GatewayUp())
            wakeAt = std::min(wakeAt, addressCheckAt);
        listener.WaitForDatagramOrSignal(static_cast<int>(std::max<tKeepTime>(0, wakeAt - now)));
    }
}

} // namespace

std::string KeepNoticeLine(const cKeepNotice& notice, bool json) {
    if (!json)
        return PrintableText(notice.text) + "\n";
    nlohmann::ordered_json object;
    object["event"] = notice.event;
    if (!notice.protocol.empty()) {
        object["protocol"] = notice.protocol;
        object["externalPort"] = notice.externalPort;
        object["internalClient"] = NativeToUtf8(notice.internalClient);
        object["internalPort"] = notice.internalPort;
    }
    if (notice.count)
        object["count"] = notice.count;
    if (notice.failed) {
        nlohmann::ordered_json error;
        error["code"] = notice.failure.code ? nlohmann::ordered_json(notice.failure.code)
                                            : nlohmann::ordered_json(nullptr);
        error["name"] = NativeToUtf8(notice.failure.name);
        error["message"] = NativeToUtf8(notice.failure.message);
        object["error"] = error;
    }
    if (notice.ownerKnown) {
        object["owner"] = {{"internalClient", NativeToUtf8(notice.owner.internalClient)},
                           {"internalPort", notice.owner.internalPort},
                           {"description", NativeToUtf8(notice.owner.description)}};
    }
    object["message"] = NativeToUtf8(notice.text);
    return object.dump() + "\n";
}

int RunKeep(const cCommandLine& line, cUPnP& gateway, std::ostream& err) {
    std::vector<cKeepEntry> entries;
    std::string error;
    if (!ReadKeepFile(line.keep.file, entries, error)) {
        err << PrintableText(error) << "\n";
        return kExitUsage;
    }
    if (!line.keep.once)
        CatchProcessSignals();
    cKeepLoop loop(line, gateway, err);
    return loop.Run(entries);
}
