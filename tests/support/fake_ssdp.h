#pragma once

// A fake SSDP responder for tests inside the private network namespace that
// tests/in-private-netns makes: it joins 239.255.255.250:1900 on the test
// interface, records every datagram that reaches it and answers each M-SEARCH
// unicast to its sender, from port 1900, as a gateway does.
//
//   cFakeSsdp ssdp;                                   // joined when this returns
//   ssdp.EchoSearches(gateway.GetDescriptionUrl());   // 200 for every searched ST
//   ssdp.SetAnswersFor(kWanPppConnection, {{cFakeSsdp::OkAnswer(st, url), 0}});
//   ... cSSDP / cUPnP::impl::Discover ...
//   EXPECT_EQ(ssdp.Searches().size(), 2u);
//
// Answers for a search are chosen in this order: the list set for its exact ST,
// else the echo (when set), else the list for every search. Each answer goes
// out delayMs after the search arrived. The destructor drops what is still
// scheduled, leaves the group and joins the thread.
// Linux only (POSIX sockets).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The namespace made by tests/in-private-netns: its test interface and address.
constexpr const char* kTestInterface = "wl0";
constexpr const char* kTestInterfaceAddress = "192.0.2.10";

class cFakeSsdp {
  public:
    struct cAnswer {
        std::string datagram;
        int delayMs = 0;
    };

    struct cDatagram {
        std::string data;
        std::string fromAddress;
        std::uint16_t fromPort = 0;
        // For an M-SEARCH: the value of its ST header, else "".
        std::string st;
    };

    explicit cFakeSsdp(const std::string& interfaceAddress = kTestInterfaceAddress);
    ~cFakeSsdp();
    cFakeSsdp(const cFakeSsdp&) = delete;
    cFakeSsdp& operator=(const cFakeSsdp&) = delete;

    // False when the socket could not be bound or the group not joined.
    bool IsRunning() const;

    // Answers every M-SEARCH with these (whatever its ST).
    void SetAnswers(const std::vector<cAnswer>& answers);
    // Answers an M-SEARCH for exactly this ST with these.
    void SetAnswersFor(const std::string& st, const std::vector<cAnswer>& answers);
    // Answers every M-SEARCH with OkAnswer(its ST, location), like miniupnpd.
    void EchoSearches(const std::string& location, int delayMs = 0);
    // Sends later answers from address:1900 (a local address), as a gateway
    // on that address would; false when that socket cannot be bound.
    bool SetAnswerSource(const std::string& address);

    std::vector<cDatagram> Searches() const;
    // Waits until at least count datagrams arrived; false after timeoutMs.
    bool WaitForSearches(std::size_t count, int timeoutMs) const;

    // A success answer as gateways write it: upper-case header names, CR LF.
    static std::string OkAnswer(const std::string& st, const std::string& location);

    class impl;

  private:
    std::unique_ptr<impl> pimpl;
};
