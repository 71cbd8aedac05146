#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "keep/keep_file.h"
#include "mapping/gateway.h"
#include "support/no_copy.h"

// Milliseconds on a clock that never steps back; the caller owns the clock.
using tKeepTime = std::int64_t;

// One line of the keeper's log: what happened, as a sentence and as fields.
struct cKeepNotice {
    std::string event;    // "added", "restored", "renewed", "refused", "gateway-lost", ...
    std::string text;     // the sentence for the log
    std::string protocol; // empty when the notice is not about one mapping
    int externalPort = 0;
    std::string internalClient;
    int internalPort = 0;
    int count = 0;       // "renewed", "deleted": how many
    bool failed = false; // `failure` holds the gateway's reason
    cFailure failure;
    bool ownerKnown = false; // `owner` holds who has the port
    cMapping owner;
};

// What happened since the last call.
struct cKeepEvent {
    enum eKind {
        kTick,           // time passed
        kAnnounced,      // the gateway announced itself (SSDP NOTIFY) or showed a restart
        kDiscovered,     // the search the keeper asked for found the gateway
        kNotDiscovered,  // ... and found nothing
        kAddressChanged, // this host's address towards the gateway changed
        kReload,         // a new declared set (the first one starts the keeper)
        kStop,           // delete what this keeper added, then finish
    };
    eKind kind = kTick;
    bool alive = true;               // kAnnounced: ssdp:alive (false: ssdp:byebye)
    std::string bootId;              // kAnnounced: BOOTID.UPNP.ORG, or empty
    bool restarted = false;          // kAnnounced: PCP showed a restart (epoch, ANNOUNCE)
    std::string address;             // kDiscovered, kAddressChanged: this host's address
    std::vector<cKeepEntry> entries; // kReload
};

// What the caller does next.
struct cKeepStep {
    tKeepTime wakeAt = 0;  // call again with kTick by then (it may be now)
    bool discover = false; // search for the gateway now, then report kDiscovered or kNotDiscovered
    bool finished = false; // after kStop: nothing left to delete
    std::vector<cKeepNotice> notices;
};

// Holds a declared set of mappings open on one gateway: adds them, checks
// them, renews their leases, restores them after the gateway lost them, and
// deletes what it added when told to stop. It never waits and never reads a
// clock: the caller passes the time with each event and waits until wakeAt.
class cKeeper : no_copy {
  public:
    struct cSettings {
        int leaseSeconds = 3600; // 0: as long as the gateway allows
        int checkSeconds = 30;
        // What the search looks for, as the log names it.
        std::string gatewayKind = "UPnP gateway";
    };

    enum class eState {
        kWanted,  // to be added at dueAt
        kHeld,    // in place; checked at checkAt, renewed at renewAt
        kMissing, // the gateway lost it: to be added again at dueAt
        kRefused, // the gateway said no; tried again at dueAt, with back-off
        kLeaving, // to be deleted at dueAt
    };

    struct cKept {
        cKeepEntry declared;
        eState state = eState::kWanted;
        bool ours = false;       // this keeper added it and nobody took it since
        std::string heldClient;  // the client it was added for
        std::string staleClient; // an earlier client to delete before the next add
        tKeepTime dueAt = 0;
        tKeepTime checkAt = 0;
        tKeepTime renewAt = 0; // 0: never (a lease without end)
        int tries = 0;         // failed attempts since the last success
        std::string why;       // why the next add is a restore ("after the gateway restarted")
        std::string reported;  // the failure last logged, so that each is said once
        bool everHeld = false;
        bool moving = false; // the next add follows this host to a new address
        bool gone = false;   // deleted or dropped: leaves the table
        int grantedPort = 0; // the external port the gateway granted instead (PCP, NAT-PMP)

        // The external port to check and delete: the granted one, if any.
        int HeldPort() const { return grantedPort ? grantedPort : declared.mapping.externalPort; }
    };

    cKeeper(cMappingGateway& gateway, const cSettings& settings);

    cKeepStep Handle(const cKeepEvent& event, tKeepTime now);

    const std::vector<cKept>& Table() const { return table; }
    bool GatewayUp() const { return gatewayUp; }
    // Every declared mapping is in place.
    bool AllHeld() const;

  private:
    void Reload(const std::vector<cKeepEntry>& entries, tKeepTime now, cKeepStep& step);
    void Stop(tKeepTime now);
    void Announced(const cKeepEvent& event, tKeepTime now, cKeepStep& step);
    void Discovered(const std::string& address, tKeepTime now, cKeepStep& step);
    void AddressChanged(const std::string& address, tKeepTime now, cKeepStep& step);
    void Verify(tKeepTime now, const std::string& why);
    void DoDueWork(tKeepTime now, cKeepStep& step);
    // Each returns false when the gateway could not be reached.
    bool Add(cKept& kept, tKeepTime now, bool renewal, cKeepStep& step);
    bool Check(cKept& kept, tKeepTime now, cKeepStep& step);
    bool Leave(cKept& kept, cKeepStep& step);
    void GatewayLost(tKeepTime now, cKeepStep& step);
    void Refused(cKept& kept, const cFailure& failure, const cAddResult& result, tKeepTime now,
                 cKeepStep& step);
    tKeepTime BackOff(int tries) const;
    tKeepTime DueAt(const cKept& kept) const;
    cMapping Wanted(const cKept& kept) const;
    cKeepNotice Notice(const std::string& event, const cKept& kept, const std::string& text) const;

    cMappingGateway& gateway;
    cSettings settings;
    std::vector<cKept> table;
    std::string localAddress;
    bool started = false;
    bool stopping = false;
    bool gatewayUp = false;
    bool everFound = false;
    tKeepTime discoverAt = 0;
    int discoverTries = 0;
    std::string bootId;
    bool saidGoodbye = false;
    tKeepTime announcedAt = -1;
    tKeepTime verifiedAt = -1;
    tKeepTime holdUntil = 0; // no requests before this (a gateway starting up)
    bool searchReported = false;
    bool sayFirst = false; // the event is logged before the work it causes
    int renewed = 0;
};

const char* KeepStateName(cKeeper::eState state);
