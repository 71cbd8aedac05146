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
    // A version 2 action: asked of the service as its description names it.
    const bool succeeded = soap.CallAs("GetListOfPortMappings", soap.GetDescribedServiceType());
    failure = soap.GetFailure();
    if (!succeeded)
        return false;
    listing = soap.GetResult("NewPortListing");
    return true;
}

bool cUPnP::impl::AddPortMapping(const cEntry& entry) {
    return AddPortMappingWithLease(entry, 0);
}

bool cUPnP::impl::AddPortMappingWithLease(const cEntry& entry, int leaseSeconds) {
    soap.ClearArguments();
    soap.SetArgument("NewRemoteHost", "");
    soap.SetArgument("NewEnabled", entry.enabled ? "1" : "0");
    soap.SetArgument("NewProtocol", entry.protocol.c_str());
    soap.SetArgument("NewExternalPort", DecimalText(entry.externalPort).c_str());
    soap.SetArgument("NewInternalPort", DecimalText(entry.internalPort).c_str());
    soap.SetArgument("NewInternalClient", entry.internalClient.c_str());
    soap.SetArgument("NewPortMappingDescription", entry.description.c_str());
    soap.SetArgument("NewLeaseDuration", DecimalText(leaseSeconds).c_str());
    return Call("AddPortMapping");
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
