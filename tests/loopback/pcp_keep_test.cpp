// keep over PCP against the fake server, in the private namespace: a restart
// the server's epoch shows, and its ANNOUNCE on 224.0.0.1, heard only from
// the server's own address. keep runs on this thread until a helper thread
// stops it with SIGTERM, as a service manager would.
#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli/commands.h"
#include "fake_pcp_server.h"

namespace {

using cClock = std::chrono::steady_clock;
using tReplies = std::vector<cFakePcpServer::cReply>;

// wl0's address in tests/in-private-netns: multicast sent through it loops back.
constexpr const char* kHost = "192.0.2.10";
constexpr std::uint16_t kAnnouncePort = 15350;
constexpr int kWaitMs = 5000;

std::uint32_t Lifetime(const std::string& request) {
    return std::uint8_t(request[4]) << 24 | std::uint8_t(request[5]) << 16 |
           std::uint8_t(request[6]) << 8 | std::uint8_t(request[7]);
}

std::string Nonce(const std::string& request) {
    return request.substr(24, 12);
}

// A PCP server whose epoch counts the seconds since it (re)started, as a
// real one does; Restart() starts the count again.
class cRestartingServer {
  public:
    explicit cRestartingServer(const char* address) : server(address) {
        server.SetHandler([this](const std::string& request, int) {
            const auto since = cClock::now() - startedAt.load();
            const auto epoch = static_cast<std::uint32_t>(
                std::chrono::duration_cast<std::chrono::seconds>(since).count());
            const std::uint16_t asked = static_cast<std::uint16_t>(std::uint8_t(request[42]) << 8 |
                                                                   std::uint8_t(request[43]));
            return tReplies{{cFakePcpServer::PcpMapAnswer(request, 0, Lifetime(request),
                                                          epochBase + epoch, asked),
                             false, 0}};
        });
    }
    void Restart() {
        epochBase = 0;
        startedAt = cClock::now();
    }
    // The MAP requests that asked for a lease (adds and renewals), in order.
    std::vector<std::string> Adds() const {
        std::vector<std::string> adds;
        for (const std::string& request : server.Requests())
            if (request.size() >= 60 && Lifetime(request) > 0)
                adds.push_back(request);
        return adds;
    }
    bool WaitForAdds(std::size_t count) const {
        const auto end = cClock::now() + std::chrono::milliseconds(kWaitMs);
        while (Adds().size() < count && cClock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return Adds().size() >= count;
    }

    cFakePcpServer server;
    std::atomic<std::uint32_t> epochBase{5000};
    std::atomic<cClock::time_point> startedAt{cClock::now()};
};

void SendAnnounce() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, kHost, &from.sin_addr);
    bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &from.sin_addr, sizeof from.sin_addr);
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(kAnnouncePort);
    inet_pton(AF_INET, "224.0.0.1", &group.sin_addr);
    std::string announce(24, '\0');
    announce[0] = 2;
    announce[1] = static_cast<char>(0x80);
    sendto(fd, announce.data(), announce.size(), 0, reinterpret_cast<sockaddr*>(&group),
           sizeof group);
    close(fd);
}

struct cKeepRun {
    int status = -1;
    std::string log;
};

// keep FILE over PCP at `server` until `during` returns; then SIGTERM.
cKeepRun Keep(const std::string& serverAddress, std::uint16_t port, int checkSeconds,
              const std::function<void()>& during) {
    const std::string file = testing::TempDir() + "wendrel-pcp-keep.conf";
    std::ofstream(file) << "TCP 8080\n";
    cPcpSettings settings;
    settings.server = serverAddress;
    settings.port = port;
    settings.localAddress = kHost;
    settings.announcePort = kAnnouncePort;
    settings.storePath = testing::TempDir() + "wendrel-pcp-keep-mappings";
    std::remove(settings.storePath.c_str());
    cCommandLine line;
    std::string error;
    EXPECT_TRUE(ParseCommandLine({"--protocol", "pcp", "--timeout", "600", "keep", file, "--check",
                                  std::to_string(checkSeconds)},
                                 line, error))
        << error;
    std::thread helper([&during] {
        during();
        kill(getpid(), SIGTERM);
    });
    std::ostringstream out, err;
    cKeepRun run;
    run.status = RunCommand(line, cUPnP::GetInstance(), out, err, &settings);
    run.log = err.str();
    helper.join();
    std::remove(file.c_str());
    std::remove(settings.storePath.c_str());
    return run;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

TEST(PcpKeep, AnEpochThatWentBackwardsAtACheckMakesTheMappingAgain) {
    cRestartingServer gateway("127.0.0.1");
    bool remade = false;
    const cKeepRun run = Keep("127.0.0.1", gateway.server.Port(), 1, [&] {
        if (!gateway.WaitForAdds(1))
            return;
        gateway.Restart();
        remade = gateway.WaitForAdds(2);
    });
    EXPECT_EQ(run.status, kExitOk);
    ASSERT_TRUE(remade) << run.log;
    const std::vector<std::string> adds = gateway.Adds();
    // The old nonce went with the restart; the stop deletes with the new one.
    EXPECT_NE(Nonce(adds[1]), Nonce(adds[0]));
    const std::vector<std::string> requests = gateway.server.Requests();
    EXPECT_EQ(Lifetime(requests.back()), 0u);
    EXPECT_EQ(Nonce(requests.back()), Nonce(adds[1]));
    EXPECT_EQ(Count(run.log, "\nthe gateway restarted\n"), 1u) << run.log;
    EXPECT_EQ(Count(run.log, "restored TCP 8080"), 1u) << run.log;
    EXPECT_EQ(Count(run.log, "deleted TCP 8080"), 1u) << run.log;
}

TEST(PcpKeep, AnAnnounceCountsOnlyFromTheServersAddress) {
    const struct {
        const char* server; // the ANNOUNCE always comes from kHost
        bool restart;
    } cases[] = {{"127.0.0.1", false}, {kHost, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.server);
        cRestartingServer gateway(c.server);
        bool remade = false;
        // Checks far apart: only the ANNOUNCE can show the restart.
        const cKeepRun run = Keep(c.server, gateway.server.Port(), 3600, [&] {
            if (!gateway.WaitForAdds(1))
                return;
            if (c.restart)
                gateway.Restart();
            SendAnnounce();
            const auto end = cClock::now() + std::chrono::milliseconds(c.restart ? kWaitMs : 1000);
            while (!remade && cClock::now() < end) {
                remade = gateway.Adds().size() >= 2;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        EXPECT_EQ(run.status, kExitOk);
        EXPECT_EQ(remade, c.restart) << run.log;
        EXPECT_EQ(Count(run.log, "\nthe gateway restarted\n"), c.restart ? 1u : 0u) << run.log;
        EXPECT_EQ(run.log.find("cannot listen"), std::string::npos) << run.log;
    }
}

} // namespace
