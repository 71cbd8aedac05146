#include "cli/commands.h"

#include <cstdio>
#include <fstream>
#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include "cli/remembered_gateway.h"
#include "cli/report.h"
#include "upnp/fault.h"

namespace {

// A gateway whose answers the test sets and whose calls it records. Added
// mappings join its table unless it forgets them; refusals are UPnP codes
// given in advance, one per add.
class cFakeGateway : public cUPnP {
  public:
    bool Discover(int timeoutMs) override {
        calls.push_back("Discover " + std::to_string(timeoutMs));
        identity = {"http://192.168.77.1:5000/desc.xml", "uuid:same", "urn:x:1",
                    "http://192.168.77.1:5000/ctl", described};
        return found;
    }
    void Reset() override {}
    const char* GetModelName() override { return modelName.c_str(); }
    bool GetExternalAddress(std::string& out) override {
        calls.push_back("GetExternalAddress");
        if (external.empty())
            return Fail(transport);
        out = external;
        return true;
    }
    bool GetLocalAddress(std::string& out) override {
        if (local.empty())
            return false;
        out = local;
        return true;
    }
    bool GetPortMappingEntry(int index, cEntry& out) override {
        ++entryCalls;
        if (endless) {
            out = cEntry{true, 1, 1, "TCP", "h", ""};
            return true;
        }
        if (index == listFailsAt)
            return Fail(transport);
        if (index < 0 || index >= static_cast<int>(table.size()))
            return Fail(UpnpFailure(713, "SpecifiedArrayIndexInvalid"));
        out = table[index];
        return true;
    }
    bool AddPortMapping(const cEntry& entry) override { return AddPortMappingWithLease(entry, 0); }
    bool AddPortMappingWithLease(const cEntry& entry, int leaseSeconds) override {
        added.push_back(entry);
        leases.push_back(leaseSeconds);
        if (!refusals.empty()) {
            const int code = refusals.front();
            refusals.erase(refusals.begin());
            return Fail(code ? UpnpFailure(code, "") : transport);
        }
        if (forgetAdds)
            return true;
        cEntry kept = entry;
        if (!keptDescription.empty())
            kept.description = keptDescription;
        table.push_back(kept);
        keptLease = leaseSeconds == 0 ? leaseCap : leaseSeconds;
        return true;
    }
    bool DeletePortMapping(const cEntry& entry) override {
        calls.push_back("Delete " + entry.protocol + " " + std::to_string(entry.externalPort));
        return entry.externalPort != refusedPort || Fail(UpnpFailure(606, ""));
    }
    const cFailure& GetLastFailure() const override { return failure; }
    bool GetSpecificPortMappingEntry(const std::string& protocol, int externalPort, cEntry& out,
                                     int& leaseSeconds) override {
        calls.push_back("GetSpecific " + protocol + " " + std::to_string(externalPort));
        for (const cEntry& entry : table) {
            if (entry.protocol == protocol && entry.externalPort == externalPort) {
                out = entry;
                leaseSeconds = keptLease;
                return true;
            }
        }
        return Fail(UpnpFailure(714, "NoSuchEntryInArray"));
    }

    cIdentity GetIdentity() override { return identity; }
    bool Query(eService, const char* action, std::map<std::string, std::string>& results) override {
        const auto found = queries.find(action);
        if (found == queries.end())
            return Fail(UpnpFailure(401, ""));
        results = found->second;
        return true;
    }
    bool GetPortMappingEntryWithLease(int index, cEntry& out, int& leaseSeconds) override {
        leaseSeconds = 0;
        return GetPortMappingEntry(index, out);
    }
    bool GetListOfPortMappings(const std::string& protocol, int startPort, int endPort, int count,
                               std::string& listing) override {
        calls.push_back("GetListOfPortMappings " + protocol + " " + std::to_string(startPort) +
                        "-" + std::to_string(endPort) + " " + std::to_string(count));
        const auto found = listings.find(protocol);
        if (found == listings.end())
            return Fail(UpnpFailure(401, ""));
        listing = found->second;
        return true;
    }
    void SetSearchInterface(std::uint32_t localAddress) override {
        calls.push_back("SearchInterface " + std::to_string(localAddress));
    }
    bool UseGateway(const std::string& url, const std::string& serviceType, int connectTimeoutMs,
                    int totalMs) override {
        calls.push_back("UseGateway " + url + " " + serviceType + " " +
                        std::to_string(connectTimeoutMs) + " " + std::to_string(totalMs));
        if (!describes)
            return false;
        identity = {url, describedUdn, serviceType.empty() ? "urn:x:1" : serviceType, url + "/ctl",
                    described};
        return true;
    }

