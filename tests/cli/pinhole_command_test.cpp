#include "cli/pinhole_command.h"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "upnp/fault.h"

namespace {

using cArgs = std::vector<std::string>;

// A gateway whose search result, firewall status and answers the test sets,
// and whose calls it records.
class cFakePinholes : public cPinholes {
public:
    eFound Discover(int, const std::string&, cPinholeFound& out) override {
        out = found;
        return result;
    }
    bool GetFirewallStatus(bool& enabled, bool& inboundAllowed) override {
        calls.push_back("GetFirewallStatus");
        enabled = firewallEnabled;
        inboundAllowed = inboundPinholeAllowed;
        return true;
    }
    bool Add(const cPinhole& pinhole, std::string& uniqueId) override {
        calls.push_back("AddPinhole " + pinhole.internalClient);
        uniqueId = "7";
        return Answer();
    }
    bool Update(const std::string& id, int lease) override {
        calls.push_back("UpdatePinhole " + id + " " + std::to_string(lease));
        return Answer();
    }
    bool Delete(const std::string& id) override {
        calls.push_back("DeletePinhole " + id);
        return Answer();
    }
    ePinholeCheck Check(const std::string& id) override {
        calls.push_back("CheckPinholeWorking " + id);
        if (refusal == kUpnpNoPacketSent) {
            failure = UpnpFailure(refusal, "");
            return ePinholeCheck::kNoPacketSent;
        }
        return Answer() ? ePinholeCheck::kWorking : ePinholeCheck::kFailed;
    }
    bool GetPackets(const std::string& id, std::string& packets) override {
        calls.push_back("GetPinholePackets " + id);
        packets = "0";
        return true;
    }
    const cFailure& LastFailure() const override { return failure; }

    eFound result = kFound;
    cPinholeFound found{"fd00:77::20", "eth0", "http://[fd00:77::1]:5000/rootDesc.xml", "m", ""};
    bool firewallEnabled = true;
    bool inboundPinholeAllowed = true;
    int refusal = 0; // the UPnP error every action answers; 0: success
    std::vector<std::string> calls;
    cFailure failure;

private:
    bool Answer() {
        if (!refusal)
            return true;
        failure = UpnpFailure(refusal, "");
        return false;
    }
};

struct cRun {
    int status;
    std::string out;
    std::string err;
};

cRun RunCli(cFakePinholes& gateway, const cArgs& args) {
    cCommandLine line;
    std::string error;
    EXPECT_TRUE(ParseCommandLine(args, line, error)) << error;
    std::ostringstream out, err;
    const int status = RunPinhole(line, gateway, out, err);
    return {status, out.str(), err.str()};
}

} // namespace

TEST(PinholeCommandLine, ReadsEachActionsOperands) {
    cCommandLine line;
    std::string error;
    ASSERT_TRUE(ParseCommandLine({"pinhole", "add", "udp", "9000", "FD00:77:0::20", "--remote",
                                  "fd00:2::1", "4000", "--lease", "600"},
                                 line, error))
        << error;
    EXPECT_EQ(line.command, eCommand::Pinhole);
    EXPECT_EQ(line.pinhole.action, ePinholeAction::kAdd);
    EXPECT_EQ(line.pinhole.pinhole.protocol, "UDP");
    EXPECT_EQ(line.pinhole.pinhole.internalPort, 9000);
    EXPECT_EQ(line.pinhole.pinhole.internalClient, "fd00:77::20");
    EXPECT_EQ(line.pinhole.pinhole.remoteHost, "fd00:2::1");
    EXPECT_EQ(line.pinhole.pinhole.remotePort, 4000);
    EXPECT_EQ(line.pinhole.pinhole.leaseSeconds, 600);

    // --remote without a port, then the address; the lease's default
    ASSERT_TRUE(ParseCommandLine({"pinhole", "add", "TCP", "22", "--remote", "fd00:2::1",
                                  "fd00:77::21"},
                                 line, error));
    EXPECT_EQ(line.pinhole.pinhole.remotePort, 0);
    EXPECT_EQ(line.pinhole.pinhole.internalClient, "fd00:77::21");
    EXPECT_EQ(line.pinhole.pinhole.leaseSeconds, kDefaultPinholeLeaseSeconds);

    ASSERT_TRUE(ParseCommandLine({"--json", "pinhole", "update", "12", "--lease", "86400"}, line,
                                 error));
    EXPECT_EQ(line.pinhole.action, ePinholeAction::kUpdate);
    EXPECT_EQ(line.pinhole.uniqueId, "12");
    EXPECT_EQ(line.pinhole.pinhole.leaseSeconds, 86400);
    EXPECT_TRUE(line.json);
}

