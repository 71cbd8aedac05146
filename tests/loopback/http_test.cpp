#include "net/http.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_gateway.h"
#include "fake_ssdp.h"
#include "timing.h"

namespace {

using eMode = cFakeGateway::eMode;

struct cExchange {
    bool opened = false;
    bool sent = false;
    bool received = false;
    int status = -1;
    std::string body;
    long long elapsedMs = 0; // of Receive
};

cExchange Exchange(const char* method, const std::string& url, const std::string& body = "",
                   int timeoutMs = kHttpTimeoutMs, const char* soapAction = nullptr) {
    cExchange result;
    cHTTP http;
    result.opened = http.Open(method, url.c_str());
    if (soapAction)
        http.SetHeader("SOAPAction", soapAction);
    result.sent = http.Send(body.c_str());
    cStopwatch clock;
    result.received = http.Receive(timeoutMs);
    result.elapsedMs = clock.ElapsedMs();
    result.status = http.GetStatus();
    result.body = http.GetBody();
    return result;
}

class HttpClient : public testing::Test {
  protected:
    HttpClient() {
        cFakeGateway::cOptions options;
        options.address = kTestInterfaceAddress;
        gateway = std::make_unique<cFakeGateway>(options);
    }
    void SetUp() override { ASSERT_TRUE(gateway->IsRunning()); }

    std::string Host() const {
        return std::string(kTestInterfaceAddress) + ":" + std::to_string(gateway->GetPort());
    }

    std::unique_ptr<cFakeGateway> gateway;
};

} // namespace

TEST_F(HttpClient, GetSendsRequestLineAndHostOnly) {
    cExchange got = Exchange("GET", gateway->GetDescriptionUrl());
    EXPECT_TRUE(got.opened);
    EXPECT_TRUE(got.sent);
    EXPECT_TRUE(got.received);
    ASSERT_EQ(gateway->RequestCount(), 1u);
    EXPECT_EQ(gateway->Requests()[0].raw, "GET /igd/desc.xml HTTP/1.1\r\n"
                                          "HOST: " +
                                              Host() + "\r\n\r\n");
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.body, gateway->GetDescription());
}

TEST_F(HttpClient, PostSendsHeadersInCallOrderThenContentLengthThenBody) {
    const std::string body(312, 'x');
    cHTTP http;
    ASSERT_TRUE(http.Open("POST", (gateway->GetOrigin() + "/any/path?q=1").c_str()));
    http.SetHeader("SOAPAction", "\"urn:x#Y\"");
    http.SetHeader("X-Second", "2");
    ASSERT_TRUE(http.Send(body.c_str()));
    ASSERT_TRUE(http.Receive(kHttpTimeoutMs));
    ASSERT_EQ(gateway->RequestCount(), 1u);
    EXPECT_EQ(gateway->Requests()[0].raw, "POST /any/path?q=1 HTTP/1.1\r\n"
                                          "HOST: " +
                                              Host() +
                                              "\r\n"
                                              "SOAPAction: \"urn:x#Y\"\r\n"
                                              "X-Second: 2\r\n"
                                              "Content-Length: 312\r\n"
                                              "\r\n" +
                                              body);
    EXPECT_EQ(http.GetStatus(), 404);
}

TEST_F(HttpClient, UpperCaseSchemeIsAccepted) {
    std::string url = gateway->GetDescriptionUrl();
    url.replace(0, 4, "HTTP");
    EXPECT_EQ(Exchange("GET", url).status, 200);
}

TEST(HttpClientPort80, UrlWithoutPortUsesPort80AndStillWritesIt) {
    cFakeGateway::cOptions options;
    options.address = kTestInterfaceAddress;
    options.port = 80;
    cFakeGateway gateway(options);
    ASSERT_TRUE(gateway.IsRunning());
    cExchange got =
        Exchange("GET", std::string("http://") + kTestInterfaceAddress + "/igd/desc.xml");
    EXPECT_EQ(got.status, 200);
    ASSERT_EQ(gateway.RequestCount(), 1u);
    EXPECT_EQ(gateway.Requests()[0].raw, std::string("GET /igd/desc.xml HTTP/1.1\r\nHOST: ") +
                                             kTestInterfaceAddress + ":80\r\n\r\n");
}

