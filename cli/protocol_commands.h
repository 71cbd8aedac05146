#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "cli/command_line.h"
#include "pcp/packet.h"
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

// list, add, delete or external-ip over PCP or NAT-PMP.
int RunPcpCommand(const cCommandLine& line, bool natPmp, const cPcpSettings& settings,
                  std::ostream& out, std::ostream& err);

// The JSON object in `json` with "protocol": name added at its end.
std::string WithProtocol(const std::string& json, const char* name);
