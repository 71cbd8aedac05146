// wendrel-cli's commands over PCP and NAT-PMP against the fake server on
// loopback: the granted port, the cache of nonces, list from the cache, what
// only this host may map, and a server that speaks NAT-PMP only.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "fake_pcp_server.h"

namespace {

using tReplies = std::vector<cFakePcpServer::cReply>;

struct cRun {
    int status;
    std::string out;
    std::string err;
};

class cPcpCli {
  public:
    cPcpCli() {
        settings.server = "127.0.0.1";
        settings.port = server.Port();
        settings.localAddress = "127.0.0.1";
        settings.storePath = testing::TempDir() + "wendrel-pcp-cli-" +
                             std::to_string(reinterpret_cast<std::uintptr_t>(this));
        std::remove(settings.storePath.c_str());
    }
    ~cPcpCli() { std::remove(settings.storePath.c_str()); }

    cRun Run(const std::vector<std::string>& args) {
        cCommandLine line;
        std::string error;
        EXPECT_TRUE(ParseCommandLine(args, line, error)) << error;
        line.timeoutMs = std::min(line.timeoutMs, 600);
        std::ostringstream out, err;
        const int status = RunCommand(line, cUPnP::GetInstance(), out, err, &settings);
        return {status, out.str(), err.str()};
    }

    // A server that grants what is asked, or `granted` for every port.
    void Grant(int granted = 0) {
        server.SetHandler([granted](const std::string& request, int) {
            const bool natPmp = request[0] == 0;
            const int asked =
                natPmp ? (request.size() >= 8
                              ? (std::uint8_t(request[6]) << 8 | std::uint8_t(request[7]))
                              : 0)
                       : (std::uint8_t(request[42]) << 8 | std::uint8_t(request[43]));
            const std::uint16_t port = static_cast<std::uint16_t>(granted ? granted : asked);
            if (natPmp)
                return tReplies{{cFakePcpServer::NatPmpAnswer(request, 0, 100, port), false, 0}};
            const std::uint32_t lifetime = std::uint8_t(request[4]) << 24 |
                                           std::uint8_t(request[5]) << 16 |
                                           std::uint8_t(request[6]) << 8 | std::uint8_t(request[7]);
            return tReplies{
                {cFakePcpServer::PcpMapAnswer(request, 0, lifetime, 100, port), false, 0}};
        });
    }

    cFakePcpServer server;
    cPcpSettings settings;
};

TEST(PcpCli, AddPrintsTheGrantedPortAndDeleteUsesTheRememberedNonce) {
    cPcpCli cli;
    cli.Grant(40000);
    cRun run = cli.Run({"--protocol", "pcp", "add", "TCP", "8080", "127.0.0.1", "80", "web"});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    EXPECT_EQ(run.out, "added TCP 40000 -> 127.0.0.1:80, lease 7200 s\n");
    EXPECT_NE(run.err.find("granted external port 40000 instead of 8080"), std::string::npos);
    EXPECT_NE(run.err.find("kept on this host only"), std::string::npos);

    run = cli.Run({"--json", "--protocol", "pcp", "list"});
    EXPECT_EQ(run.status, kExitOk);
    const nlohmann::json list = nlohmann::json::parse(run.out);
    EXPECT_EQ(list["protocol"], "pcp");
    EXPECT_EQ(list["mappingsFrom"], "cache");
    ASSERT_EQ(list["mappings"].size(), 1u);
    EXPECT_EQ(list["mappings"][0]["externalPort"], 40000);
    EXPECT_EQ(list["mappings"][0]["description"], "web");
    EXPECT_NE(run.err.find("cannot list a gateway's mappings"), std::string::npos);

    run = cli.Run({"--json", "--protocol", "pcp", "delete", "TCP", "40000"});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out)["protocol"], "pcp");
    const std::vector<std::string> requests = cli.server.Requests();
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(requests.back().substr(24, 12), requests.front().substr(24, 12));

    run = cli.Run({"--protocol", "pcp", "delete", "TCP", "40000"});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_NE(run.err.find("nonce is unknown"), std::string::npos);
}

