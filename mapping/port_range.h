#pragma once

#include <string>
#include <vector>

#include "mapping/failure.h"
#include "mapping/gateway.h"
#include "mapping/mapping.h"

// The most ports one range may hold: a mistyped bound must not flood the
// gateway's table.
constexpr int kMaxRangePorts = 1024;

// How a range add went.
struct cRangeAdd {
    // The ports added, in order; after a refusal, the ones that were undone.
    std::vector<cAddResult> added;
    // The port that was refused (0: none), its result and why.
    int failedPort = 0;
    cAddResult refusal;
    cFailure failure;
    // One sentence per port that could not be undone.
    std::vector<std::string> warnings;
};

// Adds `count` mappings: first's ports, then each one higher on both sides.
// All or nothing: on the first refusal every port added so far is undone (a
// mapping this host held before is put back as it was) and false is returned.
bool AddRange(cMappingGateway& gateway, const cMapping& first, int count, cRangeAdd& out);