TEST_F(HttpClient, RefusedUrlsMakeNoConnection) {
    const std::string origin = gateway->GetOrigin();
    for (const std::string& url : {
             "https://" + Host() + "/igd/desc.xml",
             Host() + "/igd/desc.xml",
             origin + "/igd/desc.xml HTTP/1.1\r\nX-Injected: 1\r\n",
             origin + "/a b",
             origin + "/\x7F",
             origin + "/caf\xC3\xA9",
         }) {
        cHTTP http;
        EXPECT_FALSE(http.Open("GET", url.c_str())) << url;
        EXPECT_FALSE(http.Send("")) << url;
        EXPECT_FALSE(http.Receive(200)) << url;
        EXPECT_EQ(http.GetStatus(), 0);
    }
    EXPECT_EQ(gateway->ConnectionCount(), 0);
}

TEST_F(HttpClient, WrongPathGets404) {
    cExchange got = Exchange("GET", gateway->GetOrigin() + "/igd/desc.xml/ctl/IPConn");
    EXPECT_TRUE(got.received);
    EXPECT_EQ(got.status, 404);
    EXPECT_EQ(got.body, "");
}

TEST_F(HttpClient, KeepAliveResponseEndsAtContentLength) {
    gateway->SetMode(eMode::kKeepAlive);
    // Framing ends the read: it returns without waiting out the silence time-out.
    cExchange got = Exchange("GET", gateway->GetDescriptionUrl(), "", 60000);
    EXPECT_TRUE(got.received);
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.body, gateway->GetDescription());
    EXPECT_LT(got.elapsedMs, kHttpDeadlineMs);
}

TEST_F(HttpClient, ChunkedBodyIsDecoded) {
    gateway->SetMode(eMode::kChunked);
    cExchange got = Exchange("GET", gateway->GetDescriptionUrl(), "", 60000);
    EXPECT_TRUE(got.received);
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.body, gateway->GetDescription());
    EXPECT_LT(got.elapsedMs, kHttpDeadlineMs);
}

TEST_F(HttpClient, TrickledResponseArrivesWhole) {
    gateway->SetMode(eMode::kTrickle);
    cExchange got = Exchange("GET", gateway->GetDescriptionUrl(), "", 1000);
    EXPECT_TRUE(got.received);
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.body, gateway->GetDescription());
}

TEST_F(HttpClient, CloseWithoutDataFails) {
    gateway->SetMode(eMode::kCloseWithoutData);
    cExchange got = Exchange("GET", gateway->GetDescriptionUrl(), "", 5000);
    EXPECT_FALSE(got.received);
    EXPECT_EQ(got.status, 0);
    EXPECT_LT(got.elapsedMs, 2000);
}

TEST_F(HttpClient, SilenceFailsAfterTheTimeOut) {
    gateway->SetMode(eMode::kSilence);
    cExchange got = Exchange("GET", gateway->GetDescriptionUrl(), "", 500);
    EXPECT_FALSE(got.received);
    EXPECT_EQ(got.status, 0);
    EXPECT_LT(got.elapsedMs, 1500);
}

TEST_F(HttpClient, HeadersWithoutThePromisedBodyEndAfterTheTimeOut) {
    gateway->SetMode(eMode::kHeadersOnly);
    cExchange got = Exchange("GET", gateway->GetDescriptionUrl(), "", 500);
    EXPECT_EQ(got.status, 200);
    EXPECT_LT(got.elapsedMs, 1500);
}

TEST_F(HttpClient, ServerErrorKeepsStatusAndFaultBody) {
    gateway->SetMode(eMode::kServerError);
    cExchange got = Exchange("GET", gateway->GetDescriptionUrl());
    EXPECT_TRUE(got.received);
    EXPECT_EQ(got.status, 500);
    EXPECT_EQ(got.body, BuildFault(501, "Action Failed"));
}