TEST(PcpCli, ALeaseOfZeroAsksForTheDefaultAndSaysWhy) {
    cPcpCli cli;
    cli.Grant();
    cRun run = cli.Run({"--protocol", "natpmp", "add", "UDP", "9000", "--lease", "0"});
    EXPECT_EQ(run.status, kExitOk);
    EXPECT_NE(run.err.find("no permanent mappings"), std::string::npos);
    ASSERT_EQ(cli.server.Requests().size(), 1u);
    EXPECT_EQ(cli.server.Requests()[0].substr(8, 4), std::string("\x00\x00\x1c\x20", 4));
    run = cli.Run({"--protocol", "natpmp", "add", "UDP", "9001"});
    EXPECT_EQ(run.err.find("no permanent mappings"), std::string::npos) << run.err;
}

TEST(PcpCli, OnlyThisHostMayBeTheClient) {
    cPcpCli cli;
    cli.Grant();
    const cRun run = cli.Run({"--protocol", "pcp", "add", "TCP", "8080", "192.0.2.99"});
    EXPECT_EQ(run.status, kExitUsage);
    EXPECT_NE(run.err.find("CLIENT must be this host (127.0.0.1)"), std::string::npos) << run.err;
    EXPECT_TRUE(cli.server.Requests().empty());
}

TEST(PcpCli, ANatPmpOnlyServerIsNamedAndSilenceIsNoGateway) {
    cPcpCli cli;
    cli.server.SetHandler([](const std::string&, int) {
        return tReplies{{std::string("\x00\x81\x00\x01\x00\x00\x00\x09", 8), false, 0}};
    });
    cRun run = cli.Run({"--protocol", "pcp", "external-ip"});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_NE(run.err.find("speaks NAT-PMP only"), std::string::npos) << run.err;

    cli.server.SetHandler(nullptr);
    run = cli.Run({"--json", "--protocol", "natpmp", "external-ip"});
    EXPECT_EQ(run.status, kExitNoGateway);
    EXPECT_EQ(nlohmann::json::parse(run.out)["error"]["name"], "Timeout");
    EXPECT_EQ(nlohmann::json::parse(run.out)["protocol"], "natpmp");
    run = cli.Run({"--protocol", "pcp", "list"});
    EXPECT_EQ(run.status, kExitNoGateway);
    EXPECT_NE(run.err.find("did not answer"), std::string::npos) << run.err;
}

// The lab shows a PCP server and a silent port; miniupnpd always speaks PCP.
TEST(PcpCli, DoctorNamesANatPmpOnlyServerAndCountsItUsable) {
    cPcpCli cli;
    cli.server.SetHandler([](const std::string&, int) {
        return tReplies{{std::string("\x00\x81\x00\x01\x00\x00\x00\x09", 8), false, 0}};
    });
    const cRun run = cli.Run({"--json", "doctor"});
    EXPECT_EQ(run.status, kExitOk);
    const nlohmann::json json = nlohmann::json::parse(run.out);
    EXPECT_EQ(nlohmann::json({json["pcpServer"], json["pcpAnswered"], json["pcpProtocol"],
                              json["pcpVersion"]}),
              nlohmann::json({"127.0.0.1", true, "natpmp", 0}));
    EXPECT_NE(json["verdict"].get<std::string>().find("use --protocol natpmp"), std::string::npos);
    // Asked once, during the search.
    EXPECT_EQ(cli.server.Requests().size(), 1u);
}

TEST(PcpCli, KeepOverPcpNamesANatPmpOnlyServer) {
    cPcpCli cli;
    const std::string file = testing::TempDir() + "wendrel-pcp-cli-keep.conf";
    std::ofstream(file) << "TCP 8080\n";
    cli.server.SetHandler([](const std::string&, int) {
        return tReplies{{std::string("\x00\x81\x00\x01\x00\x00\x00\x09", 8), false, 0}};
    });
    const cRun run = cli.Run({"--protocol", "pcp", "keep", file, "--once"});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_NE(run.err.find("speaks NAT-PMP only: use --protocol natpmp"), std::string::npos)
        << run.err;
    std::remove(file.c_str());
}

} // namespace
