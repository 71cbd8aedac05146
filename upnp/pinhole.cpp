#include "upnp/pinhole.h"

#include "support/text.h"
#include "upnp/fault.h"

namespace {

// A UPnP boolean: 1, true or yes.
bool IsTrue(const std::string& value) {
    return value == "1" || CompareNoCase(value.c_str(), "true") == 0 ||
           CompareNoCase(value.c_str(), "yes") == 0;
}

} // namespace

int PinholeProtocolNumber(const std::string& protocol) {
    if (protocol == "TCP")
        return 6;
    if (protocol == "UDP")
        return 17;
    return 0;
}

void SetAddPinholeArguments(cSOAP& soap, const cPinhole& pinhole) {
    soap.ClearArguments();
    soap.SetArgument("RemoteHost", pinhole.remoteHost.c_str());
    soap.SetArgument("RemotePort", DecimalText(pinhole.remotePort).c_str());
    soap.SetArgument("InternalClient", pinhole.internalClient.c_str());
    soap.SetArgument("InternalPort", DecimalText(pinhole.internalPort).c_str());
    soap.SetArgument("Protocol", DecimalText(PinholeProtocolNumber(pinhole.protocol)).c_str());
    soap.SetArgument("LeaseTime", DecimalText(pinhole.leaseSeconds).c_str());
}

bool cPinholeGateway::Call(const char* action) {
    const bool succeeded = soap.CallFirewall(action);
    failure = soap.GetFailure();
    return succeeded;
}

bool cPinholeGateway::GetFirewallStatus(bool& enabled, bool& inboundAllowed) {
    soap.ClearArguments();
    if (!Call("GetFirewallStatus"))
        return false;
    const std::string firewall = soap.GetResult("FirewallEnabled");
    const std::string inbound = soap.GetResult("InboundPinholeAllowed");
    if (firewall.empty() || inbound.empty()) {
        failure = UnreadableAnswerFailure();
        return false;
    }
    enabled = IsTrue(firewall);
    inboundAllowed = IsTrue(inbound);
    return true;
}

bool cPinholeGateway::Add(const cPinhole& pinhole, std::string& uniqueId) {
    SetAddPinholeArguments(soap, pinhole);
    if (!Call("AddPinhole"))
        return false;
    uniqueId = soap.GetResult("UniqueID");
    if (uniqueId.empty() || uniqueId.size() > 5 ||
        uniqueId.find_first_not_of("0123456789") != std::string::npos) {
        failure = UnreadableAnswerFailure();
        return false;
    }
    return true;
}

bool cPinholeGateway::Update(const std::string& uniqueId, int leaseSeconds) {
    soap.ClearArguments();
    soap.SetArgument("UniqueID", uniqueId.c_str());
    soap.SetArgument("NewLeaseTime", DecimalText(leaseSeconds).c_str());
    return Call("UpdatePinhole");
}

bool cPinholeGateway::Delete(const std::string& uniqueId) {
    soap.ClearArguments();
    soap.SetArgument("UniqueID", uniqueId.c_str());
    return Call("DeletePinhole");
}

ePinholeCheck cPinholeGateway::Check(const std::string& uniqueId) {
    soap.ClearArguments();
    soap.SetArgument("UniqueID", uniqueId.c_str());
    if (!Call("CheckPinholeWorking"))
        return failure.code == kUpnpNoPacketSent ? ePinholeCheck::kNoPacketSent
                                                 : ePinholeCheck::kFailed;
    const std::string working = soap.GetResult("IsWorking");
    if (working.empty()) {
        failure = UnreadableAnswerFailure();
        return ePinholeCheck::kFailed;
    }
    return IsTrue(working) ? ePinholeCheck::kWorking : ePinholeCheck::kNotWorking;
}

bool cPinholeGateway::GetPackets(const std::string& uniqueId, std::string& packets) {
    soap.ClearArguments();
    soap.SetArgument("UniqueID", uniqueId.c_str());
    if (!Call("GetPinholePackets"))
        return false;
    packets = soap.GetResult("PinholePackets");
    if (packets.empty() || packets.size() > 10 ||
        packets.find_first_not_of("0123456789") != std::string::npos) {
        failure = UnreadableAnswerFailure();
        return false;
    }
    return true;
}