TEST_F(HttpClient, GarbageBodyIsHandedOnAsItCame) {
    gateway->SetMode(eMode::kGarbage);
    cExchange got = Exchange("GET", gateway->GetDescriptionUrl());
    EXPECT_TRUE(got.received);
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.body, "\x01\x02 this is <<< not & XML ]]>");
}

TEST_F(HttpClient, ResponseOverTheSizeCapFails) {
    gateway->SetMode(eMode::kHuge);
    cExchange got = Exchange("GET", gateway->GetDescriptionUrl(), "", 3000);
    EXPECT_FALSE(got.received);
    EXPECT_LT(got.elapsedMs, 3 * kHttpDeadlineMs);
}

struct cRawCase {
    const char* why;
    std::string response;
    int status;
    std::string body;
};

TEST_F(HttpClient, ResponsesAreSplitIntoStatusAndBody) {
    const std::vector<cRawCase> cases = {
        {"CR LF", "HTTP/1.1 200 OK\r\nServer: x\r\n\r\n<a/>", 200, "<a/>"},
        {"bare LF", "HTTP/1.1 200 OK\nServer: x\n\n<a/>\n", 200, "<a/>\n"},
        {"no empty line", "HTTP/1.1 404 Not Found\r\nServer: x\r\n", 404, ""},
        {"HTTP/1.0", "HTTP/1.0 500 Internal Server Error\r\n\r\nfault", 500, "fault"},
        {"status line of one word", "HTTP/1.1\r\n\r\nbody", 0, "body"},
        {"Content-Length shorter than the data",
         "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nabcdef", 200, "ab"},
        {"Content-Length not a number", "HTTP/1.1 200 OK\r\nContent-Length: x\r\n\r\nabc", 200,
         "abc"},
        {"chunked, upper-case hex, extension and trailer",
         "HTTP/1.1 200 OK\r\ntransfer-encoding: chunked\r\n\r\n"
         "A;name=value\r\n0123456789\r\n1\r\n!\r\n0\r\nX-Trailer: 1\r\n\r\n",
         200, "0123456789!"},
        {"header names in any case", "HTTP/1.1 200 OK\r\ncontent-length: 3\r\n\r\nabcdef", 200,
         "abc"},
    };
    for (const cRawCase& c : cases) {
        gateway->SetRawReply(c.response);
        cExchange got = Exchange("GET", gateway->GetDescriptionUrl(), "", 2000);
        EXPECT_TRUE(got.received) << c.why;
        EXPECT_EQ(got.status, c.status) << c.why;
        EXPECT_EQ(got.body, c.body) << c.why;
    }
}

TEST_F(HttpClient, ResponseCutShortOfItsFramingFailsWithTheStatusKept) {
    for (const std::string& response :
         {std::string("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"),
          std::string("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab")}) {
        gateway->SetRawReply(response);
        cExchange got = Exchange("GET", gateway->GetDescriptionUrl(), "", 2000);
        EXPECT_FALSE(got.received) << response;
        EXPECT_EQ(got.status, 200) << response;
        EXPECT_LT(got.elapsedMs, 2000) << response; // the close ends it
    }
}

TEST_F(HttpClient, EndlessDripEndsAtTheOverallDeadline) {
    // Never silent for the time-out, never complete: only the deadline ends it.
    gateway->SetMode(eMode::kDrip);
    cExchange got = Exchange("GET", gateway->GetDescriptionUrl(), "", 1000);
    EXPECT_EQ(got.status, 200);
    EXPECT_LT(got.elapsedMs, 2 * kHttpDeadlineMs);
}

TEST(HttpClientConnect, UnansweredConnectIsBoundedByTheCallersTimeOut) {
    cHTTP http;
    cStopwatch clock;
    EXPECT_FALSE(http.Open("GET", "http://192.0.2.99:5000/rootDesc.xml", 500));
    EXPECT_LT(clock.ElapsedMs(), 1500);
    EXPECT_FALSE(http.Send(""));
}