TEST(PinholeCommandLine, UsageErrorsAreRejected) {
    const cArgs cases[] = {
        {"pinhole"},
        {"pinhole", "open", "TCP", "80"},
        {"pinhole", "add", "TCP"},
        {"pinhole", "add", "SCTP", "80"},
        {"pinhole", "add", "TCP", "0"},
        {"pinhole", "add", "TCP", "80", "192.168.77.20"},
        {"pinhole", "add", "TCP", "80", "fe80::1%eth0"},
        {"pinhole", "add", "TCP", "80", "fd00::1", "extra"},
        {"pinhole", "add", "TCP", "80", "--lease", "0"},
        {"pinhole", "add", "TCP", "80", "--lease", "86401"},
        {"pinhole", "add", "TCP", "80", "--remote"},
        {"pinhole", "add", "TCP", "80", "--remote", "host.example"},
        {"pinhole", "add", "TCP", "80", "--remote", "fd00::1", "65536"},
        {"pinhole", "add", "TCP", "80", "--verbose"},
        {"pinhole", "delete"},
        {"pinhole", "delete", "65536"},
        {"pinhole", "delete", "1", "2"},
        {"pinhole", "check", "x"},
        {"pinhole", "check", "1", "--lease", "60"},
        {"pinhole", "update", "1"},
        {"pinhole", "update", "1", "--lease", "0"},
        {"--gateway", "http://192.0.2.1:5000/d.xml", "pinhole", "check", "1"},
        {"--protocol", "pcp", "pinhole", "check", "1"},
    };
    for (const cArgs& args : cases) {
        cCommandLine line;
        std::string error;
        std::string shown;
        for (const std::string& arg : args)
            shown += arg + " ";
        EXPECT_FALSE(ParseCommandLine(args, line, error)) << shown;
        EXPECT_FALSE(error.empty()) << shown;
    }
}

TEST(PinholeCommand, AddDefaultsToThisHostsAddressTowardTheGatewayAndPrintsTheId) {
    cFakePinholes gateway;
    const cRun run = RunCli(gateway, {"pinhole", "add", "TCP", "8080"});
    EXPECT_EQ(run.status, kExitOk);
    EXPECT_EQ(run.out, "7\n");
    EXPECT_EQ(gateway.calls, (std::vector<std::string>{"GetFirewallStatus",
                                                       "AddPinhole fd00:77::20"}));
}

TEST(PinholeCommand, JsonObjectsEndWithTheProtocol) {
    cFakePinholes gateway;
    const struct {
        cArgs args;
        const char* firstKey;
    } cases[] = {
        {{"--json", "pinhole", "add", "TCP", "8080"}, "uniqueId"},
        {{"--json", "pinhole", "delete", "7"}, "uniqueId"},
        {{"--json", "pinhole", "update", "7", "--lease", "60"}, "uniqueId"},
        {{"--json", "pinhole", "check", "7"}, "uniqueId"},
    };
    for (const auto& c : cases) {
        const cRun run = RunCli(gateway, c.args);
        SCOPED_TRACE(run.out);
        const auto json = nlohmann::ordered_json::parse(run.out);
        EXPECT_EQ(json.begin().key(), c.firstKey);
        EXPECT_EQ(json.back(), "upnp");
        EXPECT_EQ((--json.end()).key(), "protocol");
        EXPECT_EQ(json["uniqueId"], 7);
    }
}

