#pragma once

#include <string>
#include <vector>

#include "mapping/mapping.h"

// The keep file: one mapping a line, in the words of `add`:
//   PROTO EXT_PORT [CLIENT [INT_PORT [COMMENT...]]]
// CLIENT omitted or "@": this host's address towards the gateway. A word
// starting with '#' starts a comment; blank lines are skipped.

constexpr int kMaxKeptMappings = 1024;
// Room for the largest set with long comments; a bigger file is refused
// before it is read into memory.
constexpr long kMaxKeepFileBytes = 1024 * 1024;

struct cKeepEntry {
    // The mapping as declared; internalClient is empty when followsHost.
    cMapping mapping;
    bool followsHost = false;
    int line = 0;
};

// Reads `text` as the keep file `fileName`. On the first bad line `error` is
// "FILE:LINE: reason" and false is returned.
bool ParseKeepFile(const std::string& text, const std::string& fileName,
                   std::vector<cKeepEntry>& out, std::string& error);

// Reads and parses the file; an unreadable or oversized file is "FILE: reason".
bool ReadKeepFile(const std::string& fileName, std::vector<cKeepEntry>& out, std::string& error);

// "TCP 8080": how the keeper names a mapping.
std::string MappingName(const std::string& protocol, int externalPort);
