#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "mapping/gateway.h"
#include "mapping/gateway_epoch.h"
#include "pcp/client.h"
#include "pcp/mapping_store.h"

// PCP and NAT-PMP have no permanent mappings: a lease of 0 asks for this.
constexpr int kPcpDefaultLeaseSeconds = 7200;

// The mapping interface over PCP or NAT-PMP at one gateway. Add renews with
// the stored nonce when this host made a mapping of the same protocol and
// internal port before (as the protocols key mappings); a renewal should
// suggest result.kept's external port, which the gateway may have changed. Find answers from
// the store (a mapping this host made, not yet expired): a MAP to check would
// also renew it. It asks the gateway for its epoch first (the external
// address request) unless an answer came within kEpochFreshMs, so that a
// periodic check notices a restart or a gateway gone. The server epoch is
// watched on every answer; a restart (epoch backwards, or an ANNOUNCE)
// forgets what the store holds for this gateway and stays readable through
// TakeGatewayRestart() until taken.
class cPcpMappingGateway : public cMappingGateway, public cGatewayEpochSource {
  public:
    // localAddress: this host's dotted address towards the gateway.
    cPcpMappingGateway(cPcpClient& client, ePcpDialect dialect, std::string localAddress,
                       cMappingStore& store, int budgetMs);

    bool GetExternalAddress(std::string& out) override;
    bool Add(const cMapping& wanted, cAddResult& result) override;
    bool Find(const std::string& protocol, int externalPort, bool& found, cMapping& out) override;
    bool Delete(const std::string& protocol, int externalPort) override;
    const cFailure& LastFailure() const override { return failure; }

    // GetExternalAddress in two steps, for a caller that waits on other
    // things meanwhile: Start sends; Finish reads the answer once the client
    // is no longer kWaiting.
    bool StartExternalAddress();
    bool FinishExternalAddress(std::string& out);

    // The address PCP names as the client, after this host was renumbered.
    void SetLocalAddress(const std::string& address) { localAddress = address; }
    // A datagram that arrived unasked from the server (the multicast group
    // 224.0.0.1:5350): a PCP ANNOUNCE is a restart; a NAT-PMP address notice
    // is one when its epoch went backwards. Other datagrams are ignored.
    void Announced(const cPcpAnswer& announcement);

    ePcpDialect Dialect() const { return dialect; }
    // A PCP server that answered in NAT-PMP form: the caller may switch.
    bool ServerSpeaksNatPmpOnly() const { return natPmpOnly; }
    bool EpochKnown() const override { return client.Epoch().Known(); }
    std::uint32_t Epoch() const override { return client.Epoch().Last(); }
    bool TakeGatewayRestart() override;
    const char* DialectName() const;

  private:
    bool Map(const std::string& protocol, int internalPort, int suggestedExternalPort,
             std::uint32_t lifetime, const cPcpNonce& nonce, cPcpAnswer& answer);
    bool Refused(const cPcpAnswer& answer);
    bool StartMap(const std::string& protocol, int internalPort, int suggestedExternalPort,
                  std::uint32_t lifetime, const cPcpNonce& nonce);
    bool FinishMap(cPcpAnswer& answer);
    // After every answer: a restart the epoch shows drops the stored mappings.
    void Answered();
    bool AskEpoch();

    cPcpClient& client;
    ePcpDialect dialect;
    std::string localAddress;
    cMappingStore& store;
    int budgetMs;
    cFailure failure;
    bool natPmpOnly = false;
    bool restarted = false;
    bool everAnswered = false;
    std::chrono::steady_clock::time_point answeredAt;
};

// A check within this long of an answer trusts that answer's epoch.
constexpr int kEpochFreshMs = 1000;

const char* PcpDialectName(ePcpDialect dialect);
