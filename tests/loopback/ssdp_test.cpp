#include "net/ssdp.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_ssdp.h"
#include "timing.h"
#include "upnp/upnp.h"

namespace {

using tAnswers = std::vector<cFakeSsdp::cAnswer>;

const std::string kUrlA = "http://192.0.2.10:5000/a.xml";
const std::string kUrlB = "http://192.0.2.10:5000/b.xml";

std::string Ok(const std::string& st, const std::string& location) {
    return cFakeSsdp::OkAnswer(st, location);
}

class Ssdp : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(responder.IsRunning()); }

    // Opens and searches both types, as discovery does.
    void SearchBoth() {
        ASSERT_TRUE(ssdp.Open());
        ASSERT_TRUE(ssdp.Search(kWanIpConnection));
        ASSERT_TRUE(ssdp.Search(kWanPppConnection));
    }

    cFakeSsdp responder;
    cSSDP ssdp;
};

} // namespace

TEST_F(Ssdp, SearchesBothTypesWithTheExactDatagramFromTheBoundPort) {
    SearchBoth();
    ASSERT_TRUE(responder.WaitForSearches(2, 2000));
    const auto searches = responder.Searches();
    ASSERT_EQ(searches.size(), 2u);
    EXPECT_EQ(searches[0].data, cSSDP::ComposeSearch(kWanIpConnection));
    EXPECT_EQ(searches[1].data, cSSDP::ComposeSearch(kWanPppConnection));
    for (const auto& search : searches) {
        EXPECT_EQ(search.fromAddress, kTestInterfaceAddress);
        EXPECT_GE(search.fromPort, 20000);
        EXPECT_LE(search.fromPort, 20100);
    }
}

TEST_F(Ssdp, FirstAcceptableAnswerWinsAfterSkippingTheRest) {
    const std::string ip = kWanIpConnection;
    responder.SetAnswersFor(
        ip, tAnswers{
                {"HTTP/1.1 404 Not Found\r\nST: " + ip + "\r\nLOCATION: http://x/404\r\n\r\n", 0},
                {"NOTIFY * HTTP/1.1\r\nNT: " + ip + "\r\nLOCATION: http://x/notify\r\n\r\n", 10},
                {"HTTP/1.1 200 OK\r\nST: " + ip + "\r\n\r\n", 20},
                {"HTTP/1.1 200 OK\r\nST: " + ip + "\r\nLOCATION:\r\n\r\n", 30},
                {Ok("urn:schemas-upnp-org:service:wanipconnection:1", "http://x/case"), 40},
                {Ok("upnp:rootdevice", "http://x/root"), 50},
                {Ok(ip, kUrlA), 150},
                {Ok(ip, kUrlB), 250},
            });
    responder.SetAnswersFor(kWanPppConnection, {});
    SearchBoth();
    ASSERT_TRUE(ssdp.Receive(2000));
    EXPECT_EQ(ssdp.st, ip);
    EXPECT_EQ(ssdp.location, kUrlA);
}

TEST_F(Ssdp, HeaderNamesMatchInAnyCase) {
    const std::string ppp = kWanPppConnection;
    responder.SetAnswersFor(kWanIpConnection, {});
    responder.SetAnswersFor(
        ppp, tAnswers{{"HTTP/1.0 200 OK\nst: " + ppp + "\nlocation: " + kUrlB + "\n\n", 0}});
    SearchBoth();
    ASSERT_TRUE(ssdp.Receive(2000));
    EXPECT_EQ(ssdp.st, ppp);
    EXPECT_EQ(ssdp.location, kUrlB);
}

TEST_F(Ssdp, WhicheverTypeAnswersFirstDecides) {
    responder.SetAnswersFor(kWanIpConnection, tAnswers{{Ok(kWanIpConnection, kUrlA), 300}});
    responder.SetAnswersFor(kWanPppConnection, tAnswers{{Ok(kWanPppConnection, kUrlB), 0}});
    SearchBoth();
    ASSERT_TRUE(ssdp.Receive(2000));
    EXPECT_EQ(ssdp.st, kWanPppConnection);
    EXPECT_EQ(ssdp.location, kUrlB);
}

TEST_F(Ssdp, TypeThatWasNotSearchedIsIgnored) {
    responder.SetAnswers(tAnswers{{Ok(kWanPppConnection, kUrlB), 0}});
    ASSERT_TRUE(ssdp.Open());
    ASSERT_TRUE(ssdp.Search(kWanIpConnection));
    cStopwatch clock;
    EXPECT_FALSE(ssdp.Receive(500));
    EXPECT_EQ(ssdp.st, "");
    EXPECT_EQ(ssdp.location, "");
    EXPECT_LT(clock.ElapsedMs(), 1500);
}

TEST_F(Ssdp, SilenceEndsTheSearchAfterTheTimeOut) {
    SearchBoth();
    cStopwatch clock;
    EXPECT_FALSE(ssdp.Receive(500));
    EXPECT_LT(clock.ElapsedMs(), 1500);
}

TEST_F(Ssdp, EachDatagramRestartsTheWait) {
    // Unrelated answers 300 ms apart keep a 500 ms wait alive until the
    // gateway's answer at 1200 ms.
    tAnswers answers;
    for (int at = 300; at <= 900; at += 300)
        answers.push_back({Ok("upnp:rootdevice", "http://x/"), at});
    answers.push_back({Ok(kWanIpConnection, kUrlA), 1200});
    responder.SetAnswersFor(kWanIpConnection, answers);
    responder.SetAnswersFor(kWanPppConnection, {});
    SearchBoth();
    ASSERT_TRUE(ssdp.Receive(500));
    EXPECT_EQ(ssdp.location, kUrlA);
}

TEST_F(Ssdp, ChattyDeviceCannotHoldTheSearchForever) {
    // An unrelated datagram every 250 ms for 20 s: the silence wait never ends,
    // the overall bound (time-out + kSsdpOverallExtraMs) does.
    tAnswers chatter;
    for (int at = 0; at <= 20000; at += 250)
        chatter.push_back({Ok("upnp:rootdevice", "http://x/"), at});
    responder.SetAnswersFor(kWanIpConnection, chatter);
    responder.SetAnswersFor(kWanPppConnection, {});
    SearchBoth();
    cStopwatch clock;
    EXPECT_FALSE(ssdp.Receive(1000));
    EXPECT_LT(clock.ElapsedMs(), 2 * (1000 + kSsdpOverallExtraMs));
}

TEST_F(Ssdp, AnswerIsReadOnlyUpToANulByte) {
    const std::string ip = kWanIpConnection;
    responder.SetAnswersFor(
        ip, tAnswers{{std::string("HTTP/1.1 200 OK\r\nST: ") + ip + "\r\n" + std::string(1, '\0') +
                          "LOCATION: http://x/hidden\r\n\r\n",
                      0},
                     {Ok(ip, kUrlA), 100}});
    responder.SetAnswersFor(kWanPppConnection, {});
    SearchBoth();
    ASSERT_TRUE(ssdp.Receive(2000));
    EXPECT_EQ(ssdp.location, kUrlA);
}

TEST_F(Ssdp, ReceiveWithoutOpenFailsAtOnce) {
    cStopwatch clock;
    EXPECT_FALSE(ssdp.Receive(5000));
    EXPECT_LT(clock.ElapsedMs(), 1000);
}
