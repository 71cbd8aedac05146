#pragma once

#include <cstddef>
#include <string>

// Why one request to a gateway failed, in words every front end can show.
// The protocol layer fills it; nothing above it has to know the protocol.
struct cFailure {
    // The gateway's own error code; 0 when the request failed before the
    // gateway could give one (no connection, silence, a broken answer).
    int code = 0;
    // The error's name ("ConflictInMappingEntry") or the transport failure's
    // ("Timeout"); empty while nothing has failed.
    std::string name;
    // One short sentence in English (the command line and logs) and in
    // Japanese, in the program's native encoding (the windows).
    std::string message;
    std::string messageJa;

    bool IsSet() const { return !name.empty(); }
};

// One row of a protocol's table of error or result codes.
struct cKnownFailure {
    int code;
    const char* name;
    const char* message;
    const char* messageJa;
};

// The failure the table names for code; false when the table lacks it.
bool FindKnownFailure(const cKnownFailure* table, std::size_t count, int code, cFailure& out);

// " (718 <Japanese sentence>)", or "" when nothing is known: what the windows
// put after a failure's status text.
std::string JapaneseReasonSuffix(const cFailure& failure);
