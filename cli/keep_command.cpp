#include "cli/keep_command.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "keep/keep_file.h"
#include "net/interfaces.h"
#include "net/multicast_listener.h"
#include "net/ssdp.h"
#include "net/ssdp_notify.h"
#include "pcp/client.h"
#include "pcp/mapping_gateway.h"
#include "pcp/mapping_store.h"
#include "pcp/packet.h"
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

enum class eKeptProtocol { kUndecided, kUpnp, kPcp, kNatPmp };

eKeptProtocol FirstProtocol(const cCommandLine& line, const cPcpSettings* pcp) {
    switch (line.protocol) {
    case eProtocolChoice::kUpnp:
        return eKeptProtocol::kUpnp;
    case eProtocolChoice::kPcp:
        return eKeptProtocol::kPcp;
    case eProtocolChoice::kNatPmp:
        return eKeptProtocol::kNatPmp;
    case eProtocolChoice::kAuto:
        break;
    }
    // A gateway or interface given names a UPnP search, as for the other commands.
    return pcp && line.gatewayUrl.empty() && line.interfaceName.empty() ? eKeptProtocol::kUndecided
                                                                        : eKeptProtocol::kUpnp;
}

const char* GatewayKind(eKeptProtocol protocol) {
    switch (protocol) {
    case eKeptProtocol::kUndecided:
        return "UPnP gateway, PCP or NAT-PMP server";
    case eKeptProtocol::kUpnp:
        break;
    case eKeptProtocol::kPcp:
        return "PCP server at the default gateway";
    case eKeptProtocol::kNatPmp:
        return "NAT-PMP server at the default gateway";
    }
    return "UPnP gateway";
}

// The keeper holds one gateway interface for its life; with --protocol auto
// the protocol behind it is known only once a gateway answered.
class cChosenGateway : public cMappingGateway {
  public:
    cChosenGateway() {
        none.name = "NoGateway";
        none.message = "no gateway has answered yet";
    }
    void Choose(cMappingGateway* chosen) { target = chosen; }

    bool GetExternalAddress(std::string& out) override {
        return target && target->GetExternalAddress(out);
    }
    bool Add(const cMapping& wanted, cAddResult& result) override {
        return target && target->Add(wanted, result);
    }
    bool Find(const std::string& protocol, int externalPort, bool& found, cMapping& out) override {
        return target && target->Find(protocol, externalPort, found, out);
    }
    bool Delete(const std::string& protocol, int externalPort) override {
        return target && target->Delete(protocol, externalPort);
    }
    const cFailure& LastFailure() const override { return target ? target->LastFailure() : none; }

  private:
    cMappingGateway* target = nullptr;
    cFailure none;
};

// The wiring around the keeper: the gateway client (UPnP, or PCP and NAT-PMP),
// the clock, the listener for the gateway's announcements (SSDP, or PCP's
// ANNOUNCE), the signals and the log.
class cKeepLoop : no_copy {
  public:
    cKeepLoop(const cCommandLine& line, cUPnP& client, const cPcpSettings* pcp, std::ostream& err)
        : line(line), client(client), pcp(pcp), protocol(FirstProtocol(line, pcp)),
          upnpMappings(client), store(pcp ? pcp->storePath : ""), err(err),
          keeper(mappings, Settings(line.keep, protocol)) {
        if (protocol == eKeptProtocol::kUpnp)
            mappings.Choose(&upnpMappings);
        store.Load();
        // The keeper renews its own mappings: a look before each add would only cost time.
        upnpMappings.SetLookBeforeAdd(false);
    }

    int Run(const std::vector<cKeepEntry>& entries);

  private:
    static cKeeper::cSettings Settings(const cKeepOptions& options, eKeptProtocol protocol) {
        cKeeper::cSettings settings;
        settings.leaseSeconds = options.leaseSeconds;
        settings.checkSeconds = options.checkSeconds;
        settings.gatewayKind = GatewayKind(protocol);
        return settings;
    }
    bool OverPcp() const {
        return protocol == eKeptProtocol::kPcp || protocol == eKeptProtocol::kNatPmp;
    }

