#include <gtest/gtest.h>

#include "app/add_port_input.h"
#include "app/port_window_logic.h"

namespace {

cAddPortInput Input(const char* protocol, const char* externalPort, const char* client,
                    const char* internalPort, const char* description = "") {
    return {protocol, externalPort, client, internalPort, description};
}

struct cRejected {
    const char* why;
    cAddPortInput input;
};

void PrintTo(const cRejected& value, std::ostream* out) {
    *out << value.why;
}

class RejectedInput : public testing::TestWithParam<cRejected> {};

TEST_P(RejectedInput, LeavesTheEntryUntouched) {
    cUPnP::cEntry entry;
    entry.description = "before";
    EXPECT_FALSE(ValidateAddPortInput(GetParam().input, entry));
    EXPECT_EQ(entry.description, "before");
    EXPECT_FALSE(entry.enabled);
    EXPECT_EQ(entry.externalPort, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, RejectedInput,
    testing::Values(cRejected{"NoProtocol", Input("", "80", "192.0.2.1", "80")},
                    cRejected{"ExternalZero", Input("TCP", "0", "192.0.2.1", "80")},
                    cRejected{"External65536", Input("TCP", "65536", "192.0.2.1", "80")},
                    cRejected{"ExternalLetters", Input("TCP", "http", "192.0.2.1", "80")},
                    cRejected{"ExternalEmpty", Input("TCP", "", "192.0.2.1", "80")},
                    cRejected{"ExternalNegative", Input("TCP", "-80", "192.0.2.1", "80")},
                    // 2^32 + 80 wraps to 80 in 32-bit arithmetic.
                    cRejected{"ExternalBeyondInt", Input("TCP", "4294967376", "192.0.2.1", "80")},
                    cRejected{"InternalZero", Input("TCP", "80", "192.0.2.1", "0")},
                    cRejected{"InternalBeyondInt", Input("TCP", "80", "192.0.2.1", "99999999999")},
                    cRejected{"NoClient", Input("TCP", "80", "", "80")}),
    [](const testing::TestParamInfo<cRejected>& info) { return info.param.why; });

struct cAccepted {
    const char* why;
    const char* portText;
    int port;
};

void PrintTo(const cAccepted& value, std::ostream* out) {
    *out << value.why;
}

class AcceptedPort : public testing::TestWithParam<cAccepted> {};

TEST_P(AcceptedPort, IsReadAsAtoiReadsIt) {
    cUPnP::cEntry entry;
    ASSERT_TRUE(
        ValidateAddPortInput(Input("UDP", GetParam().portText, "x", GetParam().portText), entry));
    EXPECT_EQ(entry.externalPort, GetParam().port);
    EXPECT_EQ(entry.internalPort, GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, AcceptedPort,
    testing::Values(cAccepted{"Lowest", "1", 1}, cAccepted{"Highest", "65535", 65535},
                    cAccepted{"TrailingLetters", "80abc", 80},
                    cAccepted{"LeadingBlanks", "  80", 80}, cAccepted{"PlusSign", "+80", 80}),
    [](const testing::TestParamInfo<cAccepted>& info) { return info.param.why; });

TEST(AddPortInput, FillsEveryFieldAndEnablesTheMapping) {
    cUPnP::cEntry entry;
    ASSERT_TRUE(ValidateAddPortInput(Input("TCP", "8080", "not an address", "80"), entry));
    EXPECT_TRUE(entry.enabled);
    EXPECT_EQ(entry.protocol, "TCP");
    EXPECT_EQ(entry.externalPort, 8080);
    EXPECT_EQ(entry.internalPort, 80);
    EXPECT_EQ(entry.internalClient, "not an address");
    EXPECT_EQ(entry.description, "");
}

TEST(WindowTitle, IsNameVersionAndFileVersionEvenWhenEmpty) {
    EXPECT_EQ(MakeWindowTitle("Wendrel", "1.07", "1.7.0.20"), "Wendrel Version 1.07(1.7.0.20)");
    EXPECT_EQ(MakeWindowTitle("", "", ""), " Version ()");
    EXPECT_EQ(MakeWindowTitle(nullptr, nullptr, nullptr), " Version ()");
}

} // namespace
