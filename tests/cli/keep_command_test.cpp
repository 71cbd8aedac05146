#include "cli/keep_command.h"

#include <cstdio>
#include <sstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cli/command_line.h"
#include "cli/commands.h"

namespace {

// Enough of a gateway for one pass of keep --once: a table, and refusals of
// the ports it is told to refuse.
class cOncePeer : public cUPnP {
  public:
    bool Discover(int) override {
        ++searches;
        return found;
    }
    void Reset() override {}
    const char* GetModelName() override { return "fake"; }
    bool GetExternalAddress(std::string& out) override {
        out = "203.0.113.1";
        return true;
    }
    bool GetLocalAddress(std::string& out) override {
        out = "192.168.1.20";
        return true;
    }
    bool GetPortMappingEntry(int, cEntry&) override { return false; }
    bool AddPortMapping(const cEntry& entry) override { return AddPortMappingWithLease(entry, 0); }
    bool DeletePortMapping(const cEntry&) override { return true; }
    const cFailure& GetLastFailure() const override { return failure; }
    bool GetSpecificPortMappingEntry(const std::string& protocol, int port, cEntry& out,
                                     int& lease) override {
        for (const cEntry& entry : table) {
            if (entry.protocol == protocol && entry.externalPort == port) {
                out = entry;
                lease = leases;
                return true;
            }
        }
        failure = cFailure{714, "NoSuchEntryInArray", "no such mapping", ""};
        return false;
    }
    bool AddPortMappingWithLease(const cEntry& entry, int lease) override {
        if (entry.externalPort == refusedPort) {
            failure = cFailure{606, "ActionNotAuthorized", "not allowed", ""};
            return false;
        }
        table.push_back(entry);
        leases = lease;
        return true;
    }
    // What the keeper does not ask of a gateway.
    cIdentity GetIdentity() override { return {}; }
    bool Query(eService, const char*, std::map<std::string, std::string>&) override {
        return false;
    }
    void SetSearchInterface(std::uint32_t) override {}
    bool UseGateway(const std::string&, const std::string&, int, int) override { return false; }
    bool GetPortMappingEntryWithLease(int, cEntry&, int&) override { return false; }
    bool GetListOfPortMappings(const std::string&, int, int, int, std::string&) override {
        return false;
    }
    bool AddAnyPortMapping(const cEntry&, int, int&) override { return false; }
    bool DeletePortMappingRange(const std::string&, int, int) override { return false; }

    bool found = true;
    int searches = 0;
    int refusedPort = 0;
    int leases = 0;
    std::vector<cEntry> table;
    cFailure failure;
};

std::string WriteFile(const std::string& name, const std::string& text) {
    const std::string path = ::testing::TempDir() + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    return path;
}

int RunKeepCli(const std::vector<std::string>& args, cOncePeer& peer, std::string& log) {
    cCommandLine line;
    std::string error;
    if (!ParseCommandLine(args, line, error)) {
        log = error;
        return -1;
    }
    std::ostringstream out, err;
    const int status = RunCommand(line, peer, out, err);
    log = err.str();
    EXPECT_EQ(out.str(), "");
    return status;
}

TEST(KeepCommand, OptionsAreReadAfterTheFile) {
    const struct {
        std::vector<std::string> args;
        const char* error; // nullptr: accepted
    } rows[] = {
        {{"keep", "k.conf"}, nullptr},
        {{"--json", "--timeout", "900", "keep", "k.conf", "--once", "--lease", "0", "--check", "5"},
         nullptr},
        {{"keep"}, "keep takes FILE [--once] [--lease SECONDS] [--check SECONDS]"},
        {{"keep", "a", "b"}, "keep takes one FILE; unexpected b"},
        {{"keep", "k.conf", "--lease", "604801"}, "--lease needs seconds, 0-604800"},
        {{"keep", "k.conf", "--check", "0"}, "--check needs seconds, 1-86400"},
        {{"keep", "k.conf", "--check"}, "--check needs seconds, 1-86400"},
        {{"keep", "k.conf", "--json"}, "unknown option --json for keep"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.back());
        cCommandLine line;
        std::string error;
        EXPECT_EQ(ParseCommandLine(row.args, line, error), row.error == nullptr);
        EXPECT_EQ(error, row.error ? row.error : "");
    }
    cCommandLine line;
    std::string error;
    ASSERT_TRUE(ParseCommandLine({"keep", "k.conf", "--check", "5", "--once"}, line, error));
    EXPECT_EQ(line.command, eCommand::Keep);
    EXPECT_EQ(line.keep.file, "k.conf");
    EXPECT_EQ(line.keep.leaseSeconds, 3600);
    EXPECT_EQ(line.keep.checkSeconds, 5);
    EXPECT_TRUE(line.keep.once);
}

TEST(KeepCommand, BadFileExits2BeforeAnySearch) {
    cOncePeer peer;
    std::string log;
    const std::string path = WriteFile("keep_bad.conf", "TCP 80\nTCP 80 @ 81\n");
    EXPECT_EQ(RunKeepCli({"keep", path, "--once"}, peer, log), kExitUsage);
    EXPECT_EQ(log, path + ":2: duplicate TCP 80 (first on line 1)\n");
    EXPECT_EQ(RunKeepCli({"keep", "/nonexistent/keep.conf"}, peer, log), kExitUsage);
    EXPECT_EQ(log, "/nonexistent/keep.conf: cannot be read: No such file or directory\n");
    EXPECT_EQ(peer.searches, 0);
}

TEST(KeepCommand, OnceExits0WhenEveryMappingIsInPlaceAnd3Otherwise) {
    const std::string path =
        WriteFile("keep_once.conf", "TCP 8080\nUDP 9000 192.168.1.30 9001 game\n");
    cOncePeer peer;
    std::string log;
    EXPECT_EQ(RunKeepCli({"keep", path, "--once", "--lease", "600"}, peer, log), kExitOk);
    ASSERT_EQ(peer.table.size(), 2u);
    EXPECT_EQ(peer.table[0].internalClient, "192.168.1.20");
    EXPECT_EQ(peer.table[1].internalClient, "192.168.1.30");
    EXPECT_EQ(peer.leases, 600);
    EXPECT_EQ(log, "found the gateway\n"
                   "added TCP 8080 -> 192.168.1.20:8080, lease 600 s\n"
                   "added UDP 9000 -> 192.168.1.30:9001, lease 600 s\n");

    cOncePeer refusing;
    refusing.refusedPort = 9000;
    EXPECT_EQ(RunKeepCli({"--json", "keep", path, "--once"}, refusing, log), kExitFailed);
    std::istringstream lines(log);
    std::string last;
    for (std::string json; std::getline(lines, json);)
        last = json;
    const nlohmann::json refused = nlohmann::json::parse(last);
    EXPECT_EQ(refused["event"], "refused");
    EXPECT_EQ(refused["externalPort"], 9000);
    EXPECT_EQ(refused["error"]["code"], 606);

    cOncePeer absent;
    absent.found = false;
    EXPECT_EQ(RunKeepCli({"keep", path, "--once"}, absent, log), kExitFailed);
    EXPECT_EQ(log, "no UPnP gateway found\n");
}

} // namespace
