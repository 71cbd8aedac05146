#include "upnp/soap.h"

#include <sstream>

#include "net/http.h"
#include "support/text_encoding.h"
#include "support/xml.h"
#include "upnp/fault.h"
#include "upnp/soap_impl.h"

std::string EscapeXml(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

namespace {

cFailure WhyCallFailed(const cHTTP& http, const std::string& controlUrl) {
    if (controlUrl.empty())
        return NoGatewayFailure();
    int code = 0;
    std::string description;
    if (http.GetOutcome() == eHttpOutcome::kAnswered && http.GetStatus() != 200 &&
        ReadUpnpFault(http.GetBody(), code, description))
        return UpnpFailure(code, description);
    return TransportFailure(http.GetOutcome(), http.GetStatus(), kHttpTimeoutMs);
}

} // namespace

cSOAP::cSOAP() : pimpl(new impl) {}

cSOAP::~cSOAP() = default;

void cSOAP::Reset() {
    pimpl->controlUrl.clear();
    pimpl->serviceType.clear();
    pimpl->arguments.clear();
}

void cSOAP::ClearArguments() { pimpl->arguments.clear(); }

void cSOAP::SetArgument(const char* name, const char* value) { pimpl->arguments[name] = value; }

std::string cSOAP::ComposeBody(const char* action) const {
    return ComposeBody(action, pimpl->serviceType);
}

std::string cSOAP::ComposeBody(const char* action, const std::string& serviceType) const {
    const impl& self = *pimpl.Get();
    std::ostringstream body;
    body << "<?xml version=\"1.0\"?>\n"
         << "<SOAP-ENV:Envelope"
         << " xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\""
         << " SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\n"
         << "<SOAP-ENV:Body>\n"
         << "\n"
         << "\n"
         << "<m:" << action << " xmlns:m=\"" << serviceType << "\">\n";
    // std::map orders std::string keys byte-wise (char_traits compares as unsigned).
    // Values go out as UTF-8, the encoding every UPnP peer reads: on Windows the
    // program's texts are in the ANSI code page.
    for (const auto& argument : self.arguments)
        body << "<" << argument.first << ">" << EscapeXml(NativeToUtf8(argument.second)) << "</"
             << argument.first << ">\n";
    body << "</m:" << action << ">\n"
         << "</SOAP-ENV:Body>\n"
         << "</SOAP-ENV:Envelope>\n";
    return body.str();
}

bool cSOAP::Call(const char* action) {
    impl& self = *pimpl.Get();
    const std::string body = ComposeBody(action);
    cHTTP http;
    http.Open("POST", self.controlUrl.c_str());
    // Quoted, as the UPnP architecture requires; some gateways refuse it bare.
    const std::string soapAction = "\"" + self.serviceType + "#" + action + "\"";
    http.SetHeader("SOAPAction", soapAction.c_str());
    http.Send(body.c_str());
    const bool received = http.Receive(kHttpTimeoutMs);
    cXML answer;
    answer.Load(http.GetBody());
    answer.SelectChildMap(self.results, (std::string(action) + "Response").c_str());
    // A 200 whose body was cut short is no success.
    const bool succeeded = received && http.GetStatus() == 200;
    self.failure = succeeded ? cFailure() : WhyCallFailed(http, self.controlUrl);
    return succeeded;
}

const cFailure& cSOAP::GetFailure() const { return pimpl->failure; }

const char* cSOAP::GetResult(const char* name) {
    const auto found = pimpl->results.find(name);
    return found == pimpl->results.end() ? "" : found->second.c_str();
}

const char* cSOAP::GetModelName() { return pimpl->modelName.c_str(); }

const std::string& cSOAP::GetControlUrl() const { return pimpl->controlUrl; }

const std::string& cSOAP::GetServiceType() const { return pimpl->serviceType; }

const std::string& cSOAP::GetDescribedServiceType() const { return pimpl->describedType; }

const std::map<std::string, std::string>& cSOAP::GetResults() const { return pimpl->results; }

bool cSOAP::CallCommonInterface(const char* action) {
    impl& self = *pimpl.Get();
    if (self.commonControlUrl.empty()) {
        self.results.clear();
        self.failure = UpnpFailure(401, "");
        return false;
    }
    const std::string connectionUrl = self.controlUrl;
    self.controlUrl = self.commonControlUrl;
    const bool succeeded = CallAs(action, kWanCommonInterfaceConfig);
    self.controlUrl = connectionUrl;
    return succeeded;
}

bool cSOAP::CallFirewall(const char* action) {
    impl& self = *pimpl.Get();
    if (self.firewallControlUrl.empty()) {
        self.results.clear();
        self.failure = UpnpFailure(401, "");
        return false;
    }
    const std::string connectionUrl = self.controlUrl;
    self.controlUrl = self.firewallControlUrl;
    const bool succeeded = CallAs(action, kWanIpv6FirewallControl);
    self.controlUrl = connectionUrl;
    return succeeded;
}

bool cSOAP::HasFirewallService() const { return !pimpl->firewallControlUrl.empty(); }

bool cSOAP::CallAs(const char* action, const std::string& serviceType) {
    const std::string searched = pimpl->serviceType;
    pimpl->serviceType = serviceType;
    const bool succeeded = Call(action);
    pimpl->serviceType = searched;
    return succeeded;
}

bool cSOAP::LoadDescription(const char* descriptionUrl, const char* serviceType,
                            const std::vector<std::string>& otherTypes,
                            const cFetchBounds& bounds) {
    return pimpl->LoadDescription(descriptionUrl, serviceType, otherTypes, bounds);
}

const std::string& cSOAP::GetUdn() const { return pimpl->udn; }

const std::string& cSOAP::GetDescriptionProblem() const { return pimpl->descriptionProblem; }
