#include "cli/command_line.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using cArgs = std::vector<std::string>;

cCommandLine Parse(const cArgs& args) {
    cCommandLine line;
    std::string error;
    EXPECT_TRUE(ParseCommandLine(args, line, error)) << error;
    return line;
}

TEST(CommandLine, NoArgumentsListsWithTheWindowsTimeout) {
    const cCommandLine line = Parse({});
    EXPECT_EQ(line.command, eCommand::List);
    EXPECT_FALSE(line.json);
    EXPECT_EQ(line.timeoutMs, 5000);
}

TEST(CommandLine, ListAndExternalIpTakeOptionsOnEitherSide) {
    for (const cArgs& args :
         {cArgs{"--json", "list"}, cArgs{"list", "--json"}, cArgs{"--timeout", "250", "--json"}}) {
        const cCommandLine line = Parse(args);
        EXPECT_EQ(line.command, eCommand::List);
        EXPECT_TRUE(line.json);
    }
    const cCommandLine line = Parse({"external-ip", "--timeout", "250", "--json"});
    EXPECT_EQ(line.command, eCommand::ExternalIp);
    EXPECT_EQ(line.timeoutMs, 250);
    EXPECT_TRUE(line.json);
}

TEST(CommandLine, UsageErrorsAreRejected) {
    const cArgs cases[] = {
        {"frobnicate"},
        {"--verbose"},
        {"list", "extra"},
        {"external-ip", "1.2.3.4"},
        {"--timeout"},
        {"--timeout", "0"},
        {"--timeout", "-5"},
        {"--timeout", "5s"},
        {"--timeout", "600001"},
        {"--timeout", "99999999999999"},
        {"add", "TCP", "80", "--lease"},
        {"add", "TCP", "80", "h", "80", "bell\a"},
        {"add", "TCP", "80", "h\n", "80"},
        {"add", "TCP", "80", "--lease", "604801"},
        {"add", "TCP", "80", "--lease", "-1"},
        {"add", "TCP", "80", "--lease", "1h"},
        {"add"},
        {"add", "TCP"},
        {"add", "SCTP", "80"},
        {"add", "TCP ", "80"},
        {"add", "TCP", "80", "h", "80", "comment", "extra"},
        {"delete"},
        {"delete", "TCP", "80", "UDP"},
    };
    for (const cArgs& args : cases) {
        cCommandLine line;
        std::string error;
        EXPECT_FALSE(ParseCommandLine(args, line, error)) << args.front();
        EXPECT_FALSE(error.empty());
    }
}

struct cPortCase {
    const char* text;
    bool accepted;
    int first;
    int last;
};

