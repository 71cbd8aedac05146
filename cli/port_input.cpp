#include "cli/port_input.h"

#include "support/text.h"

namespace {

constexpr int kMinPort = 1;
constexpr int kMaxPort = 65535;
constexpr const char* kProtocols[] = {"TCP", "UDP"};

bool ReadDecimalPort(const std::string& text, int& out) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    return ReadPort(text, out);
}

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

bool ReadPortWord(const std::string& text, int& first, int& last) {
    const std::size_t dash = text.find('-');
    if (dash == std::string::npos) {
        if (!ReadDecimalPort(text, first))
            return false;
        last = first;
        return true;
    }
    int low = 0;
    int high = 0;
    if (!ReadDecimalPort(text.substr(0, dash), low) ||
        !ReadDecimalPort(text.substr(dash + 1), high) || low > high)
        return false;
    first = low;
    last = high;
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
