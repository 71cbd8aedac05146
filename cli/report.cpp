#include "cli/report.h"

#include <cstddef>

#include <nlohmann/json.hpp>

#include "mapping/external_address.h"
#include "upnp/mapping_gateway.h"
#include "support/text_encoding.h"
#include "support/text.h"

namespace {

using cJson = nlohmann::ordered_json;

constexpr int kJsonIndent = 2;
// "255.255.255.255(65535)" is 22 characters.
constexpr const char* kRowFormat = "%-5s %-5s %5d %7s  %-22s  %s\n";
constexpr const char* kHeadFormat = "%-5s %-5s %5s %7s  %-22s  %s\n";

// Text from the gateway is made valid UTF-8 before it reaches the serializer;
// nothing is dropped.
std::string JsonText(const std::string& text) {
    return NativeToUtf8(text);
}

cJson MappingJson(const cMapping& mapping) {
    cJson json;
    json["enabled"] = mapping.enabled;
    json["externalPort"] = mapping.externalPort;
    json["internalPort"] = mapping.internalPort;
    json["protocol"] = JsonText(mapping.protocol);
    json["internalClient"] = JsonText(mapping.internalClient);
    json["description"] = JsonText(mapping.description);
    return json;
}

cJson ErrorObject(const cFailure& failure, const cMapping* owner) {
    cJson error;
    error["code"] = failure.code ? cJson(failure.code) : cJson(nullptr);
    error["name"] = JsonText(failure.name);
    error["message"] = JsonText(failure.message);
    if (owner)
        error["owner"] = MappingJson(*owner);
    return error;
}

const char* AddressKind(const std::string& address) {
    return ExternalAddressKindName(ClassifyExternalAddress(address));
}

std::string Dump(const cJson& json) {
    return json.dump(kJsonIndent, ' ', false, cJson::error_handler_t::replace) + "\n";
}

} // namespace

std::string ListText(const cGatewayReport& report) {
    std::string out = "Model:   " + PrintableText(report.modelName) + "\n";
    out += "Address: " + PrintableText(report.externalAddress) + " (" +
           PrintableText(report.localAddress) + ")\n";
    if (report.mappings.empty())
        return out + "No port mappings.\n";
    out += FormatString(kHeadFormat, "STATE", "PROTO", "PORT", "LEASE", "CLIENT", "COMMENT");
    for (const cListedMapping& listed : report.mappings) {
        const cUPnP::cEntry& entry = listed.entry;
        const std::string lease = listed.leaseSeconds > 0 ? DecimalText(listed.leaseSeconds) : "-";
        const std::string client =
            FormatString("%s(%d)", PrintableText(entry.internalClient).c_str(), entry.internalPort);
        out += FormatString(kRowFormat, entry.enabled ? "on" : "off",
                            PrintableText(entry.protocol).c_str(), entry.externalPort,
                            lease.c_str(), client.c_str(), PrintableText(entry.description).c_str());
    }
    return out;
}

std::string ListJson(const cGatewayReport& report) {
    cJson mappings = cJson::array();
    for (const cListedMapping& listed : report.mappings) {
        cJson mapping = MappingJson(ToMapping(listed.entry));
        mapping["leaseDuration"] = listed.leaseSeconds;
        mappings.push_back(mapping);
    }
    cJson json;
    json["modelName"] = JsonText(report.modelName);
    json["externalAddress"] = JsonText(report.externalAddress);
    json["externalAddressKind"] = AddressKind(report.externalAddress);
    json["localAddress"] = JsonText(report.localAddress);
    json["mappings"] = mappings;
    return Dump(json);
}

std::string ExternalAddressJson(const std::string& address) {
    cJson json;
    json["externalAddress"] = JsonText(address);
    json["externalAddressKind"] = AddressKind(address);
    return Dump(json);
}

namespace {

cJson AddedObject(const cAddResult& result) {
    cJson added = MappingJson(result.kept);
    added["leaseDuration"] = result.kept.leaseSeconds;
    if (result.replaced) {
        cJson previous = MappingJson(result.previous);
        previous["leaseDuration"] = result.previous.leaseSeconds;
        added["replaced"] = previous;
    }
    return added;
}

void AddWarnings(cJson& warnings, const std::vector<std::string>& texts) {
    for (const std::string& warning : texts)
        warnings.push_back(JsonText(warning));
}

} // namespace

std::string AddedJson(const cAddResult& result, int requestedPort) {
    cJson added = AddedObject(result);
    if (requestedPort)
        added["requestedPort"] = requestedPort;
    cJson warnings = cJson::array();
    AddWarnings(warnings, result.warnings);
    cJson json;
    json["added"] = added;
    json["warnings"] = warnings;
    return Dump(json);
}

std::string AddedRangeJson(const cRangeAdd& range) {
    cJson added = cJson::array();
    cJson warnings = cJson::array();
    for (const cAddResult& result : range.added) {
        added.push_back(AddedObject(result));
        AddWarnings(warnings, result.warnings);
    }
    cJson json;
    json["added"] = added;
    json["warnings"] = warnings;
    return Dump(json);
}

