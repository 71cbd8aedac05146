#include "keep/keeper.h"

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr const char* kHost = "192.168.1.20";
constexpr const char* kOtherHost = "192.168.1.30";

// A gateway in memory: a mapping table, a switch for being out of reach, a
// fault every action answers, ports other hosts hold; every call is recorded.
class cFakeMappings : public cMappingGateway {
  public:
    bool GetExternalAddress(std::string& out) override {
        out = "203.0.113.1";
        return Reached();
    }
    bool Add(const cMapping& wanted, cAddResult& result) override {
        Record("Add", wanted.protocol, wanted.externalPort);
        result = cAddResult();
        if (!Reached())
            return false;
        const std::string key = Key(wanted.protocol, wanted.externalPort);
        const auto there = table.find(key);
        if (there != table.end() && there->second.internalClient != wanted.internalClient &&
            held.count(key)) {
            result.ownerKnown = true;
            result.owner = there->second;
            return Fail(718, "ConflictInMappingEntry");
        }
        // A gateway that grants another port maps that one instead.
        const auto granted = grants.find(key);
        const std::string mapped =
            granted == grants.end() ? key : Key(wanted.protocol, granted->second);
        table[mapped] = wanted;
        table[mapped].externalPort =
            granted == grants.end() ? wanted.externalPort : granted->second;
        table[mapped].leaseSeconds = wanted.leaseSeconds == 0 ? 604800 : wanted.leaseSeconds;
        result.kept = table[mapped];
        return true;
    }
    bool Find(const std::string& protocol, int port, bool& found, cMapping& out) override {
        Record("Find", protocol, port);
        found = false;
        if (!Reached())
            return false;
        const auto there = table.find(Key(protocol, port));
        found = there != table.end();
        if (found)
            out = there->second;
        return true;
    }
    bool Delete(const std::string& protocol, int port) override {
        Record("Delete", protocol, port);
        if (!Reached())
            return false;
        table.erase(Key(protocol, port));
        return true;
    }
    const cFailure& LastFailure() const override { return failure; }

    static std::string Key(const std::string& protocol, int port) {
        return protocol + " " + std::to_string(port);
    }
    // Another host holds the port: adds for anyone else are refused.
    void HeldByOther(const std::string& protocol, int port) {
        cMapping other;
        other.protocol = protocol;
        other.externalPort = port;
        other.internalClient = kOtherHost;
        other.internalPort = port;
        table[Key(protocol, port)] = other;
        held.insert({Key(protocol, port), true});
    }
    std::string TakeCalls() {
        std::string text;
        for (const std::string& call : calls)
            text += (text.empty() ? "" : "; ") + call;
        calls.clear();
        return text;
    }

    std::map<std::string, cMapping> table;
    std::map<std::string, bool> held;
    std::map<std::string, int> grants; // asked "TCP 5000" -> port granted
    bool reachable = true;
    int faultCode = 0;
    std::vector<std::string> calls;
    int callCount = 0;

  private:
    void Record(const char* what, const std::string& protocol, int port) {
        calls.push_back(std::string(what) + " " + Key(protocol, port));
        ++callCount;
    }
    bool Reached() {
        failure = cFailure();
        if (!reachable) {
            failure.name = "NoConnection";
            failure.message = "could not connect to the gateway";
            return false;
        }
        return faultCode == 0 || Fail(faultCode, "ActionFailed");
    }
    bool Fail(int code, const char* name) {
        failure.code = code;
        failure.name = name;
        failure.message = "refused";
        return false;
    }
    cFailure failure;
};

cKeepEntry Entry(const char* protocol, int port, const char* client = nullptr) {
    cKeepEntry entry;
    entry.mapping.protocol = protocol;
    entry.mapping.externalPort = port;
    entry.mapping.internalPort = port;
    entry.followsHost = client == nullptr;
    if (client)
        entry.mapping.internalClient = client;
    return entry;
}

cKeepEvent Event(cKeepEvent::eKind kind) {
    cKeepEvent event;
    event.kind = kind;
    return event;
}

