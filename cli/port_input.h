#pragma once

#include <string>

#include "upnp/upnp.h"

// A new port mapping as the user typed it, before any check.
struct cPortInput {
    std::string protocol;
    std::string externalPort;
    std::string internalClient;
    std::string internalPort;
    std::string description;
};

// "TCP" or "UDP" in any letter case; `out` gets the upper-case name.
bool ReadProtocol(const std::string& text, std::string& out);
// atoi's reading (so "80x" and " +80" are 80), then 1..65535. The reading
// saturates, so an overlong digit string cannot wrap into range.
bool ReadPort(const std::string& text, int& out);

// The command line's port word: a plain decimal number 1..65535, or a range
// A-B of two such numbers with A <= B (a single port gives last == first).
// Unlike the dialog's reading, "80x" or "7500-7509" are never one port.
bool ReadPortWord(const std::string& text, int& first, int& last);

// The add-port rules in the dialog's order: protocol, both ports, a non-empty
// client (its form is the gateway's business), any comment. On success every
// field of `out` is set and the mapping is enabled; on failure `out` is untouched.
bool ValidatePortInput(const cPortInput& input, cUPnP::cEntry& out);