std::string RangeErrorJson(const cRangeAdd& range) {
    cJson rolledBack = cJson::array();
    for (const cAddResult& result : range.added)
        rolledBack.push_back(result.kept.externalPort);
    cJson warnings = cJson::array();
    AddWarnings(warnings, range.refusal.warnings);
    AddWarnings(warnings, range.warnings);
    cJson json;
    json["error"] =
        ErrorObject(range.failure, range.refusal.ownerKnown ? &range.refusal.owner : nullptr);
    json["failedPort"] = range.failedPort;
    json["rolledBack"] = rolledBack;
    json["warnings"] = warnings;
    return Dump(json);
}

std::string DeletedJson(const std::vector<cDeletion>& deletions) {
    cJson deleted = cJson::array();
    cJson failed = cJson::array();
    for (const cDeletion& deletion : deletions) {
        cJson item;
        item["protocol"] = JsonText(deletion.protocol);
        item["externalPort"] = deletion.externalPort;
        if (deletion.lastPort)
            item["lastPort"] = deletion.lastPort;
        if (deletion.failure.IsSet()) {
            item["error"] = ErrorObject(deletion.failure, nullptr);
            failed.push_back(item);
        } else {
            deleted.push_back(item);
        }
    }
    cJson json;
    json["deleted"] = deleted;
    json["failed"] = failed;
    return Dump(json);
}

std::string ErrorJson(const cFailure& failure, const cMapping* owner) {
    cJson json;
    json["error"] = ErrorObject(failure, owner);
    return Dump(json);
}

std::string FailureText(const cFailure& failure) {
    const std::string sentence = PrintableText(failure.message);
    if (!failure.code)
        return sentence;
    return DecimalText(failure.code) + " " + PrintableText(failure.name) + ": " + sentence;
}

std::string HolderText(const cMapping& mapping) {
    std::string text = PrintableText(mapping.internalClient) + ":" + DecimalText(mapping.internalPort);
    if (!mapping.description.empty())
        text += " \"" + PrintableText(mapping.description, 80) + "\"";
    return text;
}

std::string StatusText(const std::vector<cStatusItem>& items) {
    std::string out;
    for (const cStatusItem& item : items)
        out += FormatString("%-22s %s\n", (item.label + ":").c_str(),
                            item.known ? PrintableText(item.value).c_str() : "unknown");
    return out;
}

std::string StatusJson(const std::vector<cStatusItem>& items) {
    cJson json;
    for (const cStatusItem& item : items) {
        const std::string& value = item.value;
        const bool digits = !value.empty() && value.size() <= 19 &&
                            value.find_first_not_of("0123456789") == std::string::npos;
        if (!item.known)
            json[item.key] = nullptr;
        else if (item.key == "natEnabled" || item.key == "rsipAvailable")
            json[item.key] = value == "1" || CompareNoCase(value.c_str(), "true") == 0;
        else if (digits)
            json[item.key] = std::stoull(value);
        else
            json[item.key] = JsonText(value);
    }
    return Dump(json);
}

namespace {

cJson UniqueIdJson(const std::string& uniqueId) {
    cJson json;
    json["uniqueId"] = ReadInt(uniqueId);
    return json;
}

} // namespace

std::string PinholeAddedJson(const std::string& uniqueId, const cPinhole& pinhole) {
    cJson json = UniqueIdJson(uniqueId);
    cJson details;
    details["protocol"] = pinhole.protocol;
    details["internalClient"] = JsonText(pinhole.internalClient);
    details["internalPort"] = pinhole.internalPort;
    details["remoteHost"] = pinhole.remoteHost.empty() ? cJson(nullptr) : cJson(pinhole.remoteHost);
    details["remotePort"] = pinhole.remotePort ? cJson(pinhole.remotePort) : cJson(nullptr);
    details["leaseTime"] = pinhole.leaseSeconds;
    json["pinhole"] = details;
    return Dump(json);
}

std::string PinholeDeletedJson(const std::string& uniqueId) {
    cJson json = UniqueIdJson(uniqueId);
    json["deleted"] = true;
    return Dump(json);
}

std::string PinholeUpdatedJson(const std::string& uniqueId, int leaseSeconds) {
    cJson json = UniqueIdJson(uniqueId);
    json["leaseTime"] = leaseSeconds;
    return Dump(json);
}

std::string PinholeCheckJson(const std::string& uniqueId, ePinholeCheck check,
                             const std::string& packets) {
    cJson json = UniqueIdJson(uniqueId);
    json["working"] = check == ePinholeCheck::kNoPacketSent ? cJson(nullptr)
                                                            : cJson(check == ePinholeCheck::kWorking);
    json["noPacketSent"] = check == ePinholeCheck::kNoPacketSent;
    json["packets"] = packets.empty() ? cJson(nullptr) : cJson(std::stoll(packets));
    return Dump(json);
}
