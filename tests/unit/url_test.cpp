#include "net/url.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct cResolveCase {
    const char* base;
    const char* reference;
    const char* expected;
};

void ExpectResolved(const std::vector<cResolveCase>& cases) {
    for (const cResolveCase& c : cases)
        EXPECT_EQ(ResolveUrl(c.base, c.reference), c.expected)
            << "base " << c.base << " reference " << c.reference;
}

} // namespace

TEST(ParseHttpUrl, TakesHostPortAndPathAsWritten) {
    cHttpUrl url;
    ASSERT_TRUE(ParseHttpUrl("http://192.168.0.1:2869/upnp/control/WANIPConn1", url));
    EXPECT_EQ(url.host, "192.168.0.1");
    EXPECT_EQ(url.port, 2869);
    EXPECT_EQ(url.path, "/upnp/control/WANIPConn1");
}

TEST(ParseHttpUrl, DefaultsToPort80AndKeepsTheQuery) {
    cHttpUrl url;
    ASSERT_TRUE(ParseHttpUrl("http://gateway/ctl?x=1&y=%20", url));
    EXPECT_EQ(url.host, "gateway");
    EXPECT_EQ(url.port, 80);
    EXPECT_EQ(url.path, "/ctl?x=1&y=%20");
}

TEST(ParseHttpUrl, AcceptsTheSchemeInAnyCase) {
    cHttpUrl url;
    EXPECT_TRUE(ParseHttpUrl("HTTP://192.0.2.1:5000/rootDesc.xml", url));
    EXPECT_TRUE(ParseHttpUrl("Http://192.0.2.1/", url));
}

TEST(ParseHttpUrl, WithoutPathGivesAnEmptyPath) {
    cHttpUrl url;
    ASSERT_TRUE(ParseHttpUrl("http://192.0.2.1:5000", url));
    EXPECT_EQ(url.port, 5000);
    EXPECT_EQ(url.path, "");
}

TEST(ParseHttpUrl, RefusesOtherSchemesAndUnsafeText) {
    for (const std::string& bad : std::vector<std::string>{
             "https://192.0.2.1/desc.xml",
             "ftp://192.0.2.1/desc.xml",
             "192.0.2.1:5000/desc.xml",
             "",
             "http:/",
             "http://",
             "http:///path",
             "http://192.0.2.1/a b",
             "http://192.0.2.1/a\tb",
             "http://192.0.2.1/ctl\r\nX-Injected: 1",
             "http://192.0.2.1/ctl\n",
             "http://192.0.2.1/\x7F",
             "http://192.0.2.1/caf\xC3\xA9",
             std::string("http://192.0.2.1/a\0b", 21),
         }) {
        cHttpUrl url;
        EXPECT_FALSE(ParseHttpUrl(bad, url)) << bad;
    }
}

// The three joinings a description can ask for, resolved as URI references.
TEST(ResolveUrl, ControlUrlAgainstUrlBaseWithoutTrailingSlash) {
    EXPECT_EQ(ResolveUrl("http://192.168.0.1:2869", "/upnp/control/WANIPConn1"),
              "http://192.168.0.1:2869/upnp/control/WANIPConn1");
}

TEST(ResolveUrl, ControlUrlWithLeadingSlashReplacesTheBasePath) {
    EXPECT_EQ(ResolveUrl("http://192.168.0.1:2869/", "/x"), "http://192.168.0.1:2869/x");
}

TEST(ResolveUrl, ControlUrlResolvesAgainstTheDescriptionUrlWithoutUrlBase) {
    EXPECT_EQ(ResolveUrl("http://192.168.0.1:5000/rootDesc.xml", "/ctl/IPConn"),
              "http://192.168.0.1:5000/ctl/IPConn");
}

