// The readers of network input fed hostile bytes directly, without a network:
// the HTTP response framing, the XML document and the description reader.
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/http.h"
#include "support/xml.h"
#include "upnp/soap_impl.h"
#include "upnp/upnp.h"

namespace {

struct cResponseCase {
    const char* name;
    std::vector<std::string> pieces;
    bool refused;
    cHttpResponseReader::eResult result;
    int status;
    std::string body;
};

std::string Repeat(const std::string& text, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i)
        out += text;
    return out;
}

TEST(HostileResponse, FramingDecidesWholePartialOrRefused) {
    using R = cHttpResponseReader;
    const std::string ok = "HTTP/1.1 200 OK\r\n";
    const cResponseCase cases[] = {
        {"length complete across pieces",
         {ok + "Content-Length: 5\r\n\r\nab", "cde"},
         false,
         R::kWhole,
         200,
         "abcde"},
        {"length not reached keeps the status",
         {ok + "Content-Length: 5000\r\n\r\nabc"},
         false,
         R::kPartial,
         200,
         "abc"},
        {"chunked without the last chunk",
         {ok + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n"},
         false,
         R::kPartial,
         200,
         "abc"},
        {"chunked complete",
         {ok + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n"},
         false,
         R::kWhole,
         200,
         "abc"},
        {"chunk size past 64 bits",
         {ok + "Transfer-Encoding: chunked\r\n\r\nffffffffffffffff\r\n"},
         true,
         R::kNothing,
         0,
         ""},
        {"chunk size past the cap",
         {ok + "Transfer-Encoding: chunked\r\n\r\n200001\r\nab"},
         true,
         R::kNothing,
         0,
         ""},
        {"chunk size not hex",
         {ok + "Transfer-Encoding: chunked\r\n\r\nzz\r\nab"},
         true,
         R::kNothing,
         0,
         ""},
        {"negative length is ignored",
         {ok + "Content-Length: -1\r\n\r\nabc"},
         false,
         R::kWhole,
         200,
         "abc"},
        {"non-numeric length is ignored",
         {ok + "Content-Length: 1x\r\n\r\nabc"},
         false,
         R::kWhole,
         200,
         "abc"},
        {"header block past 64 KiB",
         {ok + "X: " + std::string(kHttpMaxHeaderBytes, 'h')},
         true,
         R::kNothing,
         0,
         ""},
        {"response past 2 MiB",
         {ok + "\r\n", std::string(kHttpMaxResponseBytes, 'b')},
         true,
         R::kNothing,
         0,
         ""},
        {"garbage status line", {"\x16\x03\x01 \xff\r\n\r\nabc"}, false, R::kWhole, 0, "abc"},
    };
    for (const cResponseCase& test : cases) {
        SCOPED_TRACE(test.name);
        cHttpResponseReader reader;
        bool refused = false;
        for (const std::string& piece : test.pieces)
            refused = reader.Append(piece) == R::kRefused || refused;
        EXPECT_EQ(refused, test.refused);
        if (refused)
            continue;
        int status = -1;
        std::string body;
        EXPECT_EQ(reader.Finish(status, body), test.result);
        EXPECT_EQ(status, test.status);
        EXPECT_EQ(body, test.body);
    }
}

TEST(HostileXml, NestingPastTheLimitFindsNothing) {
    const auto nested = [](int depth) {
        return Repeat("<device>", depth) + "<modelName>m</modelName>" + Repeat("</device>", depth);
    };
    cXML shallow;
    shallow.Load(nested(kXmlMaxDepth - 2).c_str());
    EXPECT_EQ(shallow.SelectText("//device/modelName"), "m");
    cXML deep;
    deep.Load(nested(kXmlMaxDepth + 1).c_str());
    EXPECT_EQ(deep.SelectText("//device/modelName"), "");
}

// Nested service/serviceType pairs make every serviceType's text the whole
// subtree below it: without the depth limit each service lookup is quadratic
// (minutes for a 2 MiB description).
TEST(HostileXml, DeeplyNestedServicesAreReadQuickly) {
    const std::string text = "<root>" + Repeat("<service><serviceType>", 25000) + kWanIpConnection +
                             Repeat("</serviceType><controlURL>/c</controlURL></service>", 25000) +
                             "</root>";
    const auto start = std::chrono::steady_clock::now();
    cSOAP::impl soap;
    EXPECT_FALSE(soap.ReadDescription(text.c_str(), "http://192.0.2.1:5000/d.xml",
                                      {kWanIpConnection, kWanPppConnection}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

std::string DescriptionWith(const std::string& urlBase, const std::string& controlUrl) {
    return "<?xml version=\"1.0\"?><root xmlns=\"urn:schemas-upnp-org:device-1-0\">" +
           (urlBase.empty() ? "" : "<URLBase>" + urlBase + "</URLBase>") +
           "<device><modelName>m</modelName><serviceList><service><serviceType>" +
           kWanIpConnection + "</serviceType><controlURL>" + controlUrl +
           "</controlURL></service></serviceList></device></root>";
}

// Actions go only to the host that served the description, over plain http,
// to a URL that cannot carry anything into the request line or headers.
TEST(HostileDescription, ControlUrlMustStayOnTheDescriptionHost) {
    const struct {
        const char* urlBase;
        const char* controlUrl;
        const char* expected; // "" when refused
    } cases[] = {
        {"", "/ctl/IPConn", "http://192.0.2.1:5000/ctl/IPConn"},
        {"", "http://192.0.2.1:6000/ctl", "http://192.0.2.1:6000/ctl"},
        {"http://192.0.2.1:7000/", "ctl", "http://192.0.2.1:7000/ctl"},
        {"", "//198.51.100.9/ctl", ""},
        {"", "http://127.0.0.1:5000/ctl", ""},
        {"http://127.0.0.1:5000/", "/ctl", ""},
        {"", "javascript:alert(1)", ""},
        {"", "https://192.0.2.1/ctl", ""},
        {"", "/ctl&#13;&#10;X-Injected: 1", ""},
        {"", "/ctl/IP Conn", ""},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.controlUrl);
        cSOAP::impl soap;
        const bool read =
            soap.ReadDescription(DescriptionWith(test.urlBase, test.controlUrl).c_str(),
                                 "http://192.0.2.1:5000/rootDesc.xml", {kWanIpConnection});
        EXPECT_EQ(read, *test.expected != '\0');
        EXPECT_EQ(soap.controlUrl, test.expected);
    }
}

// The IPv6 firewall's control URL is kept only on the host that served the
// description, as every other; an IPv6 description URL compares by address.
TEST(HostileDescription, FirewallControlUrlMustStayOnTheDescriptionHost) {
    const struct {
        const char* descriptionUrl;
        const char* firewallUrl;
        const char* expected; // "" when dropped
    } cases[] = {
        {"http://192.0.2.1:5000/d.xml", "/ctl/IP6FCtl", "http://192.0.2.1:5000/ctl/IP6FCtl"},
        {"http://[fd00:77::1]:5000/d.xml", "/ctl/IP6FCtl",
         "http://[fd00:77::1]:5000/ctl/IP6FCtl"},
        {"http://[fd00:77::1]:5000/d.xml", "http://[FD00:77:0::1]:5000/f",
         "http://[FD00:77:0::1]:5000/f"},
        {"http://[fd00:77::1]:5000/d.xml", "http://[fd00:77::2]:5000/f", ""},
        {"http://[fd00:77::1]:5000/d.xml", "http://192.0.2.1:5000/f", ""},
        {"http://192.0.2.1:5000/d.xml", "", ""},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(std::string(test.descriptionUrl) + " " + test.firewallUrl);
        const std::string text =
            std::string("<root><device><serviceList><service><serviceType>") + kWanIpConnection +
            "</serviceType><controlURL>/ctl/IPConn</controlURL></service>" +
            (*test.firewallUrl ? std::string("<service><serviceType>") + kWanIpv6FirewallControl +
                                     "</serviceType><controlURL>" + test.firewallUrl +
                                     "</controlURL></service>"
                               : std::string()) +
            "</serviceList></device></root>";
        cSOAP::impl soap;
        ASSERT_TRUE(soap.ReadDescription(text.c_str(), test.descriptionUrl, {kWanIpConnection}));
        EXPECT_EQ(soap.firewallControlUrl, test.expected);
    }
}

} // namespace