    // Like a gateway that lists the actions in its description but refuses them.
    bool AddAnyPortMapping(const cEntry&, int, int&) override {
        calls.push_back("AddAnyPortMapping");
        return Fail(UpnpFailure(401, "Invalid Action"));
    }
    bool DeletePortMappingRange(const std::string&, int, int) override {
        calls.push_back("DeletePortMappingRange");
        return Fail(UpnpFailure(401, "Invalid Action"));
    }

    bool Fail(const cFailure& why) {
        failure = why;
        return false;
    }

    bool found = true;
    bool describes = true;
    std::string describedUdn = "uuid:same";
    std::string described = "urn:x:1";
    cIdentity identity{"http://192.168.77.1:5000/desc.xml", "uuid:same", "urn:x:1",
                       "http://192.168.77.1:5000/ctl", "urn:x:1"};
    bool endless = false;
    bool forgetAdds = false;
    int refusedPort = -1;
    int listFailsAt = -1;
    int entryCalls = 0;
    int leaseCap = 0;
    int keptLease = 0;
    std::string keptDescription;
    std::vector<int> refusals; // 0: a transport failure
    std::map<std::string, std::string> listings; // GetListOfPortMappings, by protocol
    std::map<std::string, std::map<std::string, std::string>> queries; // by action
    cFailure transport = TransportFailure(eHttpOutcome::kSilence, 0, 3000);
    cFailure failure;
    std::string modelName = "Lab Router";
    std::string external = "192.0.2.2";
    std::string local = "192.168.77.20";
    std::vector<cEntry> table;
    std::vector<cEntry> added;
    std::vector<int> leases;
    std::vector<std::string> calls;
};

struct cRun {
    int status;
    std::string out;
    std::string err;
};

cRun RunCli(cFakeGateway& gateway, const std::vector<std::string>& args) {
    cCommandLine line;
    std::string error;
    EXPECT_TRUE(ParseCommandLine(args, line, error)) << error;
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunCommand(line, gateway, out, err);
    return {status, out.str(), err.str()};
}

TEST(Commands, NoGatewayExitsOneAfterDiscoveryAlone) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--timeout", "700"},
                                                 {"--timeout", "700", "external-ip"},
                                                 {"--timeout", "700", "add", "TCP", "80"},
                                                 {"--timeout", "700", "delete", "TCP", "80"}}) {
        cFakeGateway gateway;
        gateway.found = false;
        const cRun run = RunCli(gateway, args);
        EXPECT_EQ(run.status, kExitNoGateway);
        EXPECT_EQ(gateway.calls, (std::vector<std::string>{"SearchInterface 0", "Discover 700"}));
        EXPECT_TRUE(gateway.added.empty());
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err, "");
    }
}

TEST(Commands, ListShowsEveryEntryInIndexOrderAndMarksDisabledOnes) {
    cFakeGateway gateway;
    gateway.table = {{true, 8080, 80, "TCP", "192.168.1.10", "web"},
                     {false, 9000, 9000, "UDP", "192.168.1.11", "off one"},
                     {true, 22, 2222, "TCP", "192.168.1.12", ""}};
    const cRun run = RunCli(gateway, {});
    EXPECT_EQ(run.status, kExitOk);
    EXPECT_EQ(run.out, "Model:   Lab Router\n"
                       "Address: 192.0.2.2 (192.168.77.20)\n"
                       "STATE PROTO  PORT   LEASE  CLIENT                  COMMENT\n"
                       "on    TCP    8080       -  192.168.1.10(80)        web\n"
                       "off   UDP    9000       -  192.168.1.11(9000)      off one\n"
                       "on    TCP      22       -  192.168.1.12(2222)      \n");
    EXPECT_EQ(gateway.entryCalls, 4);
}

