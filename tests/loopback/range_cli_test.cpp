// wendrel-cli's port ranges, --any-port and the word on a replaced mapping,
// against the fake gateway on loopback: what ends up in the gateway's table.
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "fake_gateway.h"
#include "fake_ssdp.h"
#include "upnp/gateway_impl.h"

namespace {

using cFakeMapping = cFakeGateway::cMapping;
using cJson = nlohmann::json;

const std::string kV1 = "urn:schemas-upnp-org:service:WANIPConnection:1";
const std::string kV2 = "urn:schemas-upnp-org:service:WANIPConnection:2";
// This host, as the gateway on the test interface sees it, and another one.
const std::string kHere = kTestInterfaceAddress;
const std::string kOther = "192.0.2.99";

struct cRun {
    int status;
    std::string out;
    std::string err;
};

cFakeMapping Held(int port, const std::string& client, int internalPort = 0,
                  const std::string& description = "") {
    cFakeMapping m;
    m.externalPort = port;
    m.internalPort = internalPort ? internalPort : port;
    m.internalClient = client;
    m.description = description;
    return m;
}

class cRangeCli {
  public:
    explicit cRangeCli(const std::string& serviceType) : gateway(Options(serviceType)) {}

    cRun Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--gateway", gateway.GetDescriptionUrl()});
        cCommandLine line;
        std::string error;
        EXPECT_TRUE(ParseCommandLine(args, line, error)) << error;
        std::ostringstream out, err;
        cUPnP::impl client;
        const int status = RunCommand(line, client, out, err);
        return {status, out.str(), err.str()};
    }

