#include "cli/commands.h"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cli/report.h"

namespace {

// A gateway whose answers the test sets and whose calls it records.
class cFakeGateway : public cUPnP {
  public:
    bool Discover(int timeoutMs) override {
        calls.push_back("Discover " + std::to_string(timeoutMs));
        return found;
    }
    void Reset() override {}
    const char* GetModelName() override { return modelName.c_str(); }
    bool GetExternalAddress(std::string& out) override {
        calls.push_back("GetExternalAddress");
        if (external.empty())
            return false;
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
        if (index < 0 || index >= static_cast<int>(table.size()))
            return false;
        out = table[index];
        return true;
    }
    bool AddPortMapping(const cEntry& entry) override {
        added.push_back(entry);
        return true;
    }
    bool DeletePortMapping(const cEntry& entry) override {
        calls.push_back("Delete " + entry.protocol + " " + std::to_string(entry.externalPort));
        return entry.externalPort != refusedPort;
    }

    bool found = true;
    bool endless = false;
    int refusedPort = -1;
    int entryCalls = 0;
    std::string modelName = "Lab Router";
    std::string external = "192.0.2.2";
    std::string local = "192.168.77.20";
    std::vector<cEntry> table;
    std::vector<cEntry> added;
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
        EXPECT_EQ(gateway.calls, std::vector<std::string>{"Discover 700"});
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
                       "STATE PROTO  PORT  CLIENT                  COMMENT\n"
                       "on    TCP    8080  192.168.1.10(80)        web\n"
                       "off   UDP    9000  192.168.1.11(9000)      off one\n"
                       "on    TCP      22  192.168.1.12(2222)      \n");
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
                           u8R"("localAddress":"192.168.77.20","mappings":[{"enabled":false,)"
                           u8R"("externalPort":8080,"internalPort":8081,"protocol":"TCP",)"
                           u8R"("internalClient":"198.51.100.10","description":"a & <b> 日本"}]})");
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
              (std::vector<std::string>{"Discover 5000", "Delete UDP 53", "Delete TCP 8080"}));
    EXPECT_NE(run.err.find("UDP 53"), std::string::npos);

    cFakeGateway willing;
    EXPECT_EQ(RunCli(willing, {"delete", "TCP", "8080"}).status, kExitOk);
}

TEST(Commands, ExternalIpPrintsTheAddressOrFails) {
    cFakeGateway gateway;
    EXPECT_EQ(RunCli(gateway, {"external-ip"}).out, "192.0.2.2\n");
    EXPECT_EQ(nlohmann::json::parse(RunCli(gateway, {"--json", "external-ip"}).out),
              nlohmann::json::parse(R"({"externalAddress":"192.0.2.2"})"));
    gateway.external.clear();
    const cRun run = RunCli(gateway, {"external-ip"});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_EQ(run.out, "");
}

} // namespace