TEST(Commands, ListJsonCarriesTheContractsFieldsInOrder) {
    cFakeGateway gateway;
    gateway.table = {{false, 8080, 8081, "TCP", "198.51.100.10", "a & <b> 日本"}};
    const cRun run = RunCli(gateway, {"--json"});
    EXPECT_EQ(run.status, kExitOk);
    const nlohmann::ordered_json json = nlohmann::ordered_json::parse(run.out);
    // Gateway text is in the native encoding; JSON is UTF-8 everywhere.
    EXPECT_EQ(json.dump(), u8R"({"modelName":"Lab Router","externalAddress":"192.0.2.2",)"
                           u8R"("externalAddressKind":"public","localAddress":"192.168.77.20","mappings":[{"enabled":false,)"
                           u8R"("externalPort":8080,"internalPort":8081,"protocol":"TCP",)"
                           u8R"("internalClient":"198.51.100.10","description":"a & <b> 日本",)"
                           u8R"("leaseDuration":0}],"protocol":"upnp"})");
}

TEST(Commands, ListKeepsGoingWithoutAnExternalAddressButSaysSo) {
    cFakeGateway gateway;
    gateway.external.clear();
    const cRun run = RunCli(gateway, {"--json"});
    EXPECT_EQ(run.status, kExitOk);
    EXPECT_EQ(nlohmann::json::parse(run.out)["externalAddress"], "");
    EXPECT_NE(run.err, "");
}

TEST(Commands, ListStopsAtTheBoundWhenTheGatewayNeverSaysNo) {
    cFakeGateway gateway;
    gateway.endless = true;
    const cRun run = RunCli(gateway, {"--json"});
    EXPECT_EQ(run.status, kExitOk);
    EXPECT_EQ(gateway.entryCalls, kMaxMappingEntries);
    EXPECT_EQ(nlohmann::json::parse(run.out)["mappings"].size(),
              static_cast<size_t>(kMaxMappingEntries));
    EXPECT_NE(run.err, "");
}

TEST(Commands, UnreadableTextFromTheGatewayIsReplacedNotDropped) {
    cFakeGateway gateway;
    gateway.modelName = "R\xFFouter";
    gateway.table = {{true, 80, 80, "TCP", "h", "ab\xC3"}};
    const nlohmann::json parsed = nlohmann::json::parse(RunCli(gateway, {"--json"}).out);
    const std::string model = parsed["modelName"];
    const std::string description = parsed["mappings"][0]["description"];
    EXPECT_EQ(model.substr(0, 1), "R");
    EXPECT_EQ(model.substr(model.size() - 5), "outer");
    EXPECT_GT(model.size(), 6u);
    EXPECT_EQ(description.substr(0, 2), "ab");
    EXPECT_GT(description.size(), 2u);
}

TEST(Commands, TerminalControlsFromTheGatewayNeverReachTheTerminal) {
    cFakeGateway gateway;
    gateway.modelName = "Router\x1b]0;owned\x07";
    gateway.table = {{true, 80, 80, "TCP", "h\r", "line\nbreak\x7f"}};
    const std::string out = RunCli(gateway, {}).out;
    for (char control : {'\x1b', '\x07', '\r', '\x7f'})
        EXPECT_EQ(out.find(control), std::string::npos) << static_cast<int>(control);
    EXPECT_NE(out.find("line"), std::string::npos);
    EXPECT_EQ(out.find("line\n"), std::string::npos);
    EXPECT_EQ(PrintableText("日本"), "日本");
}

TEST(Commands, AddDefaultsToThisHostAndTheSamePort) {
    cFakeGateway gateway;
    const cRun run = RunCli(gateway, {"add", "udp", "9000"});
    EXPECT_EQ(run.status, kExitOk);
    ASSERT_EQ(gateway.added.size(), 1u);
    const cUPnP::cEntry& entry = gateway.added[0];
    EXPECT_TRUE(entry.enabled);
    EXPECT_EQ(entry.protocol, "UDP");
    EXPECT_EQ(entry.externalPort, 9000);
    EXPECT_EQ(entry.internalPort, 9000);
    EXPECT_EQ(entry.internalClient, "192.168.77.20");
    EXPECT_EQ(entry.description, "");
}

TEST(Commands, AddWithoutAKnownLocalAddressIsAnInputErrorAndSendsNothing) {
    cFakeGateway gateway;
    gateway.local.clear();
    const cRun run = RunCli(gateway, {"add", "TCP", "8080"});
    EXPECT_EQ(run.status, kExitUsage);
    EXPECT_TRUE(gateway.added.empty());
}

TEST(Commands, DeleteSendsEveryPairInOrderAndFailsIfAnyFailed) {
    cFakeGateway gateway;
    gateway.refusedPort = 53;
    const cRun run = RunCli(gateway, {"delete", "UDP", "53", "TCP", "8080"});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_EQ(gateway.calls,
              (std::vector<std::string>{"SearchInterface 0", "Discover 5000", "Delete UDP 53",
                                        "Delete TCP 8080"}));
    EXPECT_NE(run.err.find("UDP 53"), std::string::npos);

    cFakeGateway willing;
    EXPECT_EQ(RunCli(willing, {"delete", "TCP", "8080"}).status, kExitOk);
}

