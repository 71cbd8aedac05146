#pragma once

#include <string>

// An SSDP NOTIFY as a device multicasts it when it comes, stays or goes.
struct cSsdpNotify {
    std::string nt;
    std::string nts; // "ssdp:alive", "ssdp:byebye", "ssdp:update"
    std::string usn;
    std::string location;
    std::string bootId; // BOOTID.UPNP.ORG: changes when the device restarts
};

// Reads a "NOTIFY * HTTP/1.1" datagram; false for anything else.
bool ParseSsdpNotify(const std::string& datagram, cSsdpNotify& out);

// The notification is about an Internet gateway device or one of its WAN
// devices and services.
bool IsGatewayNotify(const cSsdpNotify& notify);
