#pragma once

#include <ostream>

#include "cli/command_line.h"
#include "upnp/pinhole.h"

// pinhole add, delete, update or check against `gateway`: the IPv6 search,
// the firewall's status, then the action. Data goes to `out` (with --json one
// object ending in "protocol"), messages to `err`. Returns the exit status.
int RunPinhole(const cCommandLine& line, cPinholes& gateway, std::ostream& out,
               std::ostream& err);
