#include "net/socket.h"

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <winsock2.h>

// Winsock behind the socket header, over loopback only.
namespace {

constexpr const char* kLoopback = "127.0.0.1";

// A plain Winsock socket for the other end.
class cPeer {
  public:
    explicit cPeer(int type) : socket((cSocketSystem::GetInstance(), ::socket(AF_INET, type, 0))) {}
    ~cPeer() {
        if (socket != INVALID_SOCKET)
            closesocket(socket);
    }
    // Binds to a free loopback port; returns it.
    std::uint16_t BindAny(std::uint16_t port = 0) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        if (bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return 0;
        int length = sizeof address;
        getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
        return ntohs(address.sin_port);
    }
    SOCKET socket;
};

// A free UDP port, found by probing.
std::uint16_t FreeUdpPort() {
    cPeer probe(SOCK_DGRAM);
    return probe.BindAny();
}

} // namespace

TEST(WinsockBind, SkipsAPortInUseAndRecordsTheOneBound) {
    ASSERT_TRUE(cSocketSystem::GetInstance().started);
    cPeer taken(SOCK_DGRAM);
    const std::uint16_t first = taken.BindAny(FreeUdpPort());
    ASSERT_NE(first, 0);
    cSocketUDP udp;
    ASSERT_TRUE(udp.Create());
    ASSERT_TRUE(udp.Bind(first, 1));
    EXPECT_EQ(udp.port, first + 1);
}

TEST(WinsockBind, AFullyTakenRangeSucceedsUnboundAndKeepsThePort) {
    cPeer taken(SOCK_DGRAM);
    const std::uint16_t first = taken.BindAny(FreeUdpPort());
    ASSERT_NE(first, 0);
    cSocketUDP udp;
    ASSERT_TRUE(udp.Create());
    udp.port = 7;
    EXPECT_TRUE(udp.Bind(first, 0));
    EXPECT_EQ(udp.port, 7);
}

TEST(WinsockUdp, EachReceiveReturnsOneDatagramAndRecordsItsSender) {
    cSocketUDP receiver;
    ASSERT_TRUE(receiver.Create());
    const std::uint16_t port = FreeUdpPort();
    ASSERT_TRUE(receiver.Bind(port, 0));
    cPeer sender(SOCK_DGRAM);
    const std::uint16_t senderPort = sender.BindAny();
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = inet_addr(kLoopback);
    to.sin_port = htons(port);
    const std::string first(200, 'a'), second(250, 'b');
    sendto(sender.socket, first.data(), 200, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    sendto(sender.socket, second.data(), 250, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);

    std::string buffer;
    ASSERT_TRUE(receiver.RecvFrom(buffer, 2000));
    EXPECT_EQ(buffer, first + '\0');
    EXPECT_EQ(receiver.peerPort, htons(senderPort));
    EXPECT_EQ(receiver.peerAddress, inet_addr(kLoopback));
    ASSERT_TRUE(receiver.RecvFrom(buffer, 2000));
    EXPECT_EQ(buffer, second + '\0');

    // The recorded sender is where SendTo answers.
    ASSERT_TRUE(receiver.SendTo("pong"));
    char reply[16] = {};
    EXPECT_EQ(recv(sender.socket, reply, sizeof reply, 0), 4);
}

TEST(WinsockUdp, ReceiveTimesOutAndLeavesTheBufferAlone) {
    cSocketUDP receiver;
    ASSERT_TRUE(receiver.Create());
    ASSERT_TRUE(receiver.Bind(FreeUdpPort(), 0));
    std::string buffer = "untouched";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(receiver.RecvFrom(buffer, 300));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    EXPECT_LT(waited, std::chrono::milliseconds(2000));
    EXPECT_EQ(buffer, "untouched");
}

TEST(WinsockTcp, SendsEveryByteAndReadsThePeersDataBeforeItsClose) {
    cPeer listener(SOCK_STREAM);
    const std::uint16_t port = listener.BindAny();
    ASSERT_NE(port, 0);
    ASSERT_EQ(listen(listener.socket, 1), 0);

    const std::string payload(4 * 1024 * 1024, 'x'); // more than the send buffers hold
    size_t received = 0;
    std::thread server([&] {
        SOCKET accepted = accept(listener.socket, nullptr, nullptr);
        char chunk[65536];
        while (received < payload.size()) {
            const int got = recv(accepted, chunk, sizeof chunk, 0);
            if (got <= 0)
                break;
            received += static_cast<size_t>(got);
        }
        send(accepted, "reply", 5, 0);
        closesocket(accepted);
    });

    cSocketTCP tcp;
    ASSERT_TRUE(tcp.Create());
    ASSERT_TRUE(tcp.Connect(kLoopback, port, 2000));
    EXPECT_TRUE(tcp.Send(payload, 5000));
    server.join();
    EXPECT_EQ(received, payload.size());

    std::string buffer;
    std::string all;
    while (tcp.Recv(buffer, 2000))
        all += buffer.substr(0, buffer.size() - 1);
    EXPECT_EQ(all, "reply");
    // The close is remembered: the next wait fails at once.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(tcp.Recv(buffer, 2000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

TEST(WinsockTcp, ConnectToAClosedPortFails) {
    cPeer unused(SOCK_STREAM);
    const std::uint16_t port = unused.BindAny();
    closesocket(unused.socket);
    unused.socket = INVALID_SOCKET;
    cSocketTCP tcp;
    ASSERT_TRUE(tcp.Create());
    EXPECT_FALSE(tcp.Connect(kLoopback, port, 2000));
}

TEST(WinsockSockets, EveryOperationFailsBeforeCreate) {
    cSocketTCP tcp;
    cSocketUDP udp;
    std::string buffer;
    EXPECT_FALSE(tcp.Connect(kLoopback, 80, 100));
    EXPECT_FALSE(tcp.Send("x", 100));
    EXPECT_FALSE(tcp.Recv(buffer, 10));
    EXPECT_FALSE(udp.Bind(20000, 0));
    EXPECT_FALSE(udp.SetMulticastTTL(4));
    EXPECT_FALSE(udp.SendTo("x"));
    EXPECT_FALSE(udp.RecvFrom(buffer, 10));
}

TEST(WinsockAddresses, DottedTextIsInNetworkOrder) {
    EXPECT_EQ(AddressText(inet_addr("198.51.100.7")), "198.51.100.7");
}