TEST(Commands, ExternalIpPrintsTheAddressOrFails) {
    cFakeGateway gateway;
    EXPECT_EQ(RunCli(gateway, {"external-ip"}).out, "192.0.2.2\n");
    EXPECT_EQ(nlohmann::json::parse(RunCli(gateway, {"--json", "external-ip"}).out),
              nlohmann::json::parse(
                  R"({"externalAddress":"192.0.2.2","externalAddressKind":"public","protocol":"upnp"})"));
    gateway.external.clear();
    const cRun run = RunCli(gateway, {"external-ip"});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_EQ(run.out, "");
}

TEST(Commands, ARefusalSaysTheGatewaysReasonAndNamesTheOwner) {
    cFakeGateway gateway;
    gateway.table = {{true, 22, 2222, "TCP", "192.168.77.30", "ssh"}};
    gateway.refusals = {718};
    cRun run = RunCli(gateway, {"add", "TCP", "22"});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_EQ(run.err, "wendrel-cli: the gateway refused TCP 22: 718 ConflictInMappingEntry: the "
                       "port is already mapped to another host; held by 192.168.77.30:2222 "
                       "\"ssh\"\n");
    EXPECT_EQ(run.out, "");

    gateway.refusals = {718};
    run = RunCli(gateway, {"--json", "add", "TCP", "22"});
    EXPECT_EQ(nlohmann::ordered_json::parse(run.out).dump(),
              R"({"error":{"code":718,"name":"ConflictInMappingEntry",)"
              R"("message":"the port is already mapped to another host",)"
              R"("owner":{"enabled":true,"externalPort":22,"internalPort":2222,"protocol":"TCP",)"
              R"("internalClient":"192.168.77.30","description":"ssh"}},"protocol":"upnp"})");
}

TEST(Commands, ARefusedPortNobodyHoldsForAnotherHostSaysTheGatewayMapsOnlyToItself) {
    for (int code : {606, 718}) {
        cFakeGateway gateway;
        gateway.refusals = {code};
        const cRun run = RunCli(gateway, {"add", "TCP", "8080", "192.168.77.99"});
        EXPECT_EQ(run.status, kExitFailed);
        EXPECT_NE(run.err.find("lets a host map ports only to itself"), std::string::npos)
            << run.err;
        gateway.refusals = {code};
        EXPECT_EQ(RunCli(gateway, {"add", "TCP", "8080"}).err.find("only to itself"),
                  std::string::npos);
    }
}

TEST(Commands, ATransportFailureHasNoCodeAndNamesWhatHappened) {
    cFakeGateway gateway;
    gateway.refusals = {0};
    cRun run = RunCli(gateway, {"add", "TCP", "8080"});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_EQ(run.err,
              "wendrel-cli: could not add TCP 8080: the gateway did not answer within 3.0 s\n");
    gateway.refusals = {0};
    run = RunCli(gateway, {"--json", "add", "TCP", "8080"});
    EXPECT_EQ(nlohmann::ordered_json::parse(run.out).dump(),
              R"({"error":{"code":null,"name":"Timeout",)"
              R"("message":"the gateway did not answer within 3.0 s"},"protocol":"upnp"})");
    gateway.external.clear();
    run = RunCli(gateway, {"--json", "external-ip"});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_EQ(nlohmann::json::parse(run.out)["error"]["name"], "Timeout");
}

