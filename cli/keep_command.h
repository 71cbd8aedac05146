#pragma once

#include <ostream>

#include "cli/command_line.h"
#include "cli/protocol_commands.h"
#include "keep/keeper.h"
#include "upnp/upnp.h"

// keep: holds the mappings of line.keep.file open on the gateway `gateway`
// finds, or over PCP or NAT-PMP at the server `pcp` names (--protocol, or
// auto when `pcp` is given), until SIGTERM or SIGINT (or, with --once, after
// one pass). The log goes to `err`, one line (or JSON object) per event.
// Returns the exit status.
int RunKeep(const cCommandLine& line, cUPnP& gateway, const cPcpSettings* pcp, std::ostream& err);

// One log line for a notice: its sentence, or with --json one JSON object.
std::string KeepNoticeLine(const cKeepNotice& notice, bool json);
