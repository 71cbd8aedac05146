#pragma once

// A fake PCP / NAT-PMP server (on 127.0.0.1 unless told) for tests inside the private
// network namespace: it records every request and answers each with what the
// test's handler returns, from its own port or, to test the client's source
// check, from a second socket. Shares no code with pcp/ on purpose.
//
//   cFakePcpServer server;
//   server.SetHandler([](const std::string& request, int index) { ... });
//   client.Open("127.0.0.1", server.Port());
//
// Linux only (POSIX sockets).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class cFakePcpServer {
  public:
    struct cReply {
        std::string datagram;
        bool fromOtherPort = false;
        int delayMs = 0;
    };
    // request: the bytes received; index: how many came before it.
    using tHandler = std::function<std::vector<cReply>(const std::string& request, int index)>;

    // address: where it listens (dotted IPv4 of this host).
    explicit cFakePcpServer(const char* address = "127.0.0.1");
    ~cFakePcpServer();

    std::uint16_t Port() const;
    void SetHandler(tHandler handler);
    std::vector<std::string> Requests() const;

    // Answers built the way a server builds them, from a request's bytes.
    static std::string PcpMapAnswer(const std::string& request, int result, std::uint32_t lifetime,
                                    std::uint32_t epoch, std::uint16_t externalPort,
                                    std::uint32_t externalAddress = 0xCB007107);
    static std::string NatPmpAnswer(const std::string& request, int result, std::uint32_t epoch,
                                    std::uint16_t externalPort = 0);

  private:
    class impl;
    std::unique_ptr<impl> p;
};