    // "port client:internal" for each mapping of the table, in port order.
    std::vector<std::string> Table() const {
        std::vector<std::string> rows;
        for (const cFakeMapping& m : gateway.Mappings())
            rows.push_back(std::to_string(m.externalPort) + " " + m.internalClient + ":" +
                           std::to_string(m.internalPort) +
                           (m.description.empty() ? "" : " " + m.description));
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    std::vector<std::string> Actions() const {
        std::vector<std::string> actions;
        for (const cFakeGateway::cRequest& request : gateway.Requests())
            if (request.method == "POST")
                actions.push_back(request.Action());
        return actions;
    }

    cFakeGateway gateway;

  private:
    static cFakeGateway::cOptions Options(const std::string& serviceType) {
        cFakeGateway::cOptions options;
        options.address = kTestInterfaceAddress;
        options.serviceType = serviceType;
        return options;
    }
};

std::vector<std::string> Rows(int first, int last, const std::string& client, int internalFirst) {
    std::vector<std::string> rows;
    for (int port = first; port <= last; ++port)
        rows.push_back(std::to_string(port) + " " + client + ":" +
                       std::to_string(internalFirst + port - first));
    return rows;
}

class RangeCli : public testing::TestWithParam<std::string> {};

INSTANTIATE_TEST_SUITE_P(BothVersions, RangeCli, testing::Values(kV1, kV2),
                         [](const auto& info) { return info.param == kV1 ? "v1" : "v2"; });

TEST_P(RangeCli, ARangeMapsEveryPortFromTheInternalStart) {
    cRangeCli cli(GetParam());
    const cRun run = cli.Run({"--json", "add", "TCP", "7500-7509", kHere, "8000", "web"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> expected;
    for (const std::string& row : Rows(7500, 7509, kHere, 8000))
        expected.push_back(row + " web");
    EXPECT_EQ(cli.Table(), expected);
    const cJson json = cJson::parse(run.out);
    ASSERT_EQ(json["added"].size(), 10u);
    EXPECT_EQ(json["added"][9]["externalPort"], 7509);
    EXPECT_EQ(json["added"][9]["internalPort"], 8009);
}

// A refusal half way takes back what this run added and puts back what it replaced.
TEST_P(RangeCli, ARefusalHalfWayLeavesTheTableAsItWas) {
    cRangeCli cli(GetParam());
    const std::vector<cFakeMapping> before = {Held(7502, kHere, 80, "old"), Held(7505, kOther)};
    cli.gateway.SetMappings(before);
    const std::vector<std::string> table = cli.Table();
    const cRun text = cli.Run({"add", "TCP", "7500-7509"});
    EXPECT_EQ(text.status, 3);
    EXPECT_NE(text.err.find("the gateway refused TCP 7505: 718 ConflictInMappingEntry"),
              std::string::npos)
        << text.err;
    EXPECT_NE(text.err.find("held by " + kOther + ":7505"), std::string::npos) << text.err;
    EXPECT_NE(text.err.find("took back 5 port(s) of TCP 7500-7509"), std::string::npos);
    EXPECT_EQ(cli.Table(), table);

    const cRun json = cli.Run({"--json", "add", "TCP", "7500-7509"});
    EXPECT_EQ(json.status, 3);
    const cJson answer = cJson::parse(json.out);
    EXPECT_EQ(answer["error"]["code"], 718);
    EXPECT_EQ(answer["error"]["owner"]["internalClient"], kOther);
    EXPECT_EQ(answer["failedPort"], 7505);
    EXPECT_EQ(answer["rolledBack"], cJson::parse("[7500, 7501, 7502, 7503, 7504]"));
    EXPECT_EQ(cli.Table(), table);
}

TEST_P(RangeCli, ARangeDeleteTakesThisHostsMappingsOnly) {
    const struct {
        std::vector<cFakeMapping> held;
        std::vector<std::string> left;
        bool rangeAction; // on version 2
    } cases[] = {
        // Another host inside the span: one delete each.
        {{Held(7500, kHere), Held(7503, kOther), Held(7504, kHere), Held(7600, kHere)},
         {"7503 " + kOther + ":7503", "7600 " + kHere + ":7600"},
         false},
        // Another host beside the span: the range action over this host's span.
        {{Held(7490, kOther), Held(7502, kHere), Held(7503, kHere), Held(7509, kOther)},
         {"7490 " + kOther + ":7490", "7509 " + kOther + ":7509"},
         true},
        {{Held(7503, kOther)}, {"7503 " + kOther + ":7503"}, false},
    };
    for (const auto& c : cases) {
        cRangeCli cli(GetParam());
        cli.gateway.SetMappings(c.held);
        const cRun run = cli.Run({"--json", "delete", "TCP", "7500-7508"});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(cli.Table(), c.left);
        const std::vector<std::string> actions = cli.Actions();
        const bool ranged = std::count(actions.begin(), actions.end(), "DeletePortMappingRange");
        EXPECT_EQ(ranged, c.rangeAction && GetParam() == kV2) << run.out;
        const cJson json = cJson::parse(run.out);
        EXPECT_EQ(json["failed"].size(), 0u);
        EXPECT_EQ(json["deleted"].size(), c.held.size() - c.left.size());
    }
}

TEST_P(RangeCli, AnyPortTakesTheNextFreePortAndSaysWhichOne) {
    cRangeCli cli(GetParam());
    cli.gateway.SetMappings({Held(7500, kOther), Held(7501, kOther)});
    const cRun run = cli.Run({"--json", "add", "TCP", "7500", "--any-port"});
    ASSERT_EQ(run.status, 0) << run.err;
    const cJson json = cJson::parse(run.out);
    EXPECT_EQ(json["added"]["externalPort"], 7502);
    EXPECT_EQ(json["added"]["requestedPort"], 7500);
    const std::vector<std::string> actions = cli.Actions();
    const bool any = std::count(actions.begin(), actions.end(), "AddAnyPortMapping");
    EXPECT_EQ(any, GetParam() == kV2);
    // Port by port, each step is said.
    EXPECT_EQ(json["warnings"].size(), GetParam() == kV2 ? 0u : 2u) << run.out;

    // A port this client maps already: port by port it counts as taken; the
    // version 2 gateway grants it and replaces the mapping, which is said.
    const cRun text = cli.Run({"add", "TCP", "7501", "--any-port"});
    if (GetParam() == kV1)
        EXPECT_EQ(text.out, "added TCP 7503 -> " + kHere +
                                ":7501 (7501 is taken; the gateway granted 7503)\n");
    else
        EXPECT_EQ(text.out, "added TCP 7502 -> " + kHere +
                                ":7501 (7501 is taken; the gateway granted 7502)\n"
                                "replaced this client's earlier mapping TCP 7502 -> " +
                                kHere + ":7500\n");
}

TEST_P(RangeCli, AnAddThatReplacesThisHostsMappingSaysSo) {
    cRangeCli cli(GetParam());
    cli.gateway.SetMappings({Held(7500, kHere, 80, "old")});
    const cRun text = cli.Run({"add", "TCP", "7500", kHere, "81"});
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.out, "added TCP 7500 -> " + kHere +
                            ":81\nreplaced this client's earlier mapping "
                            "TCP 7500 -> " +
                            kHere + ":80 \"old\"\n");
    const cRun json = cli.Run({"--json", "add", "TCP", "7500", kHere, "82"});
    const cJson added = cJson::parse(json.out)["added"];
    EXPECT_EQ(added["internalPort"], 82);
    EXPECT_EQ(added["replaced"]["internalPort"], 81);
    // A port nobody held replaces nothing.
    const cRun fresh = cli.Run({"--json", "add", "TCP", "7600"});
    EXPECT_FALSE(cJson::parse(fresh.out)["added"].contains("replaced"));
}

} // namespace