cKeepEvent Reload(const std::vector<cKeepEntry>& entries) {
    cKeepEvent event = Event(cKeepEvent::kReload);
    event.entries = entries;
    return event;
}

cKeepEvent Found(const std::string& address = kHost) {
    cKeepEvent event = Event(cKeepEvent::kDiscovered);
    event.address = address;
    return event;
}

cKeepEvent Alive(const std::string& bootId, bool alive = true) {
    cKeepEvent event = Event(cKeepEvent::kAnnounced);
    event.bootId = bootId;
    event.alive = alive;
    return event;
}

std::string Events(const cKeepStep& step) {
    std::string text;
    for (const cKeepNotice& notice : step.notices)
        text += (text.empty() ? "" : " ") + notice.event;
    return text;
}

cKeeper::cSettings Settings(int lease = 3600, int check = 30) {
    cKeeper::cSettings settings;
    settings.leaseSeconds = lease;
    settings.checkSeconds = check;
    return settings;
}

// A keeper holding TCP 8080 for this host since time 0, the gateway's boot id "1".
struct cHolding {
    cFakeMappings gateway;
    cKeeper keeper{gateway, Settings()};
    cHolding() {
        keeper.Handle(Reload({Entry("TCP", 8080)}), 0);
        keeper.Handle(Found(), 0);
        keeper.Handle(Alive("1"), 0);
        gateway.TakeCalls();
    }
};

enum class eGateway { kAsAdded, kLost, kElsewhere, kOtherHost, kUnreachable, kFault };

struct cRow {
    const char* name;
    eGateway gateway;
    cKeepEvent event;
    tKeepTime at;
    const char* calls;
    const char* state; // "gone" when the mapping left the table
    const char* notices;
    bool finished = false;
};

// PCP's epoch went backwards, or an ANNOUNCE came: no boot id, no goodbye.
cKeepEvent Restarted() {
    cKeepEvent event = Event(cKeepEvent::kAnnounced);
    event.restarted = true;
    return event;
}

cKeepEvent Moved() {
    cKeepEvent event = Event(cKeepEvent::kAddressChanged);
    event.address = "192.168.1.21";
    return event;
}

