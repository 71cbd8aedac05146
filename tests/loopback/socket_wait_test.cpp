// One wait over several sockets: the mask names the ones with data, a quiet
// wait ends at its time-out, closed and missing sockets are skipped.
#include "net/socket_wait.h"

#include <chrono>

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace {

constexpr std::uint16_t kFirstPort = 47000;

TEST(SocketWait, TheMaskNamesTheSocketsWithData) {
    cSocketUDP quiet, busy, sender;
    ASSERT_TRUE(quiet.Create() && quiet.Bind(kFirstPort, 50));
    ASSERT_TRUE(busy.Create() && busy.Bind(kFirstPort, 50));
    ASSERT_TRUE(sender.Create());
    sender.peerAddress = inet_addr("127.0.0.1");
    sender.peerPort = htons(busy.port);
    ASSERT_TRUE(sender.SendTo("x"));
    EXPECT_EQ(WaitForAnySocket({&quiet, nullptr, &busy}, 1000), 4u);

    cSocketUDP closed;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForAnySocket({&quiet, &closed}, 150), 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(140));
}

} // namespace
