#pragma once

#include <cstdint>
#include <ostream>

#include "cli/command_line.h"
#include "cli/protocol_commands.h"

// `gateways`: every gateway that answers within the time-out, on every
// interface (or only through onlyLocal). Exit 1 when none is usable.
int ListGateways(const cCommandLine& line, std::uint32_t onlyLocal, std::ostream& out,
                 std::ostream& err);

// `doctor`: what a search sent and heard, why each candidate was taken or
// refused, whether a PCP or NAT-PMP server answers at the default gateway
// (asked during the search when `pcp` is given), and a verdict with the next
// step. Exit 0 when a gateway is usable, over UPnP or PCP/NAT-PMP.
int Diagnose(const cCommandLine& line, std::uint32_t onlyLocal, const cPcpSettings* pcp,
             std::ostream& out, std::ostream& err);
