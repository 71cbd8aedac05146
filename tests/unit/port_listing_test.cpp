#include "upnp/port_listing.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

const std::string kOpen =
    "<p:PortMappingList xmlns:p=\"urn:schemas-upnp-org:gw:WANIPConnection\">";
const std::string kClose = "</p:PortMappingList>";

std::string Entry(const std::string& port, const std::string& protocol,
                  const std::string& description = "web", const std::string& lease = "3600") {
    return "<p:PortMappingEntry><p:NewRemoteHost></p:NewRemoteHost><p:NewExternalPort>" + port +
           "</p:NewExternalPort><p:NewProtocol>" + protocol +
           "</p:NewProtocol><p:NewInternalPort>80</p:NewInternalPort><p:NewInternalClient>"
           "192.168.77.20</p:NewInternalClient><p:NewEnabled>1</p:NewEnabled><p:NewDescription>" +
           description + "</p:NewDescription><p:NewLeaseTime>" + lease +
           "</p:NewLeaseTime></p:PortMappingEntry>";
}

TEST(PortListing, EveryEntryIsReadWithItsLease) {
    std::vector<cListedMapping> listed;
    ASSERT_TRUE(ReadPortListing(kOpen + Entry("8080", "TCP", "a &amp; b") +
                                    Entry("8081", "TCP", "", "0") + kClose,
                                10, listed));
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].entry.externalPort, 8080);
    EXPECT_EQ(listed[0].entry.internalPort, 80);
    EXPECT_EQ(listed[0].entry.internalClient, "192.168.77.20");
    EXPECT_TRUE(listed[0].entry.enabled);
    EXPECT_EQ(listed[0].entry.description, "a & b");
    EXPECT_EQ(listed[0].leaseSeconds, 3600);
    EXPECT_EQ(listed[1].leaseSeconds, 0);
    ASSERT_TRUE(ReadPortListing(kOpen + kClose, 10, listed));
    EXPECT_TRUE(listed.empty());
}

TEST(PortListing, AListingThatCannotBeReadWholeIsNotUsed) {
    const std::string good = kOpen + Entry("8080", "TCP") + kClose;
    std::string doubly = good;
    for (std::size_t at = doubly.find('<'); at != std::string::npos; at = doubly.find('<', at))
        doubly.replace(at, 1, "&lt;");
    const std::string cases[] = {
        good.substr(0, good.size() / 2),                   // truncated
        "garbage \x01\x02 not xml",                        // garbage
        doubly,                                            // escaped once too often
        kOpen + Entry("", "TCP") + kClose,                 // no port
        kOpen + Entry("70000", "TCP") + kClose,            // no such port
        kOpen + Entry("8080", "") + kClose,                // no protocol
        Entry("8080", "TCP"),                              // no list around it
        kOpen + Entry("1", "TCP") + Entry("2", "TCP") + Entry("3", "TCP") + kClose, // too many
    };
    for (const std::string& text : cases) {
        std::vector<cListedMapping> listed{cListedMapping()};
        EXPECT_FALSE(ReadPortListing(text, 2, listed)) << text;
        EXPECT_EQ(listed.size(), 1u) << "left as it was";
    }
}

TEST(PortListing, OnlyAVersion2ServiceIsAskedInBulk) {
    EXPECT_TRUE(IsVersion2("urn:schemas-upnp-org:service:WANIPConnection:2"));
    EXPECT_FALSE(IsVersion2("urn:schemas-upnp-org:service:WANIPConnection:1"));
    EXPECT_FALSE(IsVersion2(""));
}

} // namespace
