#pragma once

#include <cstdint>
#include <string>

#include "mapping/failure.h"
#include "support/no_copy.h"
#include "upnp/soap.h"

// Inbound IPv6 pinholes through the gateway's WANIPv6FirewallControl:1. The
// gateway accepts a pinhole only from the address it opens to, so everything
// here travels over IPv6: the search, the description and the actions.

// miniupnpd takes leases of 1-86400 s (its service description's range) and
// answers 402 to anything else.
constexpr int kDefaultPinholeLeaseSeconds = 3600;
constexpr int kMinPinholeLeaseSeconds = 1;
constexpr int kMaxPinholeLeaseSeconds = 86400;

// A pinhole as asked for.
struct cPinhole {
    std::string protocol;       // "TCP" or "UDP"
    int internalPort = 0;
    std::string internalClient; // IPv6 text
    std::string remoteHost;     // empty: any
    int remotePort = 0;         // 0: any
    int leaseSeconds = kDefaultPinholeLeaseSeconds;
};

// The protocol number the service takes (6, 17); 0 for anything else.
int PinholeProtocolNumber(const std::string& protocol);

// The arguments of AddPinhole for this pinhole, replacing any others.
void SetAddPinholeArguments(cSOAP& soap, const cPinhole& pinhole);

// What CheckPinholeWorking said.
enum class ePinholeCheck { kWorking, kNotWorking, kNoPacketSent, kFailed };

// What a search found: this host's address and interface toward the
// gateway (a pinhole's default address), and the gateway.
struct cPinholeFound {
    std::string localAddress;
    std::string interfaceName;
    std::string descriptionUrl;
    std::string modelName;
    // Why the last gateway that answered could not be used.
    std::string problem;
};

// The pinhole actions, as the command line calls them.
class cPinholes {
public:
    virtual ~cPinholes() = default;

    enum eFound {
        kFound,
        kNoAddress,  // this host has no global or unique-local IPv6 address
        kNoAnswer,   // no usable gateway answered over IPv6
        kNoFirewall, // a gateway answered, but describes no IPv6 firewall service
    };
    // Searches over IPv6 through every interface with a global or unique-local
    // address (only the one interfaceName names, by name or address, when not
    // empty), and takes the first gateway whose description, on the address
    // that answered, offers the IPv6 firewall. timeoutMs bounds the search.
    virtual eFound Discover(int timeoutMs, const std::string& interfaceName,
                            cPinholeFound& found) = 0;

    virtual bool GetFirewallStatus(bool& enabled, bool& inboundAllowed) = 0;
    virtual bool Add(const cPinhole& pinhole, std::string& uniqueId) = 0;
    virtual bool Update(const std::string& uniqueId, int leaseSeconds) = 0;
    virtual bool Delete(const std::string& uniqueId) = 0;
    // 709 NoPacketSent is an answer: the pinhole exists and has seen no packet.
    virtual ePinholeCheck Check(const std::string& uniqueId) = 0;
    virtual bool GetPackets(const std::string& uniqueId, std::string& packets) = 0;
    virtual const cFailure& LastFailure() const = 0;
};

// The real gateway, over IPv6.
class cPinholeGateway : public cPinholes, no_copy {
public:
    eFound Discover(int timeoutMs, const std::string& interfaceName,
                    cPinholeFound& found) override;
    bool GetFirewallStatus(bool& enabled, bool& inboundAllowed) override;
    bool Add(const cPinhole& pinhole, std::string& uniqueId) override;
    bool Update(const std::string& uniqueId, int leaseSeconds) override;
    bool Delete(const std::string& uniqueId) override;
    ePinholeCheck Check(const std::string& uniqueId) override;
    bool GetPackets(const std::string& uniqueId, std::string& packets) override;
    const cFailure& LastFailure() const override { return failure; }

private:
    bool Call(const char* action);

    cSOAP soap;
    cFailure failure;
};