TEST(Keeper, HeldMappingReactsToEachEventAsTheTableSays) {
    const cRow rows[] = {
        {"nothing due yet", eGateway::kAsAdded, Event(cKeepEvent::kTick), 29999, "", "held", ""},
        {"check finds it", eGateway::kAsAdded, Event(cKeepEvent::kTick), 30000, "Find TCP 8080",
         "held", ""},
        {"check finds it missing", eGateway::kLost, Event(cKeepEvent::kTick), 30000,
         "Find TCP 8080; Add TCP 8080", "held", "restored"},
        {"check finds it pointing elsewhere", eGateway::kElsewhere, Event(cKeepEvent::kTick), 30000,
         "Find TCP 8080; Add TCP 8080", "held", "restored"},
        {"another host took it", eGateway::kOtherHost, Event(cKeepEvent::kTick), 30000,
         "Find TCP 8080; Add TCP 8080", "refused", "refused"},
        {"gateway out of reach", eGateway::kUnreachable, Event(cKeepEvent::kTick), 30000,
         "Find TCP 8080", "held", "gateway-lost"},
        {"gateway answers 501", eGateway::kFault, Event(cKeepEvent::kTick), 30000, "Find TCP 8080",
         "held", "check-failed"},
        {"half the lease passed", eGateway::kAsAdded, Event(cKeepEvent::kTick), 1800000,
         "Add TCP 8080", "held", "renewed"},
        {"new boot id, mapping lost", eGateway::kLost, Alive("2"), 5000,
         "Find TCP 8080; Add TCP 8080", "held", "gateway-restarted restored"},
        {"new boot id, mapping kept", eGateway::kAsAdded, Alive("2"), 5000, "Find TCP 8080", "held",
         "gateway-restarted"},
        {"same boot id again", eGateway::kLost, Alive("1"), 5000, "", "held", ""},
        {"restart without boot id, mapping lost", eGateway::kLost, Restarted(), 5000,
         "Find TCP 8080; Add TCP 8080", "held", "gateway-restarted restored"},
        {"restart without boot id, gateway not up yet", eGateway::kUnreachable, Restarted(), 5000,
         "Find TCP 8080", "held", "gateway-restarted"},
        {"goodbye", eGateway::kAsAdded, Alive("1", false), 5000, "", "held", "gateway-leaving"},
        {"address changed", eGateway::kAsAdded, Moved(), 5000, "Delete TCP 8080; Add TCP 8080",
         "held", "address-changed moved"},
        {"reload without it", eGateway::kAsAdded, Reload({}), 5000, "Delete TCP 8080", "gone",
         "reloaded deleted"},
        {"reload unchanged", eGateway::kAsAdded, Reload({Entry("TCP", 8080)}), 5000, "", "held",
         "reloaded"},
        {"stop", eGateway::kAsAdded, Event(cKeepEvent::kStop), 5000, "Delete TCP 8080", "gone",
         "deleted", true},
        {"stop, gateway out of reach", eGateway::kUnreachable, Event(cKeepEvent::kStop), 5000,
         "Delete TCP 8080", "gone", "delete-failed", true},
    };
    for (const cRow& row : rows) {
        SCOPED_TRACE(row.name);
        cHolding h;
        const std::string key = cFakeMappings::Key("TCP", 8080);
        switch (row.gateway) {
        case eGateway::kAsAdded:
            break;
        case eGateway::kLost:
            h.gateway.table.clear();
            break;
        case eGateway::kElsewhere:
            h.gateway.table[key].internalClient = kOtherHost;
            break;
        case eGateway::kOtherHost:
            h.gateway.HeldByOther("TCP", 8080);
            break;
        case eGateway::kUnreachable:
            h.gateway.reachable = false;
            break;
        case eGateway::kFault:
            h.gateway.faultCode = 501;
            break;
        }
        // The work an event causes may come with the tick at the same time.
        cKeepStep step = h.keeper.Handle(row.event, row.at);
        if (step.wakeAt == row.at && !step.finished) {
            const cKeepStep tick = h.keeper.Handle(Event(cKeepEvent::kTick), row.at);
            step.notices.insert(step.notices.end(), tick.notices.begin(), tick.notices.end());
            step.finished = tick.finished;
        }
        EXPECT_EQ(h.gateway.TakeCalls(), row.calls);
        const auto& table = h.keeper.Table();
        EXPECT_EQ(table.empty() ? "gone" : KeepStateName(table[0].state), std::string(row.state));
        EXPECT_EQ(Events(step), row.notices);
        EXPECT_EQ(step.finished, row.finished);
    }
}

TEST(Keeper, AsksForDiscoveryFirstThenAddsEverything) {
    cFakeMappings gateway;
    cKeeper keeper(gateway, Settings());
    cKeepStep step = keeper.Handle(Reload({Entry("TCP", 8080), Entry("UDP", 9000, kOtherHost)}), 0);
    EXPECT_TRUE(step.discover);
    EXPECT_EQ(gateway.TakeCalls(), "");
    step = keeper.Handle(Found(), 40);
    EXPECT_EQ(gateway.TakeCalls(), "Add TCP 8080; Add UDP 9000");
    EXPECT_EQ(Events(step), "gateway-found added added");
    EXPECT_EQ(step.notices[1].text, "added TCP 8080 -> 192.168.1.20:8080, lease 3600 s");
    EXPECT_EQ(gateway.table["UDP 9000"].internalClient, kOtherHost);
    EXPECT_TRUE(keeper.AllHeld());
    EXPECT_EQ(step.wakeAt, 30040);
    // The first boot id heard has the mappings looked at once; the same again does not.
    keeper.Handle(Alive("7"), 6000);
    EXPECT_EQ(gateway.TakeCalls(), "Find TCP 8080; Find UDP 9000");
    keeper.Handle(Alive("7"), 12000);
    EXPECT_EQ(gateway.TakeCalls(), "");
}

