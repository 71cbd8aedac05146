// list and status of wendrel-cli against the fake gateway on loopback: the bulk
// listing of a version 2 service in chunks, the walk it falls back to when a
// listing cannot be used, and status items at their limits or refused.
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "fake_gateway.h"
#include "fake_ssdp.h"

namespace {

using eListing = cFakeGateway::eListing;

constexpr const char* kVersion2 = "urn:schemas-upnp-org:service:WANIPConnection:2";

struct cRun {
    int status;
    std::string out;
    std::string err;
};

cRun RunCli(const cFakeGateway& gateway, std::vector<std::string> args) {
    args.insert(args.begin(), {"--gateway", gateway.GetDescriptionUrl()});
    cCommandLine line;
    std::string error;
    EXPECT_TRUE(ParseCommandLine(args, line, error)) << error;
    std::ostringstream out, err;
    const int status = RunCommand(line, cUPnP::GetInstance(), out, err);
    return {status, out.str(), err.str()};
}

std::size_t CountAction(const cFakeGateway& gateway, const std::string& action) {
    std::size_t count = 0;
    for (const cFakeGateway::cRequest& request : gateway.Requests())
        count += request.Action() == action;
    return count;
}

cFakeGateway::cMapping Mapping(const char* protocol, int port, const char* description,
                               int lease = 0, bool enabled = true) {
    cFakeGateway::cMapping m;
    m.protocol = protocol;
    m.externalPort = port;
    m.internalPort = port + 1;
    m.internalClient = kTestInterfaceAddress;
    m.description = description;
    m.leaseDuration = lease;
    m.enabled = enabled;
    return m;
}

// TCP then UDP: the bulk listing's order (one request per protocol, each in
// table order), so that the walk prints the very same table.
std::vector<cFakeGateway::cMapping> SmallTable() {
    return {Mapping("TCP", 443, "web <tls> & more", 3600), Mapping("TCP", 8080, "web"),
            Mapping("TCP", 27015, "off", 0, false), Mapping("UDP", 53, "dns", 7200),
            Mapping("UDP", 27015, "game")};
}

class BulkListing : public testing::Test {
  protected:
    BulkListing() {
        options.address = kTestInterfaceAddress;
        options.serviceType = kVersion2;
    }

    std::unique_ptr<cFakeGateway> Start(const std::vector<cFakeGateway::cMapping>& table,
                                        eListing listing = eListing::kHonest) {
        auto gateway = std::make_unique<cFakeGateway>(options);
        EXPECT_TRUE(gateway->IsRunning());
        gateway->SetMappings(table);
        cFakeGateway::cQueryAnswers answers;
        answers.listing = listing;
        gateway->SetQueryAnswers(answers);
        return gateway;
    }

    cFakeGateway::cOptions options;
};

TEST_F(BulkListing, AVersion2TableIsReadInBulkWithItsLeases) {
    const auto gateway = Start(SmallTable());
    const cRun json = RunCli(*gateway, {"--json"});
    EXPECT_EQ(json.status, kExitOk);
    EXPECT_EQ(json.err, "");
    EXPECT_EQ(CountAction(*gateway, "GetListOfPortMappings"), 2u); // TCP, UDP
    EXPECT_EQ(CountAction(*gateway, "GetGenericPortMappingEntry"), 1u); // index 128
    const nlohmann::json mappings = nlohmann::json::parse(json.out)["mappings"];
    ASSERT_EQ(mappings.size(), 5u);
    EXPECT_EQ(mappings[0]["description"], "web <tls> & more");
    EXPECT_EQ(mappings[0]["leaseDuration"], 3600);
    EXPECT_EQ(mappings[2]["enabled"], false);
    EXPECT_EQ(mappings[3]["protocol"], "UDP");
    EXPECT_EQ(mappings[3]["internalPort"], 54);
}

// Up to 128 entries the table is read in bulk after one look at index 128;
// past that it is walked (miniupnpd 2.3.1 dies listing more in one range).
TEST_F(BulkListing, OnlyATableOfAtMost128EntriesIsAskedForInBulk) {
    const struct {
        int tcp;
        int udp;
        std::size_t bulkRequests;
        std::size_t entryRequests;
    } cases[] = {{0, 0, 2, 1}, {100, 28, 2, 1}, {0, 128, 2, 1}, {100, 29, 0, 1 + 130},
                 {1000, 0, 0, 1 + 1001}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.tcp) + " TCP, " + std::to_string(c.udp) + " UDP");
        std::vector<cFakeGateway::cMapping> table;
        for (int i = 0; i < c.tcp; ++i)
            table.push_back(Mapping("TCP", 10000 + i, "t"));
        for (int i = 0; i < c.udp; ++i)
            table.push_back(Mapping("UDP", 2000 + 3 * i, "u"));
        const auto gateway = Start(table);
        const cRun run = RunCli(*gateway, {"--json"});
        const nlohmann::json mappings = nlohmann::json::parse(run.out)["mappings"];
        ASSERT_EQ(mappings.size(), table.size());
        EXPECT_EQ(CountAction(*gateway, "GetListOfPortMappings"), c.bulkRequests);
        EXPECT_EQ(CountAction(*gateway, "GetGenericPortMappingEntry"), c.entryRequests);
        for (std::size_t i = 0; i < table.size(); ++i)
            EXPECT_EQ(mappings[i]["externalPort"], table[i].externalPort) << i;
    }
}

