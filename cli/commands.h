#pragma once

#include <ostream>

#include "cli/command_line.h"
#include "cli/protocol_commands.h"
#include "upnp/upnp.h"

// Runs list, add, delete or external-ip against `gateway`: discovery first,
// then the command. Data goes to `out`, messages to `err`. Returns the exit
// status. Without `pcp`, only UPnP is spoken (--protocol pcp and natpmp fail).
int RunCommand(const cCommandLine& line, cUPnP& gateway, std::ostream& out, std::ostream& err,
               const cPcpSettings* pcp = nullptr);
