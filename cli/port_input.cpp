#include "cli/port_input.h"

#include "support/text.h"

namespace {

constexpr int kMinPort = 1;
constexpr int kMaxPort = 65535;
constexpr const char* kProtocols[] = {"TCP", "UDP"};

} // namespace

bool ReadProtocol(const std::string& text, std::string& out) {
    for (const char* protocol : kProtocols) {
        if (CompareNoCase(text.c_str(), protocol) == 0) {
            out = protocol;
            return true;
        }
    }
    return false;
}

bool ReadPort(const std::string& text, int& out) {
    const int port = ReadInt(text);
    if (port < kMinPort || port > kMaxPort)
        return false;
    out = port;
    return true;
}

bool ValidatePortInput(const cPortInput& input, cUPnP::cEntry& out) {
    cUPnP::cEntry entry;
    if (!ReadProtocol(input.protocol, entry.protocol))
        return false;
    if (!ReadPort(input.externalPort, entry.externalPort) ||
        !ReadPort(input.internalPort, entry.internalPort))
        return false;
    if (input.internalClient.empty())
        return false;
    entry.internalClient = input.internalClient;
    entry.description = input.description;
    entry.enabled = true;
    out = entry;
    return true;
}