// A listing that cannot be used whole is not used at all: the table is walked
// and prints exactly as the clean bulk run, text and JSON; at most one bulk
// request per protocol whatever the listing claims.
TEST_F(BulkListing, AnUnusableListingFallsBackToTheWalkAndPrintsTheSameTable) {
    const auto clean = Start(SmallTable());
    const cRun cleanText = RunCli(*clean, {});
    const cRun cleanJson = RunCli(*clean, {"--json"});
    ASSERT_EQ(CountAction(*clean, "GetGenericPortMappingEntry"), 2u); // index 128, twice

    const struct {
        const char* what;
        eListing listing;
    } cases[] = {
        {"escaped document cut off", eListing::kTruncated},
        {"answer past the 2 MiB bound", eListing::kOverBound},
        {"4097 entries in one answer", eListing::kTooManyEntries},
        {"a full answer of 1000 invented entries", eListing::kEndless},
        {"every entry at the start port", eListing::kStuck},
        {"not XML", eListing::kNotXml},
        {"entries under another root", eListing::kWrongRoot},
        {"external ports 0, 65536 and 80x", eListing::kBadPorts},
        {"escaped twice", eListing::kDoublyEscaped},
        {"action refused (401)", eListing::kRefused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto gateway = Start(SmallTable(), c.listing);
        const cRun text = RunCli(*gateway, {});
        EXPECT_EQ(text.status, kExitOk);
        EXPECT_EQ(text.out, cleanText.out);
        EXPECT_EQ(text.err, "");
        const cRun json = RunCli(*gateway, {"--json"});
        EXPECT_EQ(json.out, cleanJson.out);
        // Both runs: index 128, then the walk reads five entries and meets the end.
        EXPECT_EQ(CountAction(*gateway, "GetGenericPortMappingEntry"), 14u);
        EXPECT_LE(CountAction(*gateway, "GetListOfPortMappings"), 2u * 2u);
    }
}

TEST_F(BulkListing, AVersion1ServiceIsWalkedWithoutAskingInBulk) {
    options.serviceType = "urn:schemas-upnp-org:service:WANIPConnection:1";
    const auto gateway = Start(SmallTable());
    const cRun run = RunCli(*gateway, {"--json"});
    EXPECT_EQ(nlohmann::json::parse(run.out)["mappings"].size(), 5u);
    EXPECT_EQ(CountAction(*gateway, "GetListOfPortMappings"), 0u);
    EXPECT_EQ(CountAction(*gateway, "GetGenericPortMappingEntry"), 6u);
}

// Nothing to fall back on: the walk fails too. list says where it stopped,
// shows no rows, and still prints the gateway's addresses.
TEST_F(BulkListing, WhenTheWalkFailsTooTheListSaysWhereItStopped) {
    const auto gateway = Start(SmallTable(), eListing::kNotXml);
    cFakeGateway::cQueryAnswers answers;
    answers.listing = eListing::kNotXml;
    answers.refused = {"GetGenericPortMappingEntry"};
    gateway->SetQueryAnswers(answers);
    const cRun run = RunCli(*gateway, {"--json"});
    EXPECT_EQ(run.status, kExitOk);
    EXPECT_EQ(nlohmann::json::parse(run.out)["mappings"], nlohmann::json::array());
    EXPECT_EQ(nlohmann::json::parse(run.out)["externalAddress"], "203.0.113.7");
    EXPECT_NE(run.err.find("the listing stopped at index 0: 401"), std::string::npos) << run.err;
}

class GatewayStatus : public BulkListing {};

TEST_F(GatewayStatus, CountersAtTheTopOfTheirWidthAreShownAsSent) {
    const struct {
        const char* sent;
        const char* json; // the JSON value
    } cases[] = {
        {"4294967295", "4294967295"},                     // version 1: 32 bits
        {"0", "0"},                                       // just wrapped
        {"18446744073709551615", "\"18446744073709551615\""}, // 64 bits: kept as text
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sent);
        const auto gateway = Start({});
        cFakeGateway::cQueryAnswers answers;
        for (const char* counter : {"NewTotalBytesSent", "NewTotalBytesReceived",
                                    "NewTotalPacketsSent", "NewTotalPacketsReceived"})
            answers.status[counter] = c.sent;
        gateway->SetQueryAnswers(answers);
        const cRun json = RunCli(*gateway, {"--json", "status"});
        EXPECT_EQ(json.status, kExitOk);
        const nlohmann::json status = nlohmann::json::parse(json.out);
        for (const char* key :
             {"totalBytesSent", "totalBytesReceived", "totalPacketsSent", "totalPacketsReceived"})
            EXPECT_EQ(status[key].dump(), c.json) << key;
        const cRun text = RunCli(*gateway, {"status"});
        for (const char* label : {"Bytes sent:", "Bytes received:", "Packets sent:",
                                  "Packets received:"})
            EXPECT_NE(text.out.find(label + std::string(22 - std::string(label).size(), ' ') +
                                    " " + c.sent + "\n"),
                      std::string::npos)
                << text.out;
    }
}

