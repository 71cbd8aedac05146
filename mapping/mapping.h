#pragma once

#include <string>

// One port mapping as any mapping protocol holds it.
struct cMapping {
    std::string protocol; // "TCP" or "UDP"
    int externalPort = 0;
    std::string internalClient;
    int internalPort = 0;
    std::string description;
    bool enabled = true;
    // Seconds the mapping is asked for, or has left; 0: as long as the gateway allows.
    int leaseSeconds = 0;
};

// The longest lease a version 2 gateway grants (one week); also the first
// fallback when a gateway refuses the lease asked for.
constexpr int kMaxLeaseSeconds = 604800;