TEST(Keeper, SearchBacksOffFromOneSecondToTheCheckIntervalAndSaysSoOnce) {
    cFakeMappings gateway;
    cKeeper keeper(gateway, Settings(3600, 30));
    keeper.Handle(Reload({Entry("TCP", 8080)}), 0);
    keeper.Handle(Found(), 0);
    gateway.reachable = false;
    cKeepStep step = keeper.Handle(Event(cKeepEvent::kTick), 30000);
    EXPECT_EQ(Events(step), "gateway-lost");
    std::vector<tKeepTime> delays;
    tKeepTime now = 30000;
    std::string said;
    for (int i = 0; i < 8; ++i) {
        delays.push_back(step.wakeAt - now);
        now = step.wakeAt;
        step = keeper.Handle(Event(cKeepEvent::kTick), now);
        ASSERT_TRUE(step.discover);
        step = keeper.Handle(Event(cKeepEvent::kNotDiscovered), now);
        said += Events(step);
    }
    EXPECT_EQ(delays, (std::vector<tKeepTime>{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
    EXPECT_EQ(said, "");
    gateway.reachable = true;
    gateway.table.clear();
    step = keeper.Handle(Found(), now);
    EXPECT_EQ(Events(step), "gateway-found restored");
    EXPECT_EQ(step.notices[1].text, "restored TCP 8080 after the gateway came back");
}

TEST(Keeper, GatewayStartingUpIsAskedAgainSoonNotTakenForLost) {
    cHolding h;
    h.gateway.reachable = false;
    cKeepStep step = h.keeper.Handle(Alive("2"), 1000);
    EXPECT_EQ(Events(step), "gateway-restarted");
    EXPECT_EQ(step.wakeAt, 1000);
    EXPECT_EQ(h.gateway.TakeCalls(), "");
    step = h.keeper.Handle(Event(cKeepEvent::kTick), 1000);
    EXPECT_EQ(Events(step), "");
    EXPECT_EQ(step.wakeAt, 1050);
    h.gateway.reachable = true;
    h.gateway.table.clear();
    step = h.keeper.Handle(Event(cKeepEvent::kTick), 1050);
    EXPECT_EQ(Events(step), "restored");
    EXPECT_EQ(step.notices[0].text, "restored TCP 8080 after the gateway restarted");
}

TEST(Keeper, PortOfAnotherHostIsReportedOnceRetriedWithBackOffAndNeverDeleted) {
    cFakeMappings gateway;
    gateway.HeldByOther("TCP", 22000);
    cKeeper keeper(gateway, Settings(3600, 30));
    keeper.Handle(Reload({Entry("TCP", 22000), Entry("TCP", 8080)}), 0);
    cKeepStep step = keeper.Handle(Found(), 0);
    EXPECT_EQ(Events(step), "gateway-found refused added");
    EXPECT_EQ(step.notices[1].text,
              "the gateway refused TCP 22000: 718 ConflictInMappingEntry: refused; held by "
              "192.168.1.30:22000; trying again with back-off");
    gateway.TakeCalls();
    int adds = 0;
    std::string said;
    for (tKeepTime now = step.wakeAt; now <= 600000; now = step.wakeAt) {
        step = keeper.Handle(Event(cKeepEvent::kTick), now);
        said += Events(step);
        for (const std::string& call : gateway.calls)
            adds += call == "Add TCP 22000";
        gateway.calls.clear();
    }
    // 1+2+4+8+16 s, then every 30 s for the rest of ten minutes.
    EXPECT_EQ(adds, 5 + (600 - 31) / 30);
    EXPECT_EQ(said.find("refused"), std::string::npos);
    keeper.Handle(Event(cKeepEvent::kStop), 600001);
    EXPECT_EQ(gateway.TakeCalls(), "Delete TCP 8080");
    EXPECT_EQ(gateway.table["TCP 22000"].internalClient, kOtherHost);
}

TEST(Keeper, GatewayThatFailsEveryActionCostsBoundedRequestsAndOneLinePerMapping) {
    cHolding h;
    h.gateway.faultCode = 501;
    cKeepStep step;
    int lines = 0;
    for (tKeepTime now = 30000; now <= 3600000; now = step.wakeAt) {
        step = h.keeper.Handle(Event(cKeepEvent::kTick), now);
        lines += static_cast<int>(step.notices.size());
        ASSERT_GT(step.wakeAt, now);
    }
    // One check a check interval at most, and the renewal with its retries.
    EXPECT_LT(h.gateway.callCount, 2 * 3600 / 30);
    EXPECT_EQ(lines, 1); // the same 501 from the check and the renewal is said once
}

TEST(Keeper, AddressChangeMovesOnlyTheMappingsThatFollowThisHost) {
    cFakeMappings gateway;
    cKeeper keeper(gateway, Settings());
    keeper.Handle(Reload({Entry("TCP", 8080), Entry("TCP", 8081, "192.168.1.50")}), 0);
    keeper.Handle(Found(), 0);
    gateway.TakeCalls();
    const cKeepStep step = keeper.Handle(Moved(), 1000);
    EXPECT_EQ(gateway.TakeCalls(), "Delete TCP 8080; Add TCP 8080");
    EXPECT_EQ(step.notices.back().text, "moved TCP 8080 to 192.168.1.21:8080");
    EXPECT_EQ(gateway.table["TCP 8080"].internalClient, "192.168.1.21");
    EXPECT_EQ(gateway.table["TCP 8081"].internalClient, "192.168.1.50");
}

TEST(Keeper, ReloadAddsNewDeletesUnlistedAndRepointsChanged) {
    cFakeMappings gateway;
    cKeeper keeper(gateway, Settings());
    keeper.Handle(Reload({Entry("TCP", 1), Entry("TCP", 2), Entry("TCP", 3)}), 0);
    keeper.Handle(Found(), 0);
    gateway.TakeCalls();
    const cKeepStep step = keeper.Handle(
        Reload({Entry("TCP", 1), Entry("TCP", 3, "192.168.1.50"), Entry("UDP", 4)}), 1000);
    EXPECT_EQ(gateway.TakeCalls(), "Delete TCP 2; Delete TCP 3; Add TCP 3; Add UDP 4");
    EXPECT_EQ(step.notices.front().text, "read the keep file again: 1 new, 1 removed, 1 changed");
    EXPECT_EQ(gateway.table.size(), 3u);
    EXPECT_EQ(gateway.table["TCP 3"].internalClient, "192.168.1.50");
}

TEST(Keeper, MappingOnAnotherPortThanAskedIsCheckedAndDeletedWhereGranted) {
    cFakeMappings gateway;
    gateway.grants["TCP 5000"] = 5001;
    cKeeper keeper(gateway, Settings(3600, 30));
    keeper.Handle(Reload({Entry("TCP", 5000)}), 0);
    keeper.Handle(Found(), 0);
    EXPECT_EQ(gateway.TakeCalls(), "Add TCP 5000");
    const cKeepStep check = keeper.Handle(Event(cKeepEvent::kTick), 30000);
    EXPECT_EQ(gateway.TakeCalls(), "Find TCP 5001");
    EXPECT_EQ(Events(check), "");
    keeper.Handle(Reload({}), 31000);
    EXPECT_EQ(gateway.TakeCalls(), "Delete TCP 5001");
    EXPECT_TRUE(gateway.table.empty());
}

TEST(Keeper, DayOfShortLeasesIsRenewedAtHalfTimeAndNeverLapses) {
    cFakeMappings gateway;
    cKeeper keeper(gateway, Settings(20, 30));
    keeper.Handle(Reload({Entry("TCP", 1), Entry("UDP", 2)}), 0);
    cKeepStep step = keeper.Handle(Found(), 0);
    int renewals = 0;
    tKeepTime last = 0;
    tKeepTime longest = 0;
    while (step.wakeAt <= 86400000) {
        const tKeepTime now = step.wakeAt;
        step = keeper.Handle(Event(cKeepEvent::kTick), now);
        for (const cKeepNotice& notice : step.notices) {
            ASSERT_EQ(notice.event, "renewed");
            renewals += notice.count;
            longest = std::max(longest, now - last);
            last = now;
        }
    }
    EXPECT_EQ(renewals, 2 * 86400 / 10);
    EXPECT_EQ(longest, 10000);
}

} // namespace