// On the command line a port is a plain decimal number 1..65535 or a range
// A-B; the dialog's atoi reading ("80abc" is 80) is not the command line's.
TEST(CommandLine, AddAndDeletePortWordsArePlainNumbersOrRanges) {
    const cPortCase cases[] = {
        {"1", true, 1, 1},
        {"65535", true, 65535, 65535},
        {"08080", true, 8080, 8080},
        {"7500-7509", true, 7500, 7509},
        {"7500-7500", true, 7500, 7500},
        {"1-1024", true, 1, 1024},
        {"64512-65535", true, 64512, 65535},
        {"1-1025", false, 0, 0},    // more than 1024 ports
        {"7509-7500", false, 0, 0}, // A > B
        {"7500-", false, 0, 0},
        {"-7500", false, 0, 0},
        {"7500--7509", false, 0, 0},
        {"7500-7509-7510", false, 0, 0},
        {"7500 - 7509", false, 0, 0},
        {"0-10", false, 0, 0},
        {"65535-65536", false, 0, 0},
        {"80abc", false, 0, 0},
        {"  80", false, 0, 0},
        {"+80", false, 0, 0},
        {"0", false, 0, 0},
        {"65536", false, 0, 0},
        {"-80", false, 0, 0},
        {"abc", false, 0, 0},
        {"", false, 0, 0},
        {"4294967376", false, 0, 0},
        {"99999999999999999999", false, 0, 0},
    };
    for (const cPortCase& c : cases) {
        cCommandLine add;
        std::string error;
        EXPECT_EQ(ParseCommandLine({"add", "TCP", c.text, "192.168.1.10"}, add, error), c.accepted)
            << "add '" << c.text << "'";
        cCommandLine removal;
        ASSERT_EQ(ParseCommandLine({"delete", "UDP", "53", "TCP", c.text}, removal, error),
                  c.accepted)
            << "delete '" << c.text << "'";
        if (!c.accepted) {
            EXPECT_NE(error.find(c.text), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(add.addInput.externalPort, std::to_string(c.first));
        EXPECT_EQ(add.addCount, c.last - c.first + 1);
        EXPECT_EQ(removal.deletions.at(1).externalPort, c.first);
        EXPECT_EQ(removal.deletions.at(1).lastPort, c.last);
    }
}

TEST(CommandLine, TheInternalPortIsOnePortAndTheRangeMustFitAboveIt) {
    const struct {
        cArgs args;
        bool accepted;
        const char* internalPort;
    } cases[] = {
        {{"add", "TCP", "7500-7509"}, true, "7500"},
        {{"add", "TCP", "7500-7509", "h", "8000"}, true, "8000"},
        {{"add", "TCP", "7500-7509", "h", "65526"}, true, "65526"},
        {{"add", "TCP", "7500-7509", "h", "65527"}, false, ""},
        {{"add", "TCP", "80", "h", "80x"}, false, ""},
        {{"add", "TCP", "80", "h", "80-81"}, false, ""},
        {{"add", "TCP", "80", "--any-port"}, true, "80"},
        {{"add", "TCP", "80-81", "--any-port"}, false, ""},
    };
    for (const auto& c : cases) {
        cCommandLine line;
        std::string error;
        EXPECT_EQ(ParseCommandLine(c.args, line, error), c.accepted) << c.args.at(2) << error;
        if (c.accepted) {
            EXPECT_EQ(line.addInput.internalPort, c.internalPort);
        }
    }
}

TEST(CommandLine, AddDefaultsClientToLaterAndInternalPortToExternal) {
    const cCommandLine line = Parse({"add", "UDP", "9000"});
    EXPECT_FALSE(line.clientGiven);
    EXPECT_EQ(line.addInput.internalPort, "9000");
    EXPECT_EQ(line.addInput.description, "");
}

TEST(CommandLine, AddTakesEveryWordAfterTheCommandAsOperand) {
    const cCommandLine line = Parse({"add", "TCP", "80", "10.0.0.2", "81", "--json"});
    EXPECT_TRUE(line.clientGiven);
    EXPECT_EQ(line.addInput.internalClient, "10.0.0.2");
    EXPECT_EQ(line.addInput.internalPort, "81");
    EXPECT_EQ(line.addInput.description, "--json");
    EXPECT_FALSE(line.json);
}

TEST(CommandLine, AddTakesALeaseAnywhereAfterTheCommandAndJsonBeforeIt) {
    for (const cArgs& args : {cArgs{"--json", "add", "TCP", "80", "--lease", "3600"},
                              cArgs{"--json", "add", "--lease", "3600", "TCP", "80"}}) {
        const cCommandLine line = Parse(args);
        EXPECT_TRUE(line.json);
        EXPECT_EQ(line.leaseSeconds, 3600);
        EXPECT_EQ(line.addInput.externalPort, "80");
    }
    EXPECT_EQ(Parse({"add", "TCP", "80"}).leaseSeconds, 0);
    EXPECT_EQ(Parse({"add", "TCP", "80", "--lease", "604800"}).leaseSeconds, 604800);
    EXPECT_TRUE(Parse({"--json", "delete", "TCP", "80"}).json);
}

TEST(CommandLine, AddRejectsAnEmptyClientButAcceptsAnyOtherText) {
    cCommandLine line;
    std::string error;
    EXPECT_FALSE(ParseCommandLine({"add", "TCP", "80", ""}, line, error));
    EXPECT_EQ(Parse({"add", "TCP", "80", "not an address"}).addInput.internalClient,
              "not an address");
}

TEST(CommandLine, DeleteKeepsThePairsInOrder) {
    const cCommandLine line = Parse({"delete", "udp", "53", "TCP", "8080"});
    ASSERT_EQ(line.deletions.size(), 2u);
    EXPECT_EQ(line.deletions[0].protocol, "UDP");
    EXPECT_EQ(line.deletions[0].externalPort, 53);
    EXPECT_EQ(line.deletions[1].protocol, "TCP");
    EXPECT_EQ(line.deletions[1].externalPort, 8080);
}

TEST(CommandLine, DeleteChecksEveryPairBeforeAnythingIsSent) {
    for (const cArgs& args :
         {cArgs{"delete", "TCP", "80", "UDP", "0"}, cArgs{"delete", "TCP", "80", "ICMP", "1"}}) {
        cCommandLine line;
        std::string error;
        EXPECT_FALSE(ParseCommandLine(args, line, error));
    }
}

TEST(PortInput, RejectedInputLeavesTheRecordUntouched) {
    cUPnP::cEntry entry;
    entry.description = "before";
    EXPECT_FALSE(ValidatePortInput({"TCP", "80", "", "80", "c"}, entry));
    EXPECT_FALSE(ValidatePortInput({"TCP", "80", "h", "0", "c"}, entry));
    EXPECT_EQ(entry.description, "before");
    EXPECT_EQ(entry.externalPort, 0);
}

} // namespace

TEST(CommandLine, EveryCommandHasItsOwnHelp) {
    for (const char* command : {"list", "add", "delete", "external-ip", "gateways", "doctor"}) {
        for (const char* flag : {"--help", "-h"}) {
            const cCommandLine line = Parse({"--json", command, flag});
            EXPECT_EQ(line.command, eCommand::Help) << command;
            EXPECT_NE(line.helpText.find(std::string("Usage: wendrel-cli [GLOBAL OPTIONS] ") +
                                         command),
                      std::string::npos)
                << line.helpText;
        }
    }
    EXPECT_NE(Parse({"add", "--help"}).helpText.find("--lease"), std::string::npos);
    EXPECT_EQ(Parse({"--help"}).helpText, UsageText());
}
