#include "net/ssdp.h"

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "upnp/upnp.h"

namespace {

const std::set<std::string> kTargets{kWanIpConnection, kWanPppConnection};

struct cAnswerCase {
    const char* why;
    std::string datagram;
    bool accepted;
    std::string st;
    std::string location;
};

} // namespace

TEST(SsdpComposeSearch, IsTheFiveHeaderLinesThenAnEmptyLine) {
    EXPECT_EQ(cSSDP::ComposeSearch(kWanIpConnection),
              "M-SEARCH * HTTP/1.1\r\n"
              "MX: 3\r\n"
              "HOST: 239.255.255.250:1900\r\n"
              "MAN: \"ssdp:discover\"\r\n"
              "ST: urn:schemas-upnp-org:service:WANIPConnection:1\r\n"
              "\r\n");
}

TEST(SsdpComposeSearch, OverIPv6TheHostIsTheLinkLocalGroupInBrackets) {
    EXPECT_EQ(cSSDP::ComposeSearch(kWanIpConnection, true),
              "M-SEARCH * HTTP/1.1\r\n"
              "MX: 3\r\n"
              "HOST: [FF02::C]:1900\r\n"
              "MAN: \"ssdp:discover\"\r\n"
              "ST: urn:schemas-upnp-org:service:WANIPConnection:1\r\n"
              "\r\n");
}

TEST(SsdpParseAnswer, AcceptsOnlyComplete200AnswersForASearchedType) {
    const std::string ip = kWanIpConnection;
    const std::string ppp = kWanPppConnection;
    const std::string url = "http://192.0.2.1:5000/rootDesc.xml";
    const std::vector<cAnswerCase> cases = {
        {"gateway style", "HTTP/1.1 200 OK\r\nST: " + ip + "\r\nLOCATION: " + url + "\r\n\r\n",
         true, ip, url},
        {"header names in any case",
         "HTTP/1.1 200 OK\r\nst: " + ppp + "\r\nlocation: " + url + "\r\n\r\n", true, ppp, url},
        {"mixed case names", "HTTP/1.1 200 OK\r\nSt:" + ip + "\r\nLoCaTiOn:" + url + "\r\n", true,
         ip, url},
        {"HTTP/1.0", "HTTP/1.0 200 OK\r\nST: " + ip + "\r\nLocation: " + url + "\r\n\r\n", true, ip,
         url},
        {"bare line feeds", "HTTP/1.1 200 OK\nST: " + ip + "\nLOCATION: " + url + "\n\n", true, ip,
         url},
        {"value white space trimmed",
         "HTTP/1.1 200 OK\r\nST:\t " + ip + " \r\nLOCATION:  " + url + "\t\r\n", true, ip, url},
        {"later header wins",
         "HTTP/1.1 200 OK\r\nST: urn:other:1\r\nLOCATION: http://x/\r\nST: " + ip +
             "\r\nLOCATION: " + url + "\r\n",
         true, ip, url},
        {"other headers ignored",
         "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\nEXT:\r\n"
         "USN: uuid:1::" +
             ip + "\r\nSERVER: x\r\nST: " + ip + "\r\nLOCATION: " + url + "\r\n",
         true, ip, url},
        {"status with spaces and tabs",
         "HTTP/1.1 \t 200\tOK\r\nST: " + ip + "\r\nLOCATION: " + url + "\r\n", true, ip, url},
        {"ST differs in case",
         "HTTP/1.1 200 OK\r\nST: " + std::string("urn:schemas-upnp-org:service:wanipconnection:1") +
             "\r\nLOCATION: " + url + "\r\n",
         false, "", ""},
        {"ST not searched", "HTTP/1.1 200 OK\r\nST: upnp:rootdevice\r\nLOCATION: " + url + "\r\n",
         false, "", ""},
        {"ST of a higher version",
         "HTTP/1.1 200 OK\r\nST: "
         "urn:schemas-upnp-org:service:WANIPConnection:2\r\nLOCATION: " +
             url + "\r\n",
         false, "", ""},
        {"no Location", "HTTP/1.1 200 OK\r\nST: " + ip + "\r\n\r\n", false, "", ""},
        {"empty Location", "HTTP/1.1 200 OK\r\nST: " + ip + "\r\nLOCATION:   \r\n", false, "", ""},
        {"no ST", "HTTP/1.1 200 OK\r\nLOCATION: " + url + "\r\n", false, "", ""},
        {"404", "HTTP/1.1 404 Not Found\r\nST: " + ip + "\r\nLOCATION: " + url + "\r\n", false, "",
         ""},
        {"2000 is not 200", "HTTP/1.1 2000 OK\r\nST: " + ip + "\r\nLOCATION: " + url + "\r\n",
         false, "", ""},
        {"NOTIFY", "NOTIFY * HTTP/1.1\r\nNT: " + ip + "\r\nLOCATION: " + url + "\r\n", false, "",
         ""},
        {"M-SEARCH", cSSDP::ComposeSearch(kWanIpConnection), false, "", ""},
        {"one word", "HTTP/1.1\r\nST: " + ip + "\r\nLOCATION: " + url + "\r\n", false, "", ""},
        {"empty", "", false, "", ""},
    };
    for (const cAnswerCase& c : cases) {
        std::string st = "before", location = "before";
        EXPECT_EQ(cSSDP::ParseAnswer(c.datagram, kTargets, st, location), c.accepted) << c.why;
        if (c.accepted) {
            EXPECT_EQ(st, c.st) << c.why;
            EXPECT_EQ(location, c.location) << c.why;
        }
    }
}

TEST(SsdpParseAnswer, LocationKeepsEveryColonAfterTheFirst) {
    std::string st, location;
    ASSERT_TRUE(cSSDP::ParseAnswer(std::string("HTTP/1.1 200 OK\r\nST: ") + kWanIpConnection +
                                       "\r\nLOCATION: http://192.0.2.1:49152/a:b/desc.xml\r\n",
                                   kTargets, st, location));
    EXPECT_EQ(location, "http://192.0.2.1:49152/a:b/desc.xml");
}

TEST(SsdpParseAnswer, OnlyTheSearchedTargetsCount) {
    std::string st, location;
    const std::string answer = std::string("HTTP/1.1 200 OK\r\nST: ") + kWanPppConnection +
                               "\r\nLOCATION: http://192.0.2.1/\r\n";
    EXPECT_FALSE(cSSDP::ParseAnswer(answer, {kWanIpConnection}, st, location));
    EXPECT_TRUE(cSSDP::ParseAnswer(answer, {kWanPppConnection}, st, location));
}
