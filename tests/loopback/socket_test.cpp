#include "net/socket.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "fake_ssdp.h"
#include "timing.h"

namespace {

// A plain listening TCP socket on 127.0.0.1 for the other end of a connection.
class cListener {
  public:
    cListener() {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(fd, 4);
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
        port = ntohs(address.sin_port);
    }
    ~cListener() { close(fd); }
    // The server side of the next connection, or -1 after a second.
    int Accept() {
        pollfd entry{fd, POLLIN, 0};
        return poll(&entry, 1, 1000) == 1 ? accept(fd, nullptr, nullptr) : -1;
    }
    int fd;
    std::uint16_t port;
};

// A UDP socket of the test's own on 127.0.0.1.
class cPeerUdp {
  public:
    cPeerUdp() {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
        port = ntohs(address.sin_port);
    }
    ~cPeerUdp() { close(fd); }
    void SendTo(std::uint16_t toPort, const std::string& data) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(toPort);
        sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    std::string Receive(int timeoutMs) const {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, timeoutMs) != 1)
            return "";
        char block[2048];
        ssize_t n = recv(fd, block, sizeof block, 0);
        return n > 0 ? std::string(block, n) : "";
    }
    int fd;
    std::uint16_t port;
};

int OpenDescriptors() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (dir && readdir(dir))
        ++count;
    if (dir)
        closedir(dir);
    return count;
}

std::string WithZero(const std::string& data) {
    return data + std::string(1, '\0');
}

} // namespace

TEST(SocketBind, TakenFirstPortMovesOnToTheNextAndRecordsIt) {
    cSocketUDP first, second;
    ASSERT_TRUE(first.Create());
    ASSERT_TRUE(first.Bind(20000, 0));
    EXPECT_EQ(first.port, 20000);
    ASSERT_TRUE(second.Create());
    ASSERT_TRUE(second.Bind(20000, 100));
    EXPECT_EQ(second.port, 20001);
}

TEST(SocketBind, WholeRangeTakenStillSucceedsAndLeavesPortUnchanged) {
    std::vector<std::unique_ptr<cSocketUDP>> taken;
    for (int p = 20000; p <= 20100; ++p) {
        taken.push_back(std::make_unique<cSocketUDP>());
        ASSERT_TRUE(taken.back()->Create());
        ASSERT_TRUE(taken.back()->Bind(static_cast<std::uint16_t>(p), 0));
        ASSERT_EQ(taken.back()->port, p);
    }
    cSocketUDP late;
    ASSERT_TRUE(late.Create());
    late.port = 4242;
    EXPECT_TRUE(late.Bind(20000, 100));
    EXPECT_EQ(late.port, 4242);
}

TEST(SocketBind, AnErrorOtherThanAddressInUseFails) {
    cSocketUDP udp;
    ASSERT_TRUE(udp.Create());
    ASSERT_TRUE(udp.Bind(20000, 0));
    EXPECT_FALSE(udp.Bind(20050, 10)); // already bound
}

TEST(Socket, EveryOperationFailsBeforeCreate) {
    cSocketTCP tcp;
    std::string buffer = "keep";
    EXPECT_FALSE(tcp.IsOpen());
    EXPECT_FALSE(tcp.Bind(20000, 0));
    EXPECT_FALSE(tcp.Wait(10));
    EXPECT_FALSE(tcp.Connect("127.0.0.1", 9, 100));
    EXPECT_FALSE(tcp.Send("x", 100));
    EXPECT_FALSE(tcp.Recv(buffer, 10));
    cSocketUDP udp;
    EXPECT_FALSE(udp.SetMulticastTTL(4));
    EXPECT_FALSE(udp.SendTo("x"));
    EXPECT_FALSE(udp.RecvFrom(buffer, 10));
    EXPECT_FALSE(udp.SendMulticast("x", "239.255.255.250", 1900));
    EXPECT_EQ(buffer, "keep");
}