    cKeepStep Feed(const cKeepEvent& event) {
        cKeepStep step = keeper.Handle(event, Now());
        for (const cKeepNotice& notice : step.notices)
            err << KeepNoticeLine(notice, line.json) << std::flush;
        // An exchange showed the gateway's epoch going backwards: it lost
        // every mapping, as a new boot id says over UPnP.
        if (pcpMappings && pcpMappings->TakeGatewayRestart()) {
            cKeepEvent restart;
            restart.kind = cKeepEvent::kAnnounced;
            restart.restarted = true;
            return Feed(restart);
        }
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
    bool Detect();
    bool FindUpnp();
    bool FindPcp();
    void Listen();
    void ReadDatagrams();
    void ReadNotify(const std::string& datagram);
    void ReadAnnounce(std::string datagram);
    void LookAtAddress(tKeepTime now);
    void Reload();

    const cCommandLine& line;
    cUPnP& client;
    const cPcpSettings* pcp;
    eKeptProtocol protocol;
    cUPnPMappingGateway upnpMappings;
    std::unique_ptr<cPcpClient> pcpClient;
    cMappingStore store;
    std::unique_ptr<cPcpMappingGateway> pcpMappings;
    cChosenGateway mappings;
    std::ostream& err;
    cKeeper keeper;
    cMulticastListener listener;
    std::string listeningOn;
    std::string gatewayHost;
    std::string localAddress;
    tKeepTime addressCheckAt = 0;
    bool saidNatPmpOnly = false;
};

bool cKeepLoop::Discover() {
    bool found = false;
    switch (protocol) {
    case eKeptProtocol::kUndecided:
        found = Detect();
        break;
    case eKeptProtocol::kUpnp:
        found = FindUpnp();
        break;
    case eKeptProtocol::kPcp:
    case eKeptProtocol::kNatPmp:
        found = FindPcp();
        break;
    }
    if (!found) {
        if (line.keep.once)
            Say("gateway-not-found", std::string("no ") + GatewayKind(protocol) + " found");
        else
            Feed(cKeepEvent::kNotDiscovered);
        return false;
    }
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

// --protocol auto: the protocol that answers first stays for the keeper's life.
bool cKeepLoop::Detect() {
    // Its "nothing found" line would repeat with every search: the keeper says it once.
    std::ostringstream quiet;
    switch (DetectProtocol(line, client, *pcp, 0, quiet)) {
    case eProtocolFound::kNone:
        return false;
    case eProtocolFound::kUpnp:
        protocol = eKeptProtocol::kUpnp;
        mappings.Choose(&upnpMappings);
        gatewayHost.clear();
        GetGatewayHost(client, gatewayHost);
        localAddress.clear();
        client.GetLocalAddress(localAddress);
        return true;
    case eProtocolFound::kPcp:
        protocol = eKeptProtocol::kPcp;
        break;
    case eProtocolFound::kNatPmp:
        protocol = eKeptProtocol::kNatPmp;
        break;
    }
    return FindPcp();
}

bool cKeepLoop::FindUpnp() {
    if (!client.Discover(line.timeoutMs))
        return false;
    gatewayHost.clear();
    GetGatewayHost(client, gatewayHost);
    localAddress.clear();
    client.GetLocalAddress(localAddress);
    return true;
}

// The server at the default gateway (or the one configured) answers the
// external address request; its epoch is watched from then on.
bool cKeepLoop::FindPcp() {
    std::string server = pcp->server;
    std::string local = pcp->localAddress;
    if ((server.empty() && !GetDefaultGateway(server)) ||
        (local.empty() && !GetSourceAddressTowards(server, local)))
        return false;
    // Another server has another epoch and other nonces.
    if (!pcpClient || pcpClient->ServerAddress() != server) {
        pcpMappings.reset();
        mappings.Choose(nullptr);
        pcpClient = std::make_unique<cPcpClient>();
        if (!pcpClient->Open(server, pcp->port)) {
            pcpClient.reset();
            return false;
        }
    }
    const ePcpDialect dialect =
        protocol == eKeptProtocol::kNatPmp ? ePcpDialect::kNatPmp : ePcpDialect::kPcp;
    if (!pcpMappings)
        pcpMappings =
            std::make_unique<cPcpMappingGateway>(*pcpClient, dialect, local, store, line.timeoutMs);
    pcpMappings->SetLocalAddress(local);
    mappings.Choose(pcpMappings.get());
    // A refusal is an answer: the server is there (miniupnpd refuses the
    // lifetime-0 request it takes for a delete, naming its address).
    std::string external;
    const bool answered =
        pcpMappings->GetExternalAddress(external) || pcpMappings->LastFailure().code != 0;
    if (pcpMappings->ServerSpeaksNatPmpOnly()) {
        if (!saidNatPmpOnly)
            Say("gateway-not-found", "the gateway speaks NAT-PMP only: use --protocol natpmp");
        saidNatPmpOnly = true;
        return false;
    }
    if (!answered)
        return false;
    gatewayHost = server;
    localAddress = local;
    return true;
}

// Joins the group the gateway announces itself to on the interface towards
// it, again whenever that interface's address changes.
void cKeepLoop::Listen() {
    if (localAddress.empty() || (listener.IsOpen() && listeningOn == localAddress))
        return;
    listener.Close();
    listeningOn = localAddress;
    const bool opened = OverPcp()
                            ? listener.Open(kPcpAnnounceGroup, pcp->announcePort, localAddress)
                            : listener.Open(kSsdpGroup, kSsdpPort, localAddress);
    if (!opened)
        Say("listen-failed", "cannot listen for the gateway's announcements on " +
                                 PrintableText(localAddress) + ": restarts show at the next check");
}

void cKeepLoop::ReadDatagrams() {
    std::string datagram;
    for (int i = 0; i < kDatagramsPerWake && listener.IsOpen() && listener.RecvFrom(datagram, 0);
         ++i) {
        if (OverPcp())
            ReadAnnounce(datagram);
        else
            ReadNotify(datagram);
    }
}

void cKeepLoop::ReadNotify(const std::string& datagram) {
    cSsdpNotify notify;
    // A datagram carrying a NUL is read up to it, as a C text would be.
    if (!ParseSsdpNotify(datagram.c_str(), notify))
        return;
    const std::string sender = AddressText(listener.peerAddress);
    if (gatewayHost.empty() ? !IsGatewayNotify(notify) : sender != gatewayHost)
        return;
    cKeepEvent event;
    event.kind = cKeepEvent::kAnnounced;
    event.alive = notify.nts != "ssdp:byebye";
    event.bootId = notify.bootId;
    Feed(event);
}

void cKeepLoop::ReadAnnounce(std::string datagram) {
    // Anyone on the link can send to the group: only the gateway speaks for itself.
    if (!pcpMappings || AddressText(listener.peerAddress) != gatewayHost)
        return;
    if (!datagram.empty())
        datagram.pop_back(); // the terminating zero RecvFrom adds
    pcpMappings->Announced(DecodeAnswer(datagram));
    // Feed takes the restart, when it was one.
    Feed(cKeepEvent::kTick);
}

void cKeepLoop::LookAtAddress(tKeepTime now) {
    // An address given for PCP stays.
    if (now < addressCheckAt || !keeper.GatewayUp() || (OverPcp() && !pcp->localAddress.empty()))
        return;
    addressCheckAt = now + kAddressCheckMs;
    // The route towards the gateway only: the host-name fallback of
    // GetLocalAddress could name another interface while the link is down.
    std::string address;
    if (gatewayHost.empty() || !GetSourceAddressTowards(gatewayHost, address) || address.empty() ||
        address == localAddress)
        return;
    localAddress = address;
    if (pcpMappings)
        pcpMappings->SetLocalAddress(address);
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

int RunKeep(const cCommandLine& line, cUPnP& gateway, const cPcpSettings* pcp, std::ostream& err) {
    std::vector<cKeepEntry> entries;
    std::string error;
    if (!ReadKeepFile(line.keep.file, entries, error)) {
        err << PrintableText(error) << "\n";
        return kExitUsage;
    }
    const eKeptProtocol protocol = FirstProtocol(line, pcp);
    if ((protocol == eKeptProtocol::kPcp || protocol == eKeptProtocol::kNatPmp) && !pcp) {
        err << "PCP and NAT-PMP are not available here\n";
        return kExitUsage;
    }
    if (!line.keep.once)
        CatchProcessSignals();
    cKeepLoop loop(line, gateway, pcp, err);
    return loop.Run(entries);
}
