// Hostile gateways and SSDP responders in the private test namespace. Every
// case runs the client twice at once — the client API in a forked child and
// wendrel-cli — and must end in a clean failure within its bound, with bounded
// memory. Each run prints a "hostile:" line with its time and peak memory.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_gateway.h"
#include "fake_ssdp.h"
#include "hostile_server.h"
#include "measure.h"
#include "net/http.h"
#include "net/ssdp.h"
#include "upnp/gateway_impl.h"

namespace {

constexpr int kDiscoveryTimeoutMs = 1000;
constexpr int kDiscoveryBoundMs = kDiscoveryTimeoutMs + kSsdpOverallExtraMs;
// "Does not hang" margin on every bound: scheduling, sanitizers, a loaded CI.
constexpr int kSlackMs = 2000;
// Killed past this: a hang, not a slow run.
constexpr int kKillMs = 30000;
// Peak memory: growth of the forked API client, whole wendrel-cli process. A
// response is capped at 2 MiB; an unbounded reader would pass these at once.
constexpr double kApiPeakCapMiB = 64;
constexpr double kCliPeakCapMiB = 96;

constexpr int kCleanFailure = 0;
constexpr int kWronglySucceeded = 1;
constexpr int kDiscoveryFailed = 2;
constexpr int kCliNoGateway = 1;
constexpr int kCliFailed = 3;

const std::string kAddress = kTestInterfaceAddress;

// Where the hostility sits: in the answer to the description GET, or in the
// answer to the first SOAP POST (the description being a good one).
enum class eStage { kDescription, kControl };

std::string Repeat(const std::string& text, size_t count) {
    std::string out;
    out.reserve(text.size() * count);
    for (size_t i = 0; i < count; ++i)
        out += text;
    return out;
}

std::string Ok(const std::string& headers, const std::string& body) {
    return "HTTP/1.1 200 OK\r\n" + headers + "\r\n" + body;
}

std::string WithLength(const std::string& body) {
    return Ok("Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n", body);
}

std::string Description(const std::string& controlUrlText) {
    return BuildDescription("", kWanIpConnection, controlUrlText, "Hostile Router");
}

const std::string kExternalIpAnswer =
    "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\">"
    "<s:Body><u:GetExternalIPAddressResponse xmlns:u=\"urn:schemas-upnp-org:service:"
    "WANIPConnection:1\"><NewExternalIPAddress>203.0.113.7</NewExternalIPAddress>"
    "</u:GetExternalIPAddressResponse></s:Body></s:Envelope>";

struct cOutcome {
    cMeasured api;
    cMeasured cli;
};

int ApiClient(eStage stage) {
    cUPnP::impl gateway;
    const bool found = gateway.Discover(kDiscoveryTimeoutMs);
    if (stage == eStage::kDescription)
        return found ? kWronglySucceeded : kCleanFailure;
    if (!found)
        return kDiscoveryFailed;
    std::string address;
    return gateway.GetExternalAddress(address) ? kWronglySucceeded : kCleanFailure;
}

// Runs both clients at once against whatever answers in the namespace now.
cOutcome RunClients(const std::string& name, eStage stage) {
    cChild cli = cChild::Program(
        {WENDREL_CLI_PATH, "--timeout", std::to_string(kDiscoveryTimeoutMs), "external-ip"});
    cChild api = cChild::Function([stage] { return ApiClient(stage); });
    cOutcome outcome;
    outcome.api = api.Wait(kKillMs);
    outcome.cli = cli.Wait(kKillMs);
    std::printf("hostile: %-34s api: %s | cli: %s\n", name.c_str(), Describe(outcome.api).c_str(),
                Describe(outcome.cli).c_str());
    return outcome;
}

void ExpectCleanFailure(const cOutcome& got, eStage stage, int boundMs) {
    const double limit = (boundMs + kSlackMs) / 1000.0;
    EXPECT_TRUE(got.api.exited) << "the API client was killed or crashed";
    EXPECT_EQ(got.api.status, kCleanFailure);
    EXPECT_LT(got.api.seconds, limit);
    EXPECT_LT(got.api.peakMiB, kApiPeakCapMiB);
    EXPECT_TRUE(got.cli.exited) << "wendrel-cli was killed or crashed";
    EXPECT_EQ(got.cli.status, stage == eStage::kDescription ? kCliNoGateway : kCliFailed);
    EXPECT_LT(got.cli.seconds, limit);
    EXPECT_LT(got.cli.peakMiB, kCliPeakCapMiB);
}

// A gateway whose description GET (or first SOAP POST) gets `respond`; the
// SSDP answer points at it, as a gateway's own would.
struct cHttpCase {
    const char* name;
    eStage stage;
    int boundMs; // the documented bound that ends this case
    std::function<void(cHostileConnection&)> respond;
};

void RunHttpCase(const cHttpCase& test) {
    SCOPED_TRACE(test.name);
    const eStage stage = test.stage;
    cHostileServer server(kAddress, [&test, stage](cHostileConnection& connection) {
        if (stage == eStage::kControl && connection.IsGet()) {
            connection.Write(WithLength(Description("/ctl/IPConn")));
            return;
        }
        test.respond(connection);
    });
    ASSERT_TRUE(server.IsRunning());
    cFakeSsdp ssdp;
    ASSERT_TRUE(ssdp.IsRunning());
    ssdp.EchoSearches(server.GetOrigin() + "/rootDesc.xml");
    ExpectCleanFailure(RunClients(test.name, stage), stage, test.boundMs);
}

void Trickle(cHostileConnection& connection, const std::string& bytes) {
    for (size_t i = 0; i < bytes.size() && connection.Write(bytes.substr(i, 1)); ++i)
        if (!connection.Sleep(1000))
            return;
    connection.Hold();
}

void Stream(cHostileConnection& connection, const std::string& head, size_t totalBytes) {
    if (!connection.Write(head))
        return;
    const std::string block(64 * 1024, 'x');
    for (size_t sent = 0; sent < totalBytes && connection.Write(block); sent += block.size()) {
    }
}

void UnframedForever(cHostileConnection& connection, const std::string& start) {
    if (!connection.Write(Ok("", start)))
        return;
    while (connection.Write(std::string(1024, ' ')) && connection.Sleep(100)) {
    }
}

std::string ChunkedBomb() {
    return Ok("Transfer-Encoding: chunked\r\n", "ffffffffffffffff\r\n" + std::string(4096, 'A'));
}

std::string DeepDescription(const std::string& open, const std::string& close, size_t depth) {
    return "<?xml version=\"1.0\"?><root xmlns=\"urn:schemas-upnp-org:device-1-0\">" +
           Repeat(open, depth) + kWanIpConnection + Repeat(close, depth) + "</root>";
}

std::string BillionLaughs() {
    std::string dtd = "<!DOCTYPE root [<!ENTITY l0 \"<serviceList><service><serviceType>" +
                      std::string(kWanIpConnection) +
                      "</serviceType><controlURL>/ctl</controlURL></service></serviceList>\">";
    for (int i = 1; i < 10; ++i)
        dtd += "<!ENTITY l" + std::to_string(i) + " \"" +
               Repeat("&l" + std::to_string(i - 1) + ";", 10) + "\">";
    dtd += "]>";
    return "<?xml version=\"1.0\"?>" + dtd +
           "<root><device><modelName>&l9;</modelName>&l9;</device></root>";
}

class HostileHttp : public testing::TestWithParam<cHttpCase> {};

TEST_P(HostileHttp, EndsInACleanFailureWithinItsBound) {
    RunHttpCase(GetParam());
}

const cHttpCase kHttpCases[] = {
    {"trickle 1 B/s forever (description)", eStage::kDescription, kHttpDeadlineMs,
     [](cHostileConnection& c) { Trickle(c, WithLength(Description("/ctl"))); }},
    {"trickle 1 B/s forever (SOAP)", eStage::kControl, kHttpDeadlineMs,
     [](cHostileConnection& c) { Trickle(c, WithLength(kExternalIpAnswer)); }},
    {"headers, then nothing (description)", eStage::kDescription, kHttpTimeoutMs,
     [](cHostileConnection& c) {
         c.Write(Ok("Content-Length: 5000\r\n", ""));
         c.Hold();
     }},
    {"headers, then nothing (SOAP)", eStage::kControl, kHttpTimeoutMs,
     [](cHostileConnection& c) {
         c.Write(Ok("Content-Length: 5000\r\n", ""));
         c.Hold();
     }},
    {"unframed body never ends (description)", eStage::kDescription, kHttpDeadlineMs,
     [](cHostileConnection& c) { UnframedForever(c, "<root><device>"); }},
    {"unframed body never ends (SOAP)", eStage::kControl, kHttpDeadlineMs,
     [](cHostileConnection& c) { UnframedForever(c, kExternalIpAnswer); }},
    {"200 MB body", eStage::kDescription, kHttpTimeoutMs,
     [](cHostileConnection& c) { Stream(c, Ok("Content-Length: 209715200\r\n", ""), 200u << 20); }},
    {"200 MB body, unframed (SOAP)", eStage::kControl, kHttpTimeoutMs,
     [](cHostileConnection& c) { Stream(c, Ok("", ""), 200u << 20); }},
    {"10 MB header line", eStage::kDescription, kHttpTimeoutMs,
     [](cHostileConnection& c) { Stream(c, "HTTP/1.1 200 OK\r\nX-Pad: ", 10u << 20); }},
    {"chunk size ffffffffffffffff", eStage::kDescription, kHttpTimeoutMs,
     [](cHostileConnection& c) {
         c.Write(ChunkedBomb());
         c.Hold();
     }},
    {"chunk size ffffffffffffffff (SOAP)", eStage::kControl, kHttpTimeoutMs,
     [](cHostileConnection& c) {
         c.Write(ChunkedBomb());
         c.Hold();
     }},
    {"negative Content-Length", eStage::kDescription, kHttpTimeoutMs,
     [](cHostileConnection& c) {
         c.Write(Ok("Content-Length: -1\r\n", "<root><device><modelName>x</modelName></device>"));
     }},
    {"non-numeric Content-Length, held open", eStage::kDescription, kHttpTimeoutMs,
     [](cHostileConnection& c) {
         c.Write(Ok("Content-Length: 12abc\r\n", "<root/>"));
         c.Hold();
     }},
    {"garbage status line (SOAP)", eStage::kControl, kHttpTimeoutMs,
     [](cHostileConnection& c) { c.Write("\x16\x03\x01\x02\x00 x\r\n\r\n" + kExternalIpAnswer); }},
    {"binary noise", eStage::kDescription, kHttpTimeoutMs,
     [](cHostileConnection& c) {
         std::string noise(1u << 20, '\0');
         unsigned state = 12345;
         for (char& byte : noise) {
             state = state * 1103515245u + 12345u;
             byte = static_cast<char>((state >> 16) & 0xFF);
             if (byte == '\n')
                 byte = '\0';
         }
         c.Write(noise);
     }},
    {"description nested 100000 deep", eStage::kDescription, kHttpTimeoutMs,
     [](cHostileConnection& c) {
         c.Write(WithLength(DeepDescription("<device>", "</device>", 100000)));
     }},
    {"service/serviceType nested 25000 deep", eStage::kDescription, kHttpTimeoutMs,
     [](cHostileConnection& c) {
         c.Write(WithLength(DeepDescription("<service><serviceType>",
                                            "</serviceType><controlURL>/c</controlURL></service>",
                                            25000)));
     }},
    {"billion laughs", eStage::kDescription, kHttpTimeoutMs,
     [](cHostileConnection& c) { c.Write(WithLength(BillionLaughs())); }},
};

INSTANTIATE_TEST_SUITE_P(Cases, HostileHttp, testing::ValuesIn(kHttpCases),
                         [](const testing::TestParamInfo<cHttpCase>& info) {
                             return "case" + std::to_string(info.index);
                         });

// A description whose controlURL must not be used: no request may follow it,
// neither to the gateway nor anywhere else.
class HostileControlUrl : public testing::TestWithParam<const char*> {};

TEST_P(HostileControlUrl, IsRefusedBeforeAnythingIsSent) {
    cHostileServer elsewhere("127.0.0.1", [](cHostileConnection& c) { c.Write(WithLength("")); });
    ASSERT_TRUE(elsewhere.IsRunning());
    std::string controlUrl = GetParam();
    const std::string port = std::to_string(elsewhere.GetPort());
    for (size_t at = controlUrl.find("PORT"); at != std::string::npos; at = controlUrl.find("PORT"))
        controlUrl.replace(at, 4, port);
    cHostileServer gateway(kAddress, [&controlUrl](cHostileConnection& c) {
        c.Write(WithLength(BuildDescription("", kWanIpConnection, controlUrl, "Hostile Router")));
    });
    ASSERT_TRUE(gateway.IsRunning());
    cFakeSsdp ssdp;
    ASSERT_TRUE(ssdp.IsRunning());
    ssdp.EchoSearches(gateway.GetOrigin() + "/rootDesc.xml");
    ExpectCleanFailure(RunClients(std::string("controlURL ") + GetParam(), eStage::kDescription),
                       eStage::kDescription, kHttpTimeoutMs);
    EXPECT_EQ(gateway.Requests().find("POST"), std::string::npos);
    EXPECT_EQ(elsewhere.ConnectionCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileControlUrl,
                         testing::Values("/ctl\r\nX-Injected: 1", "/ctl/IP Conn HTTP/1.1",
                                         "javascript:alert(1)", "https://192.0.2.10/ctl",
                                         "http://127.0.0.1:PORT/ctl", "//127.0.0.1:PORT/ctl"));

// SSDP responders. The answers go out from the test interface's port 1900.
struct cSsdpCase {
    const char* name;
    int boundMs;
    std::function<std::vector<cFakeSsdp::cAnswer>(const std::string& origin)> answers;
};

std::vector<cFakeSsdp::cAnswer> EveryMs(int periodMs, int count, const std::string& datagram) {
    std::vector<cFakeSsdp::cAnswer> answers;
    for (int i = 0; i < count; ++i)
        answers.push_back({datagram, i * periodMs});
    return answers;
}

std::string Answer(const std::string& st, const std::string& location) {
    return "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\nST: " + st +
           "\r\nLOCATION: " + location + "\r\nSERVER: hostile\r\n\r\n";
}

class HostileSsdp : public testing::TestWithParam<cSsdpCase> {};

TEST_P(HostileSsdp, EndsInACleanFailureWithinItsBound) {
    const cSsdpCase& test = GetParam();
    // A working gateway is there too: only the answers lead elsewhere.
    cFakeGateway::cOptions options;
    options.address = kAddress;
    cFakeGateway gateway(options);
    ASSERT_TRUE(gateway.IsRunning());
    cFakeSsdp ssdp;
    ASSERT_TRUE(ssdp.IsRunning());
    ssdp.SetAnswers(test.answers(gateway.GetOrigin()));
    ExpectCleanFailure(RunClients(test.name, eStage::kDescription), eStage::kDescription,
                       test.boundMs);
    EXPECT_EQ(gateway.RequestCount(), 0u);
}

const cSsdpCase kSsdpCases[] = {
    {"unrelated datagrams every 100 ms", kDiscoveryBoundMs,
     [](const std::string&) {
         return EveryMs(
             100, 200,
             Answer("urn:schemas-upnp-org:device:MediaServer:1", "http://192.0.2.10:1/x"));
     }},
    {"60000-byte datagrams every 100 ms", kDiscoveryBoundMs,
     [](const std::string& origin) {
         return EveryMs(100, 200,
                        "HTTP/1.1 200 OK\r\nST: urn:x\r\nX-Pad: " + std::string(60000, 'p') +
                            "\r\nLOCATION:" + origin + "/igd/desc.xml\r\n\r\n");
     }},
    {"empty Location", kDiscoveryBoundMs,
     [](const std::string&) { return EveryMs(100, 5, Answer(kWanIpConnection, "")); }},
    {"relative Location", kDiscoveryBoundMs,
     [](const std::string&) { return EveryMs(100, 5, Answer(kWanIpConnection, "/igd/desc.xml")); }},
    {"overlong Location", kDiscoveryBoundMs,
     [](const std::string&) {
         // On a port where nothing listens: the request may go, and fail.
         const std::string closed = "http://" + kAddress + ":1/";
         return EveryMs(100, 5, Answer(kWanIpConnection, closed + std::string(60000, 'a')));
     }},
    {"Location on another host", kDiscoveryBoundMs,
     [](const std::string& origin) {
         std::string moved = origin;
         moved.replace(moved.find(kAddress), kAddress.size(), "127.0.0.1");
         return EveryMs(100, 5, Answer(kWanIpConnection, moved + "/igd/desc.xml"));
     }},
};

INSTANTIATE_TEST_SUITE_P(Cases, HostileSsdp, testing::ValuesIn(kSsdpCases),
                         [](const testing::TestParamInfo<cSsdpCase>& info) {
                             return "case" + std::to_string(info.index);
                         });

// The gateway's host drops SYNs: connects never complete.
class DroppedSyns : public testing::Test {
  protected:
    void SetUp() override {
        if (std::system("command -v nft >/dev/null") != 0)
            GTEST_SKIP() << "nft (nftables) is not installed";
    }
    void TearDown() override { std::system("nft delete table inet wendrel_hostile 2>/dev/null"); }

    bool Drop(std::uint16_t port) {
        const std::string rules =
            "nft add table inet wendrel_hostile && "
            "nft add chain inet wendrel_hostile input '{ type filter hook input priority 0; }' && "
            "nft add rule inet wendrel_hostile input tcp dport " +
            std::to_string(port) + " tcp flags syn drop";
        return std::system(rules.c_str()) == 0;
    }
};

TEST_F(DroppedSyns, DescriptionFetchFailsAfterTheConnectBound) {
    cHostileServer server(kAddress, [](cHostileConnection& c) { c.Write(WithLength("")); });
    ASSERT_TRUE(server.IsRunning());
    ASSERT_TRUE(Drop(server.GetPort()));
    cFakeSsdp ssdp;
    ssdp.EchoSearches(server.GetOrigin() + "/rootDesc.xml");
    ExpectCleanFailure(RunClients("SYN dropped (description)", eStage::kDescription),
                       eStage::kDescription, kHttpTimeoutMs);
    EXPECT_EQ(server.ConnectionCount(), 0);
}

TEST_F(DroppedSyns, ActionFailsAfterTheConnectBoundAndSendsNothingLater) {
    cHostileServer control(kAddress,
                           [](cHostileConnection& c) { c.Write(WithLength(kExternalIpAnswer)); });
    ASSERT_TRUE(control.IsRunning());
    const std::string controlUrl = control.GetOrigin() + "/ctl/IPConn";
    cHostileServer gateway(kAddress, [&controlUrl](cHostileConnection& c) {
        c.Write(WithLength(BuildDescription("", kWanIpConnection, controlUrl, "Hostile Router")));
    });
    ASSERT_TRUE(gateway.IsRunning());
    ASSERT_TRUE(Drop(control.GetPort()));
    cFakeSsdp ssdp;
    ssdp.EchoSearches(gateway.GetOrigin() + "/rootDesc.xml");
    ExpectCleanFailure(RunClients("SYN dropped (SOAP)", eStage::kControl), eStage::kControl,
                       kHttpTimeoutMs);
    EXPECT_EQ(control.ConnectionCount(), 0);
}

} // namespace