TEST(Commands, LeaseFallbacksAreTriedInOrderAndEachIsSaid) {
    struct cCase {
        int asked;
        std::vector<int> refusals;
        std::vector<int> leasesSent;
        int status;
    };
    const cCase cases[] = {
        {7200, {725}, {7200, 0}, kExitOk},
        {7200, {402}, {7200, 604800}, kExitOk},
        {7200, {724, 402}, {7200, 604800, 3600}, kExitOk},
        {7200, {402, 402, 402}, {7200, 604800, 3600}, kExitFailed},
        {604800, {402}, {604800, 3600}, kExitOk},
        {0, {725}, {0}, kExitFailed},
        {0, {402}, {0}, kExitFailed},
        {7200, {606}, {7200}, kExitFailed},
    };
    for (const cCase& c : cases) {
        cFakeGateway gateway;
        gateway.refusals = c.refusals;
        const cRun run =
            RunCli(gateway, {"--json", "add", "TCP", "8080", "--lease", std::to_string(c.asked)});
        EXPECT_EQ(gateway.leases, c.leasesSent) << c.asked << " " << c.refusals.front();
        EXPECT_EQ(run.status, c.status) << run.err;
        const std::size_t steps = c.leasesSent.size() - 1;
        std::size_t said = 0;
        for (std::size_t at = run.err.find("refused a lease");
             at != std::string::npos; at = run.err.find("refused a lease", at + 1))
            ++said;
        EXPECT_EQ(said, steps) << run.err;
        if (c.status == kExitOk) {
            EXPECT_EQ(nlohmann::json::parse(run.out)["warnings"].size(), steps);
        }
    }
}

// Port by port: a taken port moves on to the next, anything else stops;
// a version 2 gateway that refuses AddAnyPortMapping is asked the same way.
TEST(Commands, AnyPortStepsOverTakenPortsAndStopsAtOtherFailures) {
    struct cCase {
        const char* described;
        std::vector<int> refusals;
        std::vector<int> portsAsked;
        int status;
    };
    const cCase cases[] = {
        {"urn:x:1", {}, {8080}, kExitOk},
        {"urn:x:1", {718, 606, 729}, {8080, 8081, 8082, 8083}, kExitOk},
        {"urn:x:2", {718}, {8080, 8081}, kExitOk},
        {"urn:x:1", {718, 501}, {8080, 8081}, kExitFailed},
        {"urn:x:1", {0}, {8080}, kExitFailed},
        {"urn:x:1",
         std::vector<int>(16, 718),
         {8080, 8081, 8082, 8083, 8084, 8085, 8086, 8087, 8088, 8089, 8090, 8091, 8092, 8093, 8094,
          8095},
         kExitFailed},
    };
    for (const cCase& c : cases) {
        cFakeGateway gateway;
        gateway.described = c.described;
        gateway.refusals = c.refusals;
        const cRun run = RunCli(gateway, {"--json", "add", "TCP", "8080", "--any-port"});
        std::vector<int> asked;
        for (const cUPnP::cEntry& entry : gateway.added)
            asked.push_back(entry.externalPort);
        EXPECT_EQ(asked, c.portsAsked) << c.refusals.size();
        EXPECT_EQ(run.status, c.status) << run.err;
        const bool any =
            std::count(gateway.calls.begin(), gateway.calls.end(), "AddAnyPortMapping");
        EXPECT_EQ(any, std::string(c.described) == "urn:x:2");
        if (c.status == kExitOk) {
            EXPECT_EQ(nlohmann::json::parse(run.out)["added"]["externalPort"], asked.back());
        }
    }
}

TEST(Commands, EachWarningOfARangeNamesItsPort) {
    cFakeGateway gateway;
    gateway.keptDescription = "changed";
    gateway.refusals = {725};
    const cRun run = RunCli(gateway, {"--json", "add", "TCP", "8080-8081", "192.168.77.20", "8080",
                                      "web", "--lease", "7200"});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    const std::vector<std::string> warnings = nlohmann::json::parse(run.out)["warnings"];
    ASSERT_EQ(warnings.size(), 3u);
    EXPECT_EQ(warnings[0].rfind("TCP 8080: the gateway refused a lease", 0), 0u);
    EXPECT_EQ(warnings[1].rfind("TCP 8080: the gateway changed the comment", 0), 0u);
    EXPECT_EQ(warnings[2].rfind("TCP 8081: the gateway changed the comment", 0), 0u);
}

TEST(Commands, AnAddIsReadBackAndEveryDifferenceIsAWarning) {
    cFakeGateway gateway;
    gateway.keptDescription = "cut";
    gateway.leaseCap = 604800;
    cRun run = RunCli(gateway, {"--json", "add", "UDP", "9000", "192.168.77.20", "9001", "cut off"});
    EXPECT_EQ(run.status, kExitOk);
    EXPECT_EQ(nlohmann::ordered_json::parse(run.out).dump(),
              R"({"added":{"enabled":true,"externalPort":9000,"internalPort":9001,)"
              R"("protocol":"UDP","internalClient":"192.168.77.20","description":"cut",)"
              R"("leaseDuration":604800},"warnings":[)"
              R"("the gateway cut the comment to 3 bytes: \"cut\""],"protocol":"upnp"})");
    EXPECT_NE(run.err.find("warning: the gateway cut the comment"), std::string::npos);

    cFakeGateway faithful;
    run = RunCli(faithful, {"add", "TCP", "8080", "192.168.77.20", "80", "web"});
    EXPECT_EQ(run.out, "added TCP 8080 -> 192.168.77.20:80\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(faithful.calls.back(), "GetSpecific TCP 8080");

    cFakeGateway forgetful;
    forgetful.forgetAdds = true;
    run = RunCli(forgetful, {"add", "TCP", "8080"});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_EQ(run.err, "wendrel-cli: could not add TCP 8080: the gateway reported success but "
                       "kept no mapping\n");
}

