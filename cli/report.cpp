#include "cli/report.h"

#include <cstddef>

#include <nlohmann/json.hpp>

#include "support/text_encoding.h"
#include "support/text.h"

namespace {

using cJson = nlohmann::ordered_json;

constexpr const char* kReplacement = "\xEF\xBF\xBD";
constexpr int kJsonIndent = 2;
// "255.255.255.255(65535)" is 22 characters.
constexpr const char* kRowFormat = "%-5s %-5s %5d  %-22s  %s\n";
constexpr const char* kHeadFormat = "%-5s %-5s %5s  %-22s  %s\n";

// Text from the gateway is made valid UTF-8 before it reaches the serializer;
// nothing is dropped.
std::string JsonText(const std::string& text) {
    return NativeToUtf8(text);
}

std::string Dump(const cJson& json) {
    return json.dump(kJsonIndent, ' ', false, cJson::error_handler_t::replace) + "\n";
}

} // namespace

std::string PrintableText(const std::string& text) {
    const std::string valid = NativeToUtf8(text);
    std::string out;
    out.reserve(valid.size());
    for (std::size_t i = 0; i < valid.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(valid[i]);
        const bool c1 = c == 0xC2 && i + 1 < valid.size() &&
                        static_cast<unsigned char>(valid[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(valid[i + 1]) <= 0x9F;
        if (c < 0x20 || c == 0x7F) {
            out += kReplacement;
        } else if (c1) {
            out += kReplacement;
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return Utf8ToNative(out);
}

std::string ListText(const cGatewayReport& report) {
    std::string out = "Model:   " + PrintableText(report.modelName) + "\n";
    out += "Address: " + PrintableText(report.externalAddress) + " (" +
           PrintableText(report.localAddress) + ")\n";
    if (report.mappings.empty())
        return out + "No port mappings.\n";
    out += FormatString(kHeadFormat, "STATE", "PROTO", "PORT", "CLIENT", "COMMENT");
    for (const cUPnP::cEntry& entry : report.mappings) {
        const std::string client =
            FormatString("%s(%d)", PrintableText(entry.internalClient).c_str(), entry.internalPort);
        out += FormatString(kRowFormat, entry.enabled ? "on" : "off",
                            PrintableText(entry.protocol).c_str(), entry.externalPort,
                            client.c_str(), PrintableText(entry.description).c_str());
    }
    return out;
}

std::string ListJson(const cGatewayReport& report) {
    cJson mappings = cJson::array();
    for (const cUPnP::cEntry& entry : report.mappings) {
        cJson mapping;
        mapping["enabled"] = entry.enabled;
        mapping["externalPort"] = entry.externalPort;
        mapping["internalPort"] = entry.internalPort;
        mapping["protocol"] = JsonText(entry.protocol);
        mapping["internalClient"] = JsonText(entry.internalClient);
        mapping["description"] = JsonText(entry.description);
        mappings.push_back(mapping);
    }
    cJson json;
    json["modelName"] = JsonText(report.modelName);
    json["externalAddress"] = JsonText(report.externalAddress);
    json["localAddress"] = JsonText(report.localAddress);
    json["mappings"] = mappings;
    return Dump(json);
}

std::string ExternalAddressJson(const std::string& address) {
    cJson json;
    json["externalAddress"] = JsonText(address);
    return Dump(json);
}
