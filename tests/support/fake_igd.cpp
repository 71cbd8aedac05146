#include "fake_igd.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <pugixml.hpp>

namespace fake_igd {
namespace {

constexpr const char* kEnvelopeOpen =
    "<?xml version=\"1.0\"?>\r\n"
    "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>";
constexpr const char* kEnvelopeClose = "</s:Body></s:Envelope>\r\n";

// UPnP error codes of the connection services.
constexpr int kInvalidAction = 401;
constexpr int kInvalidArgs = 402;
constexpr int kArrayIndexInvalid = 713;
constexpr int kNoSuchEntry = 714;
constexpr int kWildCardExtPort = 716;
constexpr int kConflict = 718;
constexpr int kOnlyPermanentLeases = 725;
constexpr int kPortMappingNotFound = 730;

} // namespace

cOutcome Fault(int code, const std::string& description) {
    return {500, BuildFault(code, description)};
}

namespace {

cOutcome BadRequest() {
    return {400, ""};
}

std::string LocalName(const char* name) {
    const char* colon = std::strchr(name, ':');
    return colon ? colon + 1 : name;
}

// "urn:…:WANIPConnection:2" → base "urn:…:WANIPConnection", version 2.
bool SplitType(const std::string& type, std::string& base, int& version) {
    std::size_t colon = type.rfind(':');
    if (colon == std::string::npos || colon + 1 == type.size())
        return false;
    std::string digits = type.substr(colon + 1);
    if (!std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    base = type.substr(0, colon);
    version = std::stoi(digits);
    return true;
}

// A device of version n also serves every lower version of its service.
bool Serves(const std::string& servedType, const std::string& requestedType) {
    std::string servedBase, requestedBase;
    int servedVersion = 0, requestedVersion = 0;
    if (!SplitType(servedType, servedBase, servedVersion) ||
        !SplitType(requestedType, requestedBase, requestedVersion))
        return false;
    return servedBase == requestedBase && requestedVersion >= 1 &&
           requestedVersion <= servedVersion;
}

bool ReadPort(const std::map<std::string, std::string>& args, const char* name, int& port) {
    auto it = args.find(name);
    if (it == args.end() || it->second.empty() || it->second.size() > 5)
        return false;
    for (unsigned char c : it->second)
        if (!std::isdigit(c))
            return false;
    port = std::stoi(it->second);
    return port <= 65535;
}

} // namespace

cOutcome Success(const std::string& action, const std::string& type,
                 const std::vector<std::pair<std::string, std::string>>& outputs) {
    std::string body = kEnvelopeOpen;
    body += "<u:" + action + "Response xmlns:u=\"" + type + "\">";
    for (const auto& [name, value] : outputs)
        body += "<" + name + ">" + EscapeText(value) + "</" + name + ">";
    body += "</u:" + action + "Response>";
    body += kEnvelopeClose;
    return {200, body};
}

std::string EscapeText(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

std::string PathOf(const std::string& base, const std::string& reference) {
    auto pathOfAbsolute = [](const std::string& url) {
        std::size_t authority = url.find("://");
        std::size_t slash = url.find('/', authority == std::string::npos ? 0 : authority + 3);
        return slash == std::string::npos ? std::string("/") : url.substr(slash);
    };
    if (reference.find("://") != std::string::npos)
        return pathOfAbsolute(reference);
    if (!reference.empty() && reference[0] == '/')
        return reference;
    std::string basePath = pathOfAbsolute(base);
    basePath = basePath.substr(0, basePath.find_first_of("?#"));
    return basePath.substr(0, basePath.rfind('/') + 1) + reference;
}

cOutcome HandleControl(const cFakeGateway::cRequest& request, const std::string& servedType,
                       const std::string& externalAddress,
                       std::vector<cFakeGateway::cMapping>& mappings, const cOutcome* canned,
                       const cFakeGateway::cAddPolicy& policy,
                       const cFakeGateway::cQueryAnswers& queries) {
    if (!request.HasHeader("SOAPAction"))
        return BadRequest();
    std::string soapAction = request.Header("SOAPAction");
    if (soapAction.size() < 2 || soapAction.front() != '"' || soapAction.back() != '"')
        return BadRequest();
    soapAction = soapAction.substr(1, soapAction.size() - 2);
    std::size_t hash = soapAction.find('#');
    if (hash == std::string::npos)
        return BadRequest();
    std::string type = soapAction.substr(0, hash);
    std::string action = soapAction.substr(hash + 1);

    pugi::xml_document document;
    if (!document.load_buffer(request.body.data(), request.body.size(), pugi::parse_default))
        return BadRequest();
    if (canned)
        return *canned;

    if (!Serves(servedType, type))
        return Fault(kInvalidAction, "Invalid Action");

    // Envelope → Body → the action element, whose namespace is the service type.
    pugi::xml_node element;
    for (pugi::xml_node envelope : document.children())
        if (envelope.type() == pugi::node_element && LocalName(envelope.name()) == "Envelope")
            for (pugi::xml_node body : envelope.children())
                if (body.type() == pugi::node_element && LocalName(body.name()) == "Body")
                    element = body.find_child(
                        [](pugi::xml_node n) { return n.type() == pugi::node_element; });
    if (!element || LocalName(element.name()) != action)
        return Fault(kInvalidAction, "Invalid Action");
    std::string name = element.name();
    std::string prefix = name.find(':') == std::string::npos ? "" : name.substr(0, name.find(':'));
    std::string xmlns = prefix.empty() ? "xmlns" : "xmlns:" + prefix;
    if (element.attribute(xmlns.c_str()).value() != type)
        return Fault(kInvalidAction, "Invalid Action");

    std::map<std::string, std::string> args;
    for (pugi::xml_node child : element.children())
        if (child.type() == pugi::node_element)
            args[child.name()] = child.text().get();
    auto has = [&](std::initializer_list<const char*> names) {
        return std::all_of(names.begin(), names.end(),
                           [&](const char* n) { return args.count(n) == 1; });
    };

    cOutcome queried;
    if (AnswerQuery(action, type, args, mappings, queries, queried))
        return queried;

    if (action == "GetExternalIPAddress")
        return Success(action, type, {{"NewExternalIPAddress", externalAddress}});

    if (action == "GetGenericPortMappingEntry") {
        int index = 0;
        if (!ReadPort(args, "NewPortMappingIndex", index))
            return Fault(kInvalidArgs, "Invalid Args");
        if (index >= static_cast<int>(mappings.size()))
            return Fault(kArrayIndexInvalid, "SpecifiedArrayIndexInvalid");
        const cFakeGateway::cMapping& m = mappings[index];
        return Success(action, type,
                       {{"NewRemoteHost", m.remoteHost},
                        {"NewExternalPort", std::to_string(m.externalPort)},
                        {"NewProtocol", m.protocol},
                        {"NewInternalPort", std::to_string(m.internalPort)},
                        {"NewInternalClient", m.internalClient},
                        {"NewEnabled", m.enabled ? "1" : "0"},
                        {"NewPortMappingDescription", m.description},
                        {"NewLeaseDuration", std::to_string(m.leaseDuration)}});
    }

    if (action == "AddPortMapping") {
        if (!has({"NewRemoteHost", "NewExternalPort", "NewProtocol", "NewInternalPort",
                  "NewInternalClient", "NewEnabled", "NewPortMappingDescription",
                  "NewLeaseDuration"}))
            return Fault(kInvalidArgs, "Invalid Args");
        cFakeGateway::cMapping m;
        m.remoteHost = args["NewRemoteHost"];
        m.protocol = args["NewProtocol"];
        m.internalClient = args["NewInternalClient"];
        m.description = args["NewPortMappingDescription"];
        m.enabled = args["NewEnabled"] == "1";
        if (!ReadPort(args, "NewExternalPort", m.externalPort) ||
            !ReadPort(args, "NewInternalPort", m.internalPort) ||
            (m.protocol != "TCP" && m.protocol != "UDP") ||
            (args["NewEnabled"] != "0" && args["NewEnabled"] != "1") || m.internalPort == 0)
            return Fault(kInvalidArgs, "Invalid Args");
        if (m.externalPort == 0)
            return Fault(kWildCardExtPort, "WildCardNotPermittedInExtPort");
        m.leaseDuration = std::atoi(args["NewLeaseDuration"].c_str());
        if (policy.onlyPermanent && m.leaseDuration != 0)
            return Fault(kOnlyPermanentLeases, "OnlyPermanentLeasesSupported");
        if (policy.maxLease && (m.leaseDuration == 0 || m.leaseDuration > policy.maxLease))
            return Fault(kInvalidArgs, "Invalid Args");
        if (policy.forget)
            return Success(action, type, {});
        if (!policy.keptDescription.empty())
            m.description = policy.keptDescription;
        for (cFakeGateway::cMapping& existing : mappings) {
            if (existing.protocol == m.protocol && existing.externalPort == m.externalPort) {
                if (existing.internalClient != m.internalClient)
                    return Fault(kConflict, "ConflictInMappingEntry");
                existing = m;
                return Success(action, type, {});
            }
        }
        mappings.push_back(m);
        return Success(action, type, {});
    }

    if (action == "GetSpecificPortMappingEntry" || action == "DeletePortMapping") {
        int externalPort = 0;
        if (!has({"NewRemoteHost", "NewProtocol"}) ||
            !ReadPort(args, "NewExternalPort", externalPort))
            return Fault(kInvalidArgs, "Invalid Args");
        auto it = std::find_if(mappings.begin(), mappings.end(), [&](const auto& m) {
            return m.protocol == args["NewProtocol"] && m.externalPort == externalPort;
        });
        if (it == mappings.end())
            return Fault(kNoSuchEntry, "NoSuchEntryInArray");
        if (action == "DeletePortMapping") {
            mappings.erase(it);
            return Success(action, type, {});
        }
        return Success(action, type,
                       {{"NewInternalPort", std::to_string(it->internalPort)},
                        {"NewInternalClient", it->internalClient},
                        {"NewEnabled", it->enabled ? "1" : "0"},
                        {"NewPortMappingDescription", it->description},
                        {"NewLeaseDuration", std::to_string(it->leaseDuration)}});
    }

    // The version 2 actions, as miniupnpd 2.3.1 carries them out; a version 1
    // device does not have them.
    std::string servedBase;
    int servedVersion = 0;
    if (!SplitType(servedType, servedBase, servedVersion) || servedVersion < 2)
        return Fault(kInvalidAction, "Invalid Action");
    if (action == "AddAnyPortMapping") {
        int externalPort = 0;
        int internalPort = 0;
        if (!ReadPort(args, "NewExternalPort", externalPort) ||
            !ReadPort(args, "NewInternalPort", internalPort) || internalPort == 0)
            return Fault(kInvalidArgs, "Invalid Args");
        // The asked port when free or the same client's, else the next free one.
        for (int port = std::max(externalPort, 1); port <= 65535; ++port) {
            auto held = std::find_if(mappings.begin(), mappings.end(), [&](const auto& m) {
                return m.protocol == args["NewProtocol"] && m.externalPort == port;
            });
            if (held != mappings.end() && held->internalClient != args["NewInternalClient"])
                continue;
            cFakeGateway::cMapping m;
            m.protocol = args["NewProtocol"];
            m.externalPort = port;
            m.internalPort = internalPort;
            m.internalClient = args["NewInternalClient"];
            m.description = args["NewPortMappingDescription"];
            m.enabled = args["NewEnabled"] == "1";
            m.leaseDuration = std::atoi(args["NewLeaseDuration"].c_str());
            if (held != mappings.end())
                *held = m;
            else
                mappings.push_back(m);
            return Success(action, type, {{"NewReservedPort", std::to_string(port)}});
        }
        return Fault(kConflict, "ConflictInMappingEntry");
    }

    if (action == "DeletePortMappingRange" || action == "GetListOfPortMappings") {
        int startPort = 0;
        int endPort = 0;
        if (!ReadPort(args, "NewStartPort", startPort) || !ReadPort(args, "NewEndPort", endPort) ||
            !has({"NewProtocol", "NewManage"}))
            return Fault(kInvalidArgs, "Invalid Args");
        auto inRange = [&](const cFakeGateway::cMapping& m) {
            return m.protocol == args["NewProtocol"] && m.externalPort >= startPort &&
                   m.externalPort <= endPort;
        };
        if (action == "DeletePortMappingRange") {
            // Whoever holds them: NewManage is not looked at.
            const auto kept = std::remove_if(mappings.begin(), mappings.end(), inRange);
            if (kept == mappings.end())
                return Fault(kPortMappingNotFound, "NoSuchEntryInArray");
            mappings.erase(kept, mappings.end());
            return Success(action, type, {});
        }
        std::string listing = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><p:PortMappingList "
                              "xmlns:p=\"urn:schemas-upnp-org:gw:WANIPConnection\">";
        for (const cFakeGateway::cMapping& m : mappings) {
            if (!inRange(m))
                continue;
            listing +=
                "<p:PortMappingEntry><p:NewRemoteHost></p:NewRemoteHost><p:NewExternalPort>" +
                std::to_string(m.externalPort) + "</p:NewExternalPort><p:NewProtocol>" +
                m.protocol + "</p:NewProtocol><p:NewInternalPort>" +
                std::to_string(m.internalPort) + "</p:NewInternalPort><p:NewInternalClient>" +
                EscapeText(m.internalClient) + "</p:NewInternalClient><p:NewEnabled>" +
                (m.enabled ? "1" : "0") + "</p:NewEnabled><p:NewDescription>" +
                EscapeText(m.description) + "</p:NewDescription><p:NewLeaseTime>" +
                std::to_string(m.leaseDuration) + "</p:NewLeaseTime></p:PortMappingEntry>";
        }
        listing += "</p:PortMappingList>";
        return Success(action, type, {{"NewPortListing", listing}});
    }

    return Fault(kInvalidAction, "Invalid Action");
}

} // namespace fake_igd

std::string BuildFault(int code, const std::string& description) {
    return std::string(fake_igd::kEnvelopeOpen) +
           "<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring>"
           "<detail><UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>" +
           std::to_string(code) + "</errorCode><errorDescription>" +
           fake_igd::EscapeText(description) +
           "</errorDescription></UPnPError></detail></s:Fault>" + fake_igd::kEnvelopeClose;
}

std::string BuildDescription(const std::string& urlBase, const std::string& serviceType,
                             const std::string& controlUrlText, const std::string& modelName) {
    using fake_igd::EscapeText;
    std::string text = "<?xml version=\"1.0\"?>\r\n"
                       "<root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
                       "<specVersion><major>1</major><minor>0</minor></specVersion>";
    if (!urlBase.empty())
        text += "<URLBase>" + EscapeText(urlBase) + "</URLBase>";
    text += "<device>"
            "<deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType>"
            "<friendlyName>Wendrel fake gateway</friendlyName>"
            "<manufacturer>Wendrel tests</manufacturer>"
            "<modelName>" +
            EscapeText(modelName) +
            "</modelName>"
            "<UDN>uuid:00000000-0000-0000-0000-000000000001</UDN>"
            "<serviceList><service>"
            "<serviceType>urn:schemas-upnp-org:service:Layer3Forwarding:1</serviceType>"
            "<serviceId>urn:upnp-org:serviceId:L3Forwarding1</serviceId>"
            "<controlURL>/ctl/L3F</controlURL><eventSubURL>/evt/L3F</eventSubURL>"
            "<SCPDURL>/L3F.xml</SCPDURL>"
            "</service></serviceList>"
            "<deviceList><device>"
            "<deviceType>urn:schemas-upnp-org:device:WANDevice:1</deviceType>"
            "<modelName>WAN Device</modelName>"
            "<serviceList><service>"
            "<serviceType>urn:schemas-upnp-org:service:WANCommonInterfaceConfig:1</serviceType>"
            "<serviceId>urn:upnp-org:serviceId:WANCommonIFC1</serviceId>"
            "<controlURL>" + std::string(cFakeGateway::kCommonControlPath) +
            "</controlURL><eventSubURL>/evt/CmnIfCfg</eventSubURL>"
            "<SCPDURL>/WANCfg.xml</SCPDURL>"
            "</service></serviceList>"
            "<deviceList><device>"
            "<deviceType>urn:schemas-upnp-org:device:WANConnectionDevice:1</deviceType>"
            "<modelName>WAN Connection Device</modelName>"
            "<serviceList><service>"
            "<serviceType>" +
            EscapeText(serviceType) +
            "</serviceType>"
            "<serviceId>urn:upnp-org:serviceId:WANConnection1</serviceId>"
            "<controlURL>" +
            EscapeText(controlUrlText) +
            "</controlURL><eventSubURL>/evt/IPConn</eventSubURL>"
            "<SCPDURL>/WANIPCn.xml</SCPDURL>"
            "</service></serviceList>"
            "</device></deviceList>"
            "</device></deviceList>"
            "<presentationURL>/</presentationURL>"
            "</device></root>\r\n";
    return text;
}