TEST(ResolveUrl, ControlUrlResolvesRelativePathAgainstDescriptionDirectory) {
    ExpectResolved({
        {"http://192.0.2.10:5000/igd/desc.xml", "ctl/ip", "http://192.0.2.10:5000/igd/ctl/ip"},
        {"http://192.0.2.10:5000/igd/", "ctl/ip", "http://192.0.2.10:5000/igd/ctl/ip"},
        {"http://192.0.2.10:5000", "ctl/ip", "http://192.0.2.10:5000/ctl/ip"},
        {"http://192.0.2.10:5000/a/b/desc.xml", "../ctl", "http://192.0.2.10:5000/a/ctl"},
        {"http://192.0.2.10:5000/desc.xml", "./ctl", "http://192.0.2.10:5000/ctl"},
    });
}

TEST(ResolveUrl, AbsoluteControlUrlStandsAsItIs) {
    ExpectResolved({
        {"http://192.0.2.10:5000/rootDesc.xml", "http://192.0.2.20:49000/upnp/control",
         "http://192.0.2.20:49000/upnp/control"},
        {"http://192.0.2.10:5000/rootDesc.xml", "//192.0.2.20:2869/ctl",
         "http://192.0.2.20:2869/ctl"},
    });
}

TEST(ResolveUrl, QueryStrings) {
    ExpectResolved({
        {"http://192.0.2.10:5000/desc.xml?v=1", "ctl?id=7", "http://192.0.2.10:5000/ctl?id=7"},
        {"http://192.0.2.10:5000/desc.xml?v=1", "?id=7", "http://192.0.2.10:5000/desc.xml?id=7"},
        {"http://192.0.2.10:5000/desc.xml?v=1", "", "http://192.0.2.10:5000/desc.xml?v=1"},
        {"http://192.0.2.10:5000/desc.xml", "/ctl?a=1/../b", "http://192.0.2.10:5000/ctl?a=1/../b"},
    });
}

// RFC 3986, section 5.4 (the examples without fragments).
TEST(ResolveUrl, Rfc3986NormalExamples) {
    const char* base = "http://a/b/c/d;p?q";
    ExpectResolved({
        {base, "g", "http://a/b/c/g"},
        {base, "./g", "http://a/b/c/g"},
        {base, "g/", "http://a/b/c/g/"},
        {base, "/g", "http://a/g"},
        {base, "//g", "http://g"},
        {base, "?y", "http://a/b/c/d;p?y"},
        {base, "g?y", "http://a/b/c/g?y"},
        {base, ";x", "http://a/b/c/;x"},
        {base, "g;x", "http://a/b/c/g;x"},
        {base, "", "http://a/b/c/d;p?q"},
        {base, ".", "http://a/b/c/"},
        {base, "./", "http://a/b/c/"},
        {base, "..", "http://a/b/"},
        {base, "../", "http://a/b/"},
        {base, "../g", "http://a/b/g"},
        {base, "../..", "http://a/"},
        {base, "../../", "http://a/"},
        {base, "../../g", "http://a/g"},
    });
}

TEST(ResolveUrl, Rfc3986AbnormalExamples) {
    const char* base = "http://a/b/c/d;p?q";
    ExpectResolved({
        {base, "../../../g", "http://a/g"},
        {base, "../../../../g", "http://a/g"},
        {base, "/./g", "http://a/g"},
        {base, "/../g", "http://a/g"},
        {base, "g.", "http://a/b/c/g."},
        {base, ".g", "http://a/b/c/.g"},
        {base, "g..", "http://a/b/c/g.."},
        {base, "..g", "http://a/b/c/..g"},
        {base, "./../g", "http://a/b/g"},
        {base, "./g/.", "http://a/b/c/g/"},
        {base, "g/./h", "http://a/b/c/g/h"},
        {base, "g/../h", "http://a/b/c/h"},
        {base, "g;x=1/./y", "http://a/b/c/g;x=1/y"},
        {base, "g;x=1/../y", "http://a/b/c/y"},
        {base, "g?y/./x", "http://a/b/c/g?y/./x"},
    });
}

