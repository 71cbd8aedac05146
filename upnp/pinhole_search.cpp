#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "net/interfaces.h"
#include "net/socket.h"
#include "net/socket_wait.h"
#include "net/ssdp.h"
#include "net/url.h"
#include "upnp/discovery.h"
#include "upnp/pinhole.h"
#include "upnp/upnp.h"

// The IPv6 search for a gateway with an IPv6 firewall: one SSDP socket per
// local address, all waited on in one loop.

namespace {

// WaitForAnySocket takes at most 32 sockets.
constexpr std::size_t kMaxSearchAddresses = 32;

using cClock = std::chrono::steady_clock;

struct cSearch {
    cLocalAddress6 via;
    cSSDP ssdp;
};

int MsUntil(cClock::time_point deadline) {
    const long long left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - cClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

cPinholes::eFound cPinholeGateway::Discover(int timeoutMs, const std::string& onlyInterface,
                                            cPinholeFound& found) {
    found = cPinholeFound();
    std::string& problem = found.problem;
    cSocketSystem::GetInstance();

    std::vector<std::unique_ptr<cSearch>> searches;
    for (const cLocalAddress6& local : GetLocalIPv6Addresses()) {
        if (searches.size() == kMaxSearchAddresses)
            break;
        if (!onlyInterface.empty() && local.name != onlyInterface && local.address != onlyInterface)
            continue;
        std::unique_ptr<cSearch> search(new cSearch);
        search->via = local;
        if (search->ssdp.OpenIPv6(local.address, local.index) &&
            SearchConnectionServices(search->ssdp) > 0)
            searches.push_back(std::move(search));
    }
    if (searches.empty())
        return kNoAddress;

    const cClock::time_point start = cClock::now();
    cClock::time_point deadline = start + std::chrono::milliseconds(timeoutMs);
    // Sent twice, as the IPv4 search: a lost datagram would cost the whole wait.
    cClock::time_point repeatAt = start + std::chrono::milliseconds(kSsdpRepeatMs);
    bool answered = false;
    bool lacking = false;
    std::vector<std::string> tried;
    std::vector<const cSocket*> sockets;
    for (const auto& search : searches)
        sockets.push_back(&search->ssdp.Socket());

    while (cClock::now() < deadline) {
        const cClock::time_point until = answered ? deadline : std::min(deadline, repeatAt);
        const std::uint32_t ready = WaitForAnySocket(sockets, MsUntil(until));
        if (!ready) {
            if (!answered && cClock::now() >= repeatAt) {
                for (const auto& search : searches)
                    SearchConnectionServices(search->ssdp);
                repeatAt = deadline;
            }
            continue;
        }
        for (std::size_t i = 0; i < searches.size(); ++i) {
            if (!(ready & (1u << i)))
                continue;
            cSSDP& ssdp = searches[i]->ssdp;
            if (!ssdp.ReceiveWaiting()) {
                // A socket in error stays readable: it would spin the loop.
                if (ssdp.Socket().ClosedByPeer())
                    sockets[i] = nullptr;
                continue;
            }
            answered = true;
            bool seen = false;
            for (const std::string& location : tried)
                seen = seen || location == ssdp.location;
            if (seen)
                continue;
            tried.push_back(ssdp.location);
            // As over IPv4: the description must be on the address that
            // answered, an address literal, so that no LAN device can send
            // this host's requests elsewhere.
            cHttpUrl described;
            if (!ParseHttpUrl(ssdp.location, described) || !IsIpv6Literal(described.host) ||
                described.host != ssdp.sender) {
                problem = "its Location is not on the IPv6 address that answered";
                continue;
            }
            const std::string other =
                ssdp.st == kWanIpConnection ? kWanPppConnection : kWanIpConnection;
            if (!soap.LoadDescription(ssdp.location.c_str(), ssdp.st.c_str(), {other})) {
                problem = soap.GetDescriptionProblem();
                continue;
            }
            if (!soap.HasFirewallService()) {
                problem = "its description offers no IPv6 firewall service "
                          "(WANIPv6FirewallControl)";
                lacking = true;
                // Other gateways answer at about the same moment.
                deadline = std::min(deadline, cClock::now() +
                                                  std::chrono::milliseconds(kSsdpRepeatMs));
                continue;
            }
            found.localAddress = searches[i]->via.address;
            found.interfaceName = searches[i]->via.name;
            found.descriptionUrl = ssdp.location;
            found.modelName = soap.GetModelName();
            problem.clear();
            return kFound;
        }
    }
    return lacking ? kNoFirewall : kNoAnswer;
}