// miniupnpd answers CheckPinholeWorking with 709 for a pinhole no packet
// has reached: an answer, not a failure.
TEST(PinholeCommand, NoPacketSentIsAnAnswer) {
    cFakePinholes gateway;
    gateway.refusal = kUpnpNoPacketSent;
    cRun run = RunCli(gateway, {"pinhole", "check", "7"});
    EXPECT_EQ(run.status, kExitOk);
    EXPECT_EQ(run.out, "pinhole 7 is open; no packet has come through it yet (0 packets)\n");
    EXPECT_EQ(run.err, "");
    run = RunCli(gateway, {"--json", "pinhole", "check", "7"});
    const auto json = nlohmann::json::parse(run.out);
    EXPECT_TRUE(json["working"].is_null());
    EXPECT_EQ(json["noPacketSent"], true);
    EXPECT_EQ(json["packets"], 0);
}

TEST(PinholeCommand, RefusalsExitThreeWithTheReason) {
    const struct {
        int code;
        cArgs args;
        const char* said;
    } cases[] = {
        // miniupnpd: 402 for an ID it does not know
        {402, {"pinhole", "delete", "9"}, "402 InvalidArgs: .*is there a pinhole with ID 9\\?"},
        {704, {"pinhole", "update", "9", "--lease", "60"}, "704 NoSuchEntry: .*ID 9\\?"},
        {402, {"pinhole", "check", "9"}, "402 InvalidArgs"},
        {606, {"pinhole", "add", "TCP", "80"}, "606 ActionNotAuthorized"},
        {701, {"pinhole", "add", "TCP", "8080"}, "701 PinholeSpaceExhausted"},
    };
    for (const auto& c : cases) {
        cFakePinholes gateway;
        gateway.refusal = c.code;
        const cRun run = RunCli(gateway, c.args);
        EXPECT_EQ(run.status, kExitFailed) << c.code;
        EXPECT_TRUE(testing::internal::RE::PartialMatch(run.err, c.said)) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

// What the real daemon cannot be made to answer: a disabled firewall, and
// inbound pinholes refused by configuration.
TEST(PinholeCommand, TheFirewallsStatusIsExplainedBeforeAnyAction) {
    cFakePinholes off;
    off.firewallEnabled = false;
    cRun run = RunCli(off, {"pinhole", "delete", "7"});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_NE(run.err.find("IPv6 firewall is disabled"), std::string::npos) << run.err;
    EXPECT_EQ(off.calls, std::vector<std::string>{"GetFirewallStatus"});

    cFakePinholes closed;
    closed.inboundPinholeAllowed = false;
    run = RunCli(closed, {"--json", "pinhole", "add", "TCP", "8080"});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_NE(run.err.find("does not allow inbound pinholes"), std::string::npos) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out)["error"]["code"], 703);
    // an existing pinhole can still be closed
    run = RunCli(closed, {"pinhole", "delete", "7"});
    EXPECT_EQ(run.status, kExitOk);
    EXPECT_EQ(closed.calls.back(), "DeletePinhole 7");
}

TEST(PinholeCommand, AGatewayThatCannotBeUsedIsNamedWithoutARequest) {
    const struct {
        cPinholes::eFound result;
        int status;
        const char* said;
    } cases[] = {
        {cPinholes::kNoAddress, kExitNoGateway, "no global or unique-local IPv6 address"},
        {cPinholes::kNoAnswer, kExitNoGateway, "no UPnP gateway answered over IPv6"},
        {cPinholes::kNoFirewall, kExitFailed, "cannot open pinholes: no firewall here"},
    };
    for (const auto& c : cases) {
        cFakePinholes gateway;
        gateway.result = c.result;
        gateway.found.problem = "no firewall here";
        const cRun run = RunCli(gateway, {"pinhole", "add", "TCP", "8080"});
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
        EXPECT_TRUE(gateway.calls.empty());
    }
}