TEST(Commands, DeleteJsonListsWhatWentAndWhatDidNotWithTheReason) {
    cFakeGateway gateway;
    gateway.refusedPort = 8081;
    const cRun run = RunCli(gateway, {"--json", "delete", "TCP", "8080", "TCP", "8081"});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_EQ(nlohmann::ordered_json::parse(run.out).dump(),
              R"({"deleted":[{"protocol":"TCP","externalPort":8080}],)"
              R"("failed":[{"protocol":"TCP","externalPort":8081,"error":{"code":606,)"
              R"("name":"ActionNotAuthorized",)"
              R"("message":"the gateway does not allow this action for this host or port"}}],)"
              R"("protocol":"upnp"})");
    EXPECT_EQ(run.err, "wendrel-cli: the gateway did not delete TCP 8081: 606 ActionNotAuthorized: "
                       "the gateway does not allow this action for this host or port\n");
}

TEST(Commands, ListSkipsUnreadableAnswersAndSaysWhyItStoppedUnlessAtTheEnd) {
    cFakeGateway gateway;
    gateway.table = {{true, 80, 80, "TCP", "h", "a"}, {false, 0, 0, "", "", ""},
                     {true, 81, 81, "TCP", "h", "b"}};
    cRun run = RunCli(gateway, {"--json"});
    EXPECT_EQ(nlohmann::json::parse(run.out)["mappings"].size(), 2u);
    EXPECT_EQ(run.err, "wendrel-cli: warning: skipped index 1: the gateway's answer could not be "
                       "read (no protocol or external port)\n");

    gateway.listFailsAt = 2;
    run = RunCli(gateway, {"--json"});
    EXPECT_EQ(run.status, kExitOk);
    EXPECT_NE(run.err.find("the listing stopped at index 2: the gateway did not answer"),
              std::string::npos);
}

TEST(Commands, AGatewayBehindAnotherNatIsSaidToLeadNowhere) {
    for (const char* address : {"10.1.2.3", "100.64.0.1", "0.0.0.0", "169.254.0.9"}) {
        cFakeGateway gateway;
        gateway.external = address;
        const cRun run = RunCli(gateway, {"external-ip"});
        EXPECT_NE(run.err.find("will not be reachable from the Internet"), std::string::npos)
            << address;
    }
    cFakeGateway gateway;
    EXPECT_EQ(RunCli(gateway, {"external-ip"}).err, "");
}

std::string TemporaryPath(const char* name) {
    return testing::TempDir() + "wendrel-" + name + "-" + std::to_string(getpid());
}

cRun RunRemembering(cFakeGateway& gateway, std::vector<std::string> args,
                    const std::string& path) {
    cCommandLine line;
    std::string error;
    EXPECT_TRUE(ParseCommandLine(args, line, error)) << error;
    line.rememberedPath = path;
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunCommand(line, gateway, out, err);
    return {status, out.str(), err.str()};
}

