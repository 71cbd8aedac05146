#include "app/add_port_input.h"

#include "support/text.h"

namespace {

constexpr int kMinPort = 1;
constexpr int kMaxPort = 65535;

bool IsPort(int value) {
    return value >= kMinPort && value <= kMaxPort;
}

} // namespace

cAddPortInput ReadAddPortInput(const std::function<std::string(int id)>& fieldText) {
    cAddPortInput input;
    input.protocol = fieldText(kFieldProtocol);
    input.externalPort = fieldText(kFieldExternalPort);
    input.internalClient = fieldText(kFieldInternalClient);
    input.internalPort = fieldText(kFieldInternalPort);
    input.description = fieldText(kFieldDescription);
    return input;
}

cAddPortInput DefaultAddPortInput() {
    cAddPortInput input;
    input.protocol = kProtocols[0];
    input.externalPort = kDefaultPortText;
    input.internalPort = kDefaultPortText;
    std::string local;
    if (cUPnP::GetInstance().GetLocalAddress(local))
        input.internalClient = local;
    return input;
}

bool ValidateAddPortInput(const cAddPortInput& input, cUPnP::cEntry& entry) {
    if (input.protocol.empty())
        return false;
    // ReadInt saturates, so a digit run beyond int range cannot wrap into 1..65535.
    const int externalPort = ReadInt(input.externalPort);
    const int internalPort = ReadInt(input.internalPort);
    if (!IsPort(externalPort) || !IsPort(internalPort))
        return false;
    if (input.internalClient.empty())
        return false;

    entry.protocol = input.protocol;
    entry.externalPort = externalPort;
    entry.internalPort = internalPort;
    entry.internalClient = input.internalClient;
    entry.description = input.description;
    entry.enabled = true;
    return true;
}
