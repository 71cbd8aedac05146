#pragma once

#include <ostream>

#include "cli/command_line.h"
#include "keep/keeper.h"
#include "upnp/upnp.h"

// keep: holds the mappings of line.keep.file open on the gateway `gateway`
// finds, until SIGTERM or SIGINT (or, with --once, after one pass). The log
// goes to `err`, one line (or JSON object) per event. Returns the exit status.
int RunKeep(const cCommandLine& line, cUPnP& gateway, std::ostream& err);

// One log line for a notice: its sentence, or with --json one JSON object.
std::string KeepNoticeLine(const cKeepNotice& notice, bool json);