TEST(Commands, ARememberedGatewayIsCheckedFirstWithTightBoundsAndReplacedWhenItIsNotTheSame) {
    const std::string path = TemporaryPath("gateway");
    std::remove(path.c_str());
    cFakeGateway cold;
    EXPECT_EQ(RunRemembering(cold, {"external-ip"}, path).status, kExitOk);
    EXPECT_EQ(cold.calls.at(1), "Discover 5000");
    cRememberedGateway remembered;
    ASSERT_TRUE(LoadRememberedGateway(path, remembered));
    EXPECT_EQ(remembered.descriptionUrl, "http://192.168.77.1:5000/desc.xml");
    EXPECT_EQ(remembered.udn, "uuid:same");
    EXPECT_EQ(remembered.localAddress, "192.168.77.20");

    cFakeGateway warm;
    EXPECT_EQ(RunRemembering(warm, {"external-ip"}, path).status, kExitOk);
    EXPECT_EQ(warm.calls, (std::vector<std::string>{
                              "SearchInterface 0",
                              "UseGateway http://192.168.77.1:5000/desc.xml urn:x:1 150 500",
                              "GetExternalAddress"}));

    cFakeGateway replaced;
    replaced.describedUdn = "uuid:another";
    EXPECT_EQ(RunRemembering(replaced, {"external-ip"}, path).status, kExitOk);
    EXPECT_EQ(replaced.calls.at(2), "Discover 5000");

    cFakeGateway gone;
    gone.describes = false;
    EXPECT_EQ(RunRemembering(gone, {"external-ip"}, path).status, kExitOk);
    EXPECT_EQ(gone.calls.at(2), "Discover 5000");

    cFakeGateway again;
    EXPECT_EQ(RunRemembering(again, {"--rediscover", "external-ip"}, path).status, kExitOk);
    EXPECT_EQ(again.calls.at(1), "Discover 5000");
    std::remove(path.c_str());
}

TEST(Commands, ACorruptOrForeignCacheFileIsIgnoredAndReplaced) {
    const std::string path = TemporaryPath("corrupt");
    for (const std::string& content : {std::string("garbage\n"), std::string(5000, 'x'),
                                       std::string("wendrel-gateway 1\nudn=uuid:same\n")}) {
        {
            std::ofstream file(path, std::ios::binary | std::ios::trunc);
            file << content;
        }
        cFakeGateway gateway;
        EXPECT_EQ(RunRemembering(gateway, {"external-ip"}, path).status, kExitOk);
        EXPECT_EQ(gateway.calls.at(1), "Discover 5000");
        cRememberedGateway remembered;
        EXPECT_TRUE(LoadRememberedGateway(path, remembered));
    }
    std::remove(path.c_str());
}

TEST(Commands, GatewayAndInterfaceNeitherReadNorWriteTheRememberedGateway) {
    const std::string path = TemporaryPath("untouched");
    std::remove(path.c_str());
    cFakeGateway named;
    EXPECT_EQ(RunRemembering(named, {"--gateway", "http://192.168.77.1:5000/d.xml", "external-ip"},
                             path)
                  .status,
              kExitOk);
    EXPECT_EQ(named.calls.front(), "UseGateway http://192.168.77.1:5000/d.xml  3000 10000");
    cRememberedGateway remembered;
    EXPECT_FALSE(LoadRememberedGateway(path, remembered));

    cFakeGateway unknown;
    EXPECT_EQ(RunRemembering(unknown, {"--interface", "no-such-interface0", "external-ip"}, path)
                  .status,
              kExitUsage);
    EXPECT_TRUE(unknown.calls.empty());
}

TEST(RememberedGateway, OnlyAnExactEntryIsRead) {
    const cRememberedGateway entry{"http://10.0.0.1:5000/d.xml", "uuid:1", "urn:x:1",
                                   "http://10.0.0.1:5000/c", "10.0.0.2"};
    cRememberedGateway read;
    ASSERT_TRUE(ParseRememberedGateway(FormatRememberedGateway(entry), read));
    EXPECT_EQ(read.controlUrl, entry.controlUrl);
    const std::string good = FormatRememberedGateway(entry);
    for (const std::string& bad :
         {std::string(), std::string("wendrel-gateway 2\n") + good.substr(good.find('\n') + 1),
          good + "udn=uuid:2\n", good + "extra=1\n", good.substr(0, good.rfind("localAddress")),
          good.substr(0, good.find("uuid:1")) + "uuid:\x1b" + good.substr(good.find("uuid:1") + 6),
          good.substr(0, good.find("uuid:1")) + "uuid: 1" + good.substr(good.find("uuid:1") + 6),
          good + std::string(kMaxRememberedBytes, '\n')})
        EXPECT_FALSE(ParseRememberedGateway(bad, read)) << bad;
}