// Bracketed IPv6 literals: validated, kept without brackets in canonical text
// (so that they compare with the address an answer came from), port optional.
TEST(ParseHttpUrl, Ipv6LiteralsInBrackets) {
    const struct {
        const char* url;
        const char* host; // nullptr: refused
        int port;
        const char* path;
    } cases[] = {
        {"http://[fd00:77::1]:5000/rootDesc.xml", "fd00:77::1", 5000, "/rootDesc.xml"},
        {"http://[FD00:77:0:0:0:0:0:1]:5000/x", "fd00:77::1", 5000, "/x"},
        {"http://[fd00::1]/", "fd00::1", 80, "/"},
        {"http://[fd00::1]", "fd00::1", 80, ""},
        {"http://[::1]:8080/ctl?a=b", "::1", 8080, "/ctl?a=b"},
        {"http://[2001:db8:0:0:1:0:0:1]:1/", "2001:db8::1:0:0:1", 1, "/"},
        {"http://[0:0:0:0:0:0:0:0]:1/", "::", 1, "/"},
        {"http://[fd00:77::1:5000/x", nullptr, 0, ""},       // no closing bracket
        {"http://[fd00:77::1]5000/x", nullptr, 0, ""},       // no colon before the port
        {"http://[fd00:77::1]:/x", nullptr, 0, ""},          // empty port
        {"http://[fd00:77::1]:65536/x", nullptr, 0, ""},     // past 65535
        {"http://[fd00:77::1]:50x0/x", nullptr, 0, ""},
        {"http://[fe80::1%25eth0]:5000/x", nullptr, 0, ""},  // zones are not taken
        {"http://[::ffff:192.0.2.1]:5000/x", nullptr, 0, ""},
        {"http://[gateway]:5000/x", nullptr, 0, ""},
        {"http://[]:5000/x", nullptr, 0, ""},
        {"http://[1:2:3:4:5:6:7:8:9]/", nullptr, 0, ""},
        {"http://[1::2::3]/", nullptr, 0, ""},
        {"http://[12345::1]/", nullptr, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        cHttpUrl url;
        const bool parsed = ParseHttpUrl(c.url, url);
        ASSERT_EQ(parsed, c.host != nullptr);
        if (!parsed)
            continue;
        EXPECT_EQ(url.host, c.host);
        EXPECT_EQ(url.port, c.port);
        EXPECT_EQ(url.path, c.path);
        EXPECT_EQ(UrlHost(url.host), "[" + std::string(c.host) + "]");
    }
    cHttpUrl v4;
    ASSERT_TRUE(ParseHttpUrl("http://192.0.2.1:5000/x", v4));
    EXPECT_EQ(UrlHost(v4.host), "192.0.2.1");
}

TEST(Ipv6Literal, CanonicalTextCompressesTheFirstLongestZeroRun) {
    const struct {
        const char* text;
        const char* canonical; // nullptr: not a literal
    } cases[] = {
        {"fd00:77::20", "fd00:77::20"},
        {"FD00:0077:0000:0000:0000:0000:0000:0020", "fd00:77::20"},
        {"1:0:0:2:0:0:0:3", "1:0:0:2::3"},
        {"1:0:0:2:0:0:3:4", "1::2:0:0:3:4"},
        {"1:0:2:3:4:5:6:7", "1:0:2:3:4:5:6:7"}, // a single zero group stays
        {"::", "::"},
        {"1::", "1::"},
        {"::2", "::2"},
        {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0"},
        {":1::2", nullptr},
        {"1::2:", nullptr},
        {"1:2:3:4:5:6:7", nullptr},
        {"1:2:3:4:5:6:7:8::", nullptr},
        {":::", nullptr},
        {"1:::2", nullptr},
        {"", nullptr},
        {"192.0.2.1", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::uint8_t bytes[16];
        const bool parsed = ParseIpv6Literal(c.text, bytes);
        ASSERT_EQ(parsed, c.canonical != nullptr);
        if (parsed) {
            EXPECT_EQ(Ipv6Text(bytes), c.canonical);
        }
    }
}
