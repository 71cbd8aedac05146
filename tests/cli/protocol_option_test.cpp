#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/command_line.h"

namespace {

TEST(ProtocolOption, EachNameChoosesItsProtocolAndAutoIsTheDefault) {
    const struct {
        std::vector<std::string> args;
        eProtocolChoice expected;
    } cases[] = {
        {{"list"}, eProtocolChoice::kAuto},
        {{"--protocol", "auto", "list"}, eProtocolChoice::kAuto},
        {{"--protocol", "upnp"}, eProtocolChoice::kUpnp},
        {{"--protocol", "pcp", "external-ip"}, eProtocolChoice::kPcp},
        {{"--protocol=natpmp", "add", "TCP", "80"}, eProtocolChoice::kNatPmp},
        {{"--protocol", "pcp", "add", "TCP", "80", "--lease", "60"}, eProtocolChoice::kPcp},
    };
    for (const auto& c : cases) {
        cCommandLine line;
        std::string error;
        ASSERT_TRUE(ParseCommandLine(c.args, line, error)) << error;
        EXPECT_EQ(line.protocol, c.expected) << c.args[0];
    }
}

TEST(ProtocolOption, AnUnknownProtocolIsAUsageError) {
    for (const char* name : {"PCP", "igd", "", "nat-pmp"}) {
        cCommandLine line;
        std::string error;
        EXPECT_FALSE(ParseCommandLine({"--protocol", name, "list"}, line, error)) << name;
        EXPECT_EQ(error, "--protocol needs upnp, pcp, natpmp or auto") << name;
    }
}

TEST(ProtocolOption, AGatewayUrlGoesWithUpnpOnly) {
    cCommandLine line;
    std::string error;
    for (const char* protocol : {"pcp", "natpmp"}) {
        EXPECT_FALSE(ParseCommandLine(
            {"--gateway", "http://192.168.1.1:5000/d.xml", "--protocol", protocol}, line, error));
        EXPECT_NE(error.find("default gateway"), std::string::npos);
    }
    EXPECT_TRUE(ParseCommandLine(
        {"--gateway", "http://192.168.1.1:5000/d.xml", "--protocol", "upnp"}, line, error));
}

TEST(ProtocolOption, OnlyAnExplicitLeaseCountsAsGiven) {
    cCommandLine line;
    std::string error;
    ASSERT_TRUE(ParseCommandLine({"add", "TCP", "80"}, line, error));
    EXPECT_FALSE(line.leaseGiven);
    ASSERT_TRUE(ParseCommandLine({"add", "TCP", "80", "--lease", "0"}, line, error));
    EXPECT_TRUE(line.leaseGiven);
    EXPECT_EQ(line.leaseSeconds, 0);
}

} // namespace