TEST(Commands, AVersion2GatewayIsListedInBulkAndAnyTroubleFallsBackToTheWalk) {
    const std::string open = "<p:PortMappingList xmlns:p=\"urn:x\">";
    const auto entry = [](int port, const char* protocol) {
        return "<p:PortMappingEntry><p:NewExternalPort>" + std::to_string(port) +
               "</p:NewExternalPort><p:NewProtocol>" + protocol +
               "</p:NewProtocol><p:NewInternalPort>80</p:NewInternalPort>"
               "<p:NewInternalClient>192.168.1.10</p:NewInternalClient><p:NewEnabled>1"
               "</p:NewEnabled><p:NewDescription>web</p:NewDescription><p:NewLeaseTime>600"
               "</p:NewLeaseTime></p:PortMappingEntry>";
    };
    cFakeGateway gateway;
    gateway.described = "urn:schemas-upnp-org:service:WANIPConnection:2";
    gateway.listings = {{"TCP", open + entry(8080, "TCP") + "</p:PortMappingList>"},
                        {"UDP", open + entry(5000, "UDP") + "</p:PortMappingList>"}};
    gateway.table = {{true, 1, 1, "TCP", "walked", ""}};
    cRun run = RunCli(gateway, {"--json"});
    EXPECT_EQ(gateway.entryCalls, 1); // index 128 only: past the end
    const nlohmann::json mappings = nlohmann::json::parse(run.out)["mappings"];
    ASSERT_EQ(mappings.size(), 2u);
    EXPECT_EQ(mappings[0]["externalPort"], 8080);
    EXPECT_EQ(mappings[0]["leaseDuration"], 600);
    EXPECT_EQ(mappings[1]["protocol"], "UDP");
    EXPECT_EQ(std::count(gateway.calls.begin(), gateway.calls.end(),
                         "GetListOfPortMappings TCP 1-65535 1000"),
              1);

    gateway.listings.erase("UDP");
    gateway.entryCalls = 0;
    run = RunCli(gateway, {"--json"});
    EXPECT_GT(gateway.entryCalls, 0);
    EXPECT_EQ(nlohmann::json::parse(run.out)["mappings"][0]["internalClient"], "walked");
}

// miniupnpd 2.3.1 dies when a bulk request's range holds more than 128
// mappings: a table that reaches index 128 is walked without asking in bulk.
TEST(Commands, AVersion2TableOfMoreThan128EntriesIsWalked) {
    for (const std::size_t size : {std::size_t(128), std::size_t(129)}) {
        cFakeGateway gateway;
        gateway.described = "urn:schemas-upnp-org:service:WANIPConnection:2";
        gateway.listings = {{"TCP", "<PortMappingList/>"}, {"UDP", "<PortMappingList/>"}};
        for (std::size_t i = 0; i < size; ++i)
            gateway.table.push_back({true, int(1000 + i), 80, "TCP", "h", ""});
        const cRun run = RunCli(gateway, {"--json"});
        const bool bulk = std::count_if(gateway.calls.begin(), gateway.calls.end(),
                                        [](const std::string& call) {
                                            return call.rfind("GetListOfPortMappings", 0) == 0;
                                        }) > 0;
        EXPECT_EQ(bulk, size == 128) << size;
        EXPECT_EQ(nlohmann::json::parse(run.out)["mappings"].size(), size == 128 ? 0u : size);
    }
}

TEST(Commands, StatusShowsWhatTheGatewayTellsAndUnknownForTheRest) {
    cFakeGateway gateway;
    gateway.queries = {
        {"GetStatusInfo",
         {{"NewConnectionStatus", "Connected"}, {"NewUptime", "3600"},
          {"NewLastConnectionError", "ERROR_NONE"}}},
        {"GetNATRSIPStatus", {{"NewNATEnabled", "1"}, {"NewRSIPAvailable", "0"}}},
        {"GetTotalBytesSent", {{"NewTotalBytesSent", "4294967295"}}},
    };
    const cRun json = RunCli(gateway, {"--json", "status"});
    EXPECT_EQ(json.status, kExitOk);
    EXPECT_EQ(nlohmann::ordered_json::parse(json.out).dump(),
              R"({"connectionStatus":"Connected","uptime":3600,"lastConnectionError":"ERROR_NONE",)"
              R"("connectionType":null,"possibleConnectionTypes":null,"natEnabled":true,)"
              R"("rsipAvailable":false,"accessType":null,"maxBitRateUp":null,)"
              R"("maxBitRateDown":null,"physicalLinkStatus":null,"totalBytesSent":4294967295,)"
              R"("totalBytesReceived":null,"totalPacketsSent":null,"totalPacketsReceived":null,)"
              R"("protocol":"upnp"})");
    const cRun text = RunCli(gateway, {"status"});
    EXPECT_NE(text.out.find("Connection status:     Connected\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Access type:           unknown\n"), std::string::npos) << text.out;
}

} // namespace
