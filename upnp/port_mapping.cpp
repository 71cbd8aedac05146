#include "support/text.h"
#include "upnp/fault.h"
#include "upnp/gateway_impl.h"

bool cUPnP::impl::GetExternalAddress(std::string& out) {
    soap.ClearArguments();
    if (!Call("GetExternalIPAddress"))
        return false;
    out = soap.GetResult("NewExternalIPAddress");
    return true;
}

bool cUPnP::impl::GetPortMappingEntry(int index, cEntry& out) {
    int lease = 0;
    return GetPortMappingEntryWithLease(index, out, lease);
}

bool cUPnP::impl::GetPortMappingEntryWithLease(int index, cEntry& out, int& leaseSeconds) {
    soap.ClearArguments();
    soap.SetArgument("NewPortMappingIndex", DecimalText(index).c_str());
    if (!Call("GetGenericPortMappingEntry"))
        return false;
    out.enabled = ReadInt(soap.GetResult("NewEnabled")) != 0;
    out.externalPort = ReadInt(soap.GetResult("NewExternalPort"));
    out.internalPort = ReadInt(soap.GetResult("NewInternalPort"));
    out.protocol = soap.GetResult("NewProtocol");
    out.internalClient = soap.GetResult("NewInternalClient");
    out.description = soap.GetResult("NewPortMappingDescription");
    leaseSeconds = ReadInt(soap.GetResult("NewLeaseDuration"));
    return true;
}

bool cUPnP::impl::GetListOfPortMappings(const std::string& protocol, int startPort, int endPort,
                                        int count, std::string& listing) {
    soap.ClearArguments();
    soap.SetArgument("NewStartPort", DecimalText(startPort).c_str());
    soap.SetArgument("NewEndPort", DecimalText(endPort).c_str());
    soap.SetArgument("NewProtocol", protocol.c_str());
    soap.SetArgument("NewManage", "1");
    soap.SetArgument("NewNumberOfPorts", DecimalText(count).c_str());
    if (!CallDescribed("GetListOfPortMappings"))
        return false;
    listing = soap.GetResult("NewPortListing");
    return true;
}

bool cUPnP::impl::AddPortMapping(const cEntry& entry) {
    return AddPortMappingWithLease(entry, 0);
}

namespace {

// The arguments of AddPortMapping and AddAnyPortMapping, in the order both take them.
void SetAddArguments(cSOAP& soap, const cUPnP::cEntry& entry, int leaseSeconds) {
    soap.ClearArguments();
    soap.SetArgument("NewRemoteHost", "");
    soap.SetArgument("NewEnabled", entry.enabled ? "1" : "0");
    soap.SetArgument("NewProtocol", entry.protocol.c_str());
    soap.SetArgument("NewExternalPort", DecimalText(entry.externalPort).c_str());
    soap.SetArgument("NewInternalPort", DecimalText(entry.internalPort).c_str());
    soap.SetArgument("NewInternalClient", entry.internalClient.c_str());
    soap.SetArgument("NewPortMappingDescription", entry.description.c_str());
    soap.SetArgument("NewLeaseDuration", DecimalText(leaseSeconds).c_str());
}

} // namespace

bool cUPnP::impl::AddPortMappingWithLease(const cEntry& entry, int leaseSeconds) {
    SetAddArguments(soap, entry, leaseSeconds);
    return Call("AddPortMapping");
}

bool cUPnP::impl::AddAnyPortMapping(const cEntry& entry, int leaseSeconds, int& grantedPort) {
    SetAddArguments(soap, entry, leaseSeconds);
    if (!CallDescribed("AddAnyPortMapping"))
        return false;
    // miniupnpd answers NewReservedPort but names it NewExternalPort in its service description.
    const char* named = *soap.GetResult("NewReservedPort") ? "NewReservedPort" : "NewExternalPort";
    const int reserved = ReadInt(soap.GetResult(named));
    if (reserved < 1 || reserved > 65535) {
        failure = UnreadableAnswerFailure();
        return false;
    }
    grantedPort = reserved;
    return true;
}

bool cUPnP::impl::DeletePortMappingRange(const std::string& protocol, int startPort, int endPort) {
    soap.ClearArguments();
    soap.SetArgument("NewStartPort", DecimalText(startPort).c_str());
    soap.SetArgument("NewEndPort", DecimalText(endPort).c_str());
    soap.SetArgument("NewProtocol", protocol.c_str());
    soap.SetArgument("NewManage", "1");
    return CallDescribed("DeletePortMappingRange");
}

bool cUPnP::impl::DeletePortMapping(const cEntry& entry) {
    soap.ClearArguments();
    soap.SetArgument("NewRemoteHost", "");
    soap.SetArgument("NewProtocol", entry.protocol.c_str());
    soap.SetArgument("NewExternalPort", DecimalText(entry.externalPort).c_str());
    return Call("DeletePortMapping");
}

bool cUPnP::impl::GetSpecificPortMappingEntry(const std::string& protocol, int externalPort,
                                              cEntry& out, int& leaseSeconds) {
    soap.ClearArguments();
    soap.SetArgument("NewRemoteHost", "");
    soap.SetArgument("NewProtocol", protocol.c_str());
    soap.SetArgument("NewExternalPort", DecimalText(externalPort).c_str());
    if (!Call("GetSpecificPortMappingEntry"))
        return false;
    // Unlike the table walk, nothing here can stand for "no such mapping".
    if (!*soap.GetResult("NewInternalClient") || !*soap.GetResult("NewInternalPort")) {
        failure = UnreadableAnswerFailure();
        return false;
    }
    out.protocol = protocol;
    out.externalPort = externalPort;
    out.enabled = ReadInt(soap.GetResult("NewEnabled")) != 0;
    out.internalPort = ReadInt(soap.GetResult("NewInternalPort"));
    out.internalClient = soap.GetResult("NewInternalClient");
    out.description = soap.GetResult("NewPortMappingDescription");
    leaseSeconds = ReadInt(soap.GetResult("NewLeaseDuration"));
    return true;
}

const cFailure& cUPnP::impl::GetLastFailure() const { return failure; }

bool cUPnP::impl::Call(const char* action) {
    const bool succeeded = soap.Call(action);
    failure = soap.GetFailure();
    return succeeded;
}

// Version 2 actions are asked of the service as its description names it:
// the searched type is version 1.
bool cUPnP::impl::CallDescribed(const char* action) {
    const bool succeeded = soap.CallAs(action, soap.GetDescribedServiceType());
    failure = soap.GetFailure();
    return succeeded;
}

bool cUPnP::impl::Query(eService service, const char* action,
                        std::map<std::string, std::string>& results) {
    soap.ClearArguments();
    const bool succeeded =
        service == eService::kConnection ? soap.Call(action) : soap.CallCommonInterface(action);
    failure = soap.GetFailure();
    if (!succeeded)
        return false;
    results = soap.GetResults();
    return true;
}