// Each status action the gateway refuses with 401 leaves its items unknown;
// the others are still shown and the command succeeds.
TEST_F(GatewayStatus, ARefusedActionLeavesItsItemsUnknown) {
    const struct {
        std::set<std::string> refused;
        std::vector<const char*> unknown;
    } cases[] = {
        {{}, {}},
        {{"GetStatusInfo"}, {"connectionStatus", "uptime", "lastConnectionError"}},
        {{"GetCommonLinkProperties", "GetTotalPacketsSent"},
         {"accessType", "maxBitRateUp", "maxBitRateDown", "physicalLinkStatus",
          "totalPacketsSent"}},
        {{"GetStatusInfo", "GetConnectionTypeInfo", "GetNATRSIPStatus", "GetCommonLinkProperties",
          "GetTotalBytesSent", "GetTotalBytesReceived", "GetTotalPacketsSent",
          "GetTotalPacketsReceived"},
         {"connectionStatus", "uptime", "lastConnectionError", "connectionType",
          "possibleConnectionTypes", "natEnabled", "rsipAvailable", "accessType", "maxBitRateUp",
          "maxBitRateDown", "physicalLinkStatus", "totalBytesSent", "totalBytesReceived",
          "totalPacketsSent", "totalPacketsReceived"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.unknown.size());
        const auto gateway = Start({});
        cFakeGateway::cQueryAnswers answers;
        answers.refused = c.refused;
        gateway->SetQueryAnswers(answers);
        const cRun run = RunCli(*gateway, {"--json", "status"});
        EXPECT_EQ(run.status, kExitOk);
        EXPECT_EQ(run.err, "");
        const nlohmann::json status = nlohmann::json::parse(run.out);
        EXPECT_EQ(status.size(), 16u); // 15 items and the protocol
        std::size_t nulls = 0;
        for (const auto& [key, value] : status.items())
            nulls += value.is_null();
        EXPECT_EQ(nulls, c.unknown.size());
        for (const char* key : c.unknown)
            EXPECT_TRUE(status[key].is_null()) << key;
        const cRun text = RunCli(*gateway, {"status"});
        EXPECT_EQ(text.status, kExitOk);
        std::size_t unknownLines = 0;
        for (std::size_t at = text.out.find(" unknown\n"); at != std::string::npos;
             at = text.out.find(" unknown\n", at + 1))
            ++unknownLines;
        EXPECT_EQ(unknownLines, c.unknown.size()) << text.out;
    }
    // With nothing refused, the link items come from WANCommonInterfaceConfig
    // at its own control URL.
    const auto gateway = Start({});
    const cRun run = RunCli(*gateway, {"--json", "status"});
    EXPECT_EQ(nlohmann::json::parse(run.out)["physicalLinkStatus"], "Up");
    bool common = false;
    for (const cFakeGateway::cRequest& request : gateway->Requests())
        common = common || (request.path == cFakeGateway::kCommonControlPath &&
                            request.Action() == "GetCommonLinkProperties");
    EXPECT_TRUE(common);
}

} // namespace