TEST(Socket, CreateTwiceClosesTheFirstSocket) {
    cSocketUDP udp;
    const int before = OpenDescriptors();
    ASSERT_TRUE(udp.Create());
    const int withOne = OpenDescriptors();
    ASSERT_TRUE(udp.Create());
    EXPECT_EQ(OpenDescriptors(), withOne);
    udp.Close();
    udp.Close();
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST(SocketTcp, RecvAfterPeerCloseReturnsTheDataOnceThenFailsAtOnce) {
    cListener listener;
    cSocketTCP tcp;
    ASSERT_TRUE(tcp.Create());
    ASSERT_TRUE(tcp.Connect("127.0.0.1", listener.port, 1000));
    const int server = listener.Accept();
    ASSERT_GE(server, 0);
    ASSERT_EQ(send(server, "hello", 5, 0), 5);
    close(server);

    std::string buffer;
    ASSERT_TRUE(tcp.Recv(buffer, 3000));
    EXPECT_EQ(buffer, WithZero("hello"));

    cStopwatch clock;
    EXPECT_FALSE(tcp.Recv(buffer, 5000));
    EXPECT_FALSE(tcp.Recv(buffer, 5000));
    EXPECT_LT(clock.ElapsedMs(), 1000);
    EXPECT_EQ(buffer, WithZero("hello"));
}

TEST(SocketTcp, RecvAfterPeerCloseWithoutDataFailsAtOnce) {
    cListener listener;
    cSocketTCP tcp;
    ASSERT_TRUE(tcp.Create());
    ASSERT_TRUE(tcp.Connect("127.0.0.1", listener.port, 1000));
    close(listener.Accept());
    std::string buffer;
    cStopwatch clock;
    EXPECT_FALSE(tcp.Recv(buffer, 5000));
    EXPECT_LT(clock.ElapsedMs(), 1000);
}

TEST(SocketTcp, RecvTimeOutLeavesTheBufferUntouched) {
    cListener listener;
    cSocketTCP tcp;
    ASSERT_TRUE(tcp.Create());
    ASSERT_TRUE(tcp.Connect("127.0.0.1", listener.port, 1000));
    const int server = listener.Accept();
    std::string buffer = "keep";
    cStopwatch clock;
    EXPECT_FALSE(tcp.Recv(buffer, 300));
    EXPECT_LT(clock.ElapsedMs(), 900);
    EXPECT_EQ(buffer, "keep");
    close(server);
}

TEST(SocketTcp, RecvReturnsEverythingThatHasArrived) {
    cListener listener;
    cSocketTCP tcp;
    ASSERT_TRUE(tcp.Create());
    ASSERT_TRUE(tcp.Connect("127.0.0.1", listener.port, 1000));
    const int server = listener.Accept();
    const std::string block(100000, 'b');
    ASSERT_EQ(send(server, block.data(), block.size(), 0), static_cast<ssize_t>(block.size()));
    close(server);
    std::string all, buffer;
    while (tcp.Recv(buffer, 1000))
        all += buffer.substr(0, buffer.size() - 1);
    EXPECT_EQ(all, block);
}

TEST(SocketTcp, ConnectRefusedFailsFast) {
    int port;
    {
        cListener closed;
        port = closed.port;
    }
    cSocketTCP tcp;
    ASSERT_TRUE(tcp.Create());
    cStopwatch clock;
    EXPECT_FALSE(tcp.Connect("127.0.0.1", static_cast<std::uint16_t>(port), 3000));
    EXPECT_LT(clock.ElapsedMs(), 1000);
}

TEST(SocketTcp, ConnectToAnAddressThatNeverAnswersIsBounded) {
    // Nobody holds 192.0.2.99 on the test interface: the SYN is never sent
    // (neighbour resolution fails after seconds), so only the bound ends it.
    cSocketTCP tcp;
    ASSERT_TRUE(tcp.Create());
    cStopwatch clock;
    EXPECT_FALSE(tcp.Connect("192.0.2.99", 80, 500));
    EXPECT_LT(clock.ElapsedMs(), 1500);
}

TEST(SocketTcp, ConnectToAnUnresolvableNameFails) {
    cSocketTCP tcp;
    ASSERT_TRUE(tcp.Create());
    EXPECT_FALSE(tcp.Connect("no-such-host.invalid", 80, 500));
}

TEST(SocketTcp, SendDeliversEveryByteToASlowReader) {
    cListener listener;
    cSocketTCP tcp;
    ASSERT_TRUE(tcp.Create());
    ASSERT_TRUE(tcp.Connect("127.0.0.1", listener.port, 1000));
    const int server = listener.Accept();
    ASSERT_GE(server, 0);

    std::string data(8 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>('a' + i % 26);
    std::string received;
    std::thread reader([&] {
        char block[65536];
        for (;;) {
            pollfd entry{server, POLLIN, 0};
            if (poll(&entry, 1, 5000) != 1)
                return;
            ssize_t n = recv(server, block, sizeof block, 0);
            if (n <= 0)
                return;
            received.append(block, n);
            usleep(200); // slower than the sender: the send buffer fills
        }
    });
    EXPECT_TRUE(tcp.Send(data, 5000));
    tcp.Close();
    reader.join();
    close(server);
    EXPECT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data);
}

TEST(SocketUdp, EachRecvFromReturnsOneDatagramWithAZeroByte) {
    cSocketUDP udp;
    ASSERT_TRUE(udp.Create());
    ASSERT_TRUE(udp.Bind(20000, 100));
    cPeerUdp peer;
    peer.SendTo(udp.port, std::string(200, 'a'));
    peer.SendTo(udp.port, std::string(250, 'b'));
    usleep(50 * 1000);

    std::string buffer;
    ASSERT_TRUE(udp.RecvFrom(buffer, 1000));
    EXPECT_EQ(buffer, WithZero(std::string(200, 'a')));
    cStopwatch clock;
    ASSERT_TRUE(udp.RecvFrom(buffer, 1000));
    EXPECT_EQ(buffer, WithZero(std::string(250, 'b')));
    EXPECT_LT(clock.ElapsedMs(), 500);
}

TEST(SocketUdp, RecvFromRecordsTheSenderSoSendToAnswersIt) {
    cSocketUDP udp;
    ASSERT_TRUE(udp.Create());
    ASSERT_TRUE(udp.Bind(20000, 100));
    cPeerUdp peer;
    peer.SendTo(udp.port, "question");
    std::string buffer;
    ASSERT_TRUE(udp.RecvFrom(buffer, 1000));
    EXPECT_EQ(udp.peerAddress, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(udp.peerPort, htons(peer.port));
    ASSERT_TRUE(udp.SendTo("answer"));
    EXPECT_EQ(peer.Receive(1000), "answer");
}

TEST(SocketUdp, RecvFromTimeOutLeavesTheBufferUntouched) {
    cSocketUDP udp;
    ASSERT_TRUE(udp.Create());
    ASSERT_TRUE(udp.Bind(20000, 100));
    std::string buffer = "keep";
    cStopwatch clock;
    EXPECT_FALSE(udp.RecvFrom(buffer, 300));
    EXPECT_LT(clock.ElapsedMs(), 900);
    EXPECT_EQ(buffer, "keep");
}

TEST(SocketUdp, SendMulticastGoesOutOncePerNonLoopbackInterface) {
    cFakeSsdp member;
    ASSERT_TRUE(member.IsRunning());
    cSocketUDP udp;
    ASSERT_TRUE(udp.Create());
    ASSERT_TRUE(udp.Bind(20000, 100));
    ASSERT_TRUE(udp.SetMulticastTTL(4));
    ASSERT_TRUE(udp.SendMulticast("M-SEARCH * HTTP/1.1\r\n\r\n", "239.255.255.250", 1900));
    ASSERT_TRUE(member.WaitForSearches(1, 2000));
    usleep(200 * 1000);
    const auto got = member.Searches();
    ASSERT_EQ(got.size(), 1u); // wl0 only: loopback is no way to a gateway
    EXPECT_EQ(got[0].data, "M-SEARCH * HTTP/1.1\r\n\r\n");
    EXPECT_EQ(got[0].fromAddress, kTestInterfaceAddress);
    EXPECT_EQ(got[0].fromPort, udp.port);
}

TEST(LocalAddresses, ListsTheTestInterfaceAndNotLoopback) {
    const std::vector<std::uint32_t> addresses = GetLocalIPv4Addresses();
    ASSERT_EQ(addresses.size(), 1u);
    EXPECT_EQ(AddressText(addresses[0]), kTestInterfaceAddress);
}

TEST(LocalAddresses, SourceTowardsAHostIsTheRouteSourceNeverLoopback) {
    std::string out;
    EXPECT_TRUE(GetSourceAddressTowards("192.0.2.77", out));
    EXPECT_EQ(out, kTestInterfaceAddress);
    out.clear();
    EXPECT_FALSE(GetSourceAddressTowards("127.0.0.1", out));
    EXPECT_FALSE(GetSourceAddressTowards("198.51.100.1", out)); // no route in the namespace
}

TEST(LocalAddresses, HostAddressIsNeverLoopback) {
    std::string out;
    ASSERT_TRUE(GetHostAddress(out));
    EXPECT_EQ(out.rfind("127.", 0), std::string::npos) << out;
}
