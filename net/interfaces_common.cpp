#include "net/interfaces.h"

#include "net/socket.h"

bool FindLocalInterface(const std::string& nameOrAddress, cLocalInterface& out) {
    for (const cLocalInterface& candidate : GetLocalInterfaces()) {
        if (candidate.name == nameOrAddress || AddressText(candidate.address) == nameOrAddress) {
            out = candidate;
            return true;
        }
    }
    return false;
}

std::string InterfaceNameOf(std::uint32_t address) {
    for (const cLocalInterface& candidate : GetLocalInterfaces())
        if (candidate.address == address)
            return candidate.name;
    return "";
}
