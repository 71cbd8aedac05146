#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "cli/command_line.h"
#include "pcp/client.h"
#include "pcp/mapping_gateway.h"
#include "pcp/mapping_store.h"
#include "pcp/packet.h"
#include "support/no_copy.h"
#include "upnp/upnp.h"

// Where PCP and NAT-PMP requests go and where their nonces are kept.
struct cPcpSettings {
    std::string server; // dotted IPv4; empty: the default gateway
    std::uint16_t port = kPcpServerPort;
    // Where keep listens for the server's ANNOUNCE (group kPcpAnnounceGroup).
    std::uint16_t announcePort = kPcpClientPort;
    std::string storePath; // the "mappings" file; empty: kept in memory only
    // This host's address towards the server; empty: the route decides.
    std::string localAddress;
};

enum class eProtocolFound { kNone, kUpnp, kPcp, kNatPmp };

// --protocol auto: the UPnP search and a PCP request to the default gateway
// at the same moment, in one thread. A valid IGD wins; a PCP answer (or
// NAT-PMP's "unsupported version") waits at most kAutoPcpGraceMs more for
// one. The search goes through onlyLocal alone when it is not 0. With kUpnp,
// `gateway` is ready to use (and remembered).
eProtocolFound DetectProtocol(const cCommandLine& line, cUPnP& gateway,
                              const cPcpSettings& settings, std::uint32_t onlyLocal,
                              std::ostream& err);
constexpr int kAutoPcpGraceMs = 1000;

// doctor: whether a PCP or NAT-PMP server answers at the default gateway.
struct cPcpProbeReport {
    bool asked = false;
    std::string server;
    std::uint16_t port = kPcpServerPort;
    eProtocolFound found = eProtocolFound::kNone; // kPcp, kNatPmp or kNone
    int version = 0;                              // the version field of the answer
};

// One PCP request (the external address, which maps nothing), sent by Start
// and read by Finish, so that a caller can search meanwhile. A NAT-PMP-only
// server answers it with its own version.
class cPcpProbe : no_copy {
  public:
    // False when there is no server to ask (no default gateway).
    bool Start(const cPcpSettings& settings, int budgetMs);
    // Waits at most for what is left of the budget.
    cPcpProbeReport Finish();

  private:
    cPcpClient client;
    cMappingStore store{""};
    std::unique_ptr<cPcpMappingGateway> gateway;
    cPcpProbeReport report;
};

// list, add, delete or external-ip over PCP or NAT-PMP.
int RunPcpCommand(const cCommandLine& line, bool natPmp, const cPcpSettings& settings,
                  std::ostream& out, std::ostream& err);

// The JSON object in `json` with "protocol": name added at its end.
std::string WithProtocol(const std::string& json, const char* name);
