#include "cli/remembered_gateway.h"

#include <map>

#include "support/app_files.h"
#include "support/text.h"

namespace {

constexpr const char* kHeading = "wendrel-gateway 1";

constexpr int kRememberedConnectMs = 150;
constexpr int kRememberedTotalMs = 500;

struct cField {
    const char* key;
    std::string cRememberedGateway::*value;
};

constexpr cField kFields[] = {
    {"descriptionUrl", &cRememberedGateway::descriptionUrl},
    {"udn", &cRememberedGateway::udn},
    {"serviceType", &cRememberedGateway::serviceType},
    {"controlUrl", &cRememberedGateway::controlUrl},
    {"localAddress", &cRememberedGateway::localAddress},
};

bool IsPlainValue(const std::string& value) {
    for (const char c : value)
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F)
            return false;
    return !value.empty();
}

} // namespace

std::string FormatRememberedGateway(const cRememberedGateway& gateway) {
    std::string text = std::string(kHeading) + "\n";
    for (const cField& field : kFields)
        text += std::string(field.key) + "=" + gateway.*field.value + "\n";
    return text;
}

bool ParseRememberedGateway(const std::string& text, cRememberedGateway& out) {
    if (text.size() > kMaxRememberedBytes)
        return false;
    const std::vector<std::string> lines = SplitLines(text);
    if (lines.empty() || lines.front() != kHeading)
        return false;
    std::map<std::string, std::string> values;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty())
            continue;
        const std::size_t equals = lines[i].find('=');
        if (equals == std::string::npos ||
            !values.emplace(lines[i].substr(0, equals), lines[i].substr(equals + 1)).second)
            return false;
    }
    if (values.size() != sizeof kFields / sizeof kFields[0])
        return false;
    cRememberedGateway read;
    for (const cField& field : kFields) {
        const auto found = values.find(field.key);
        if (found == values.end() || !IsPlainValue(found->second))
            return false;
        read.*field.value = found->second;
    }
    out = read;
    return true;
}

bool LoadRememberedGateway(const std::string& path, cRememberedGateway& out) {
    std::string text;
    return !path.empty() && ReadSmallFile(path, kMaxRememberedBytes, text) &&
           ParseRememberedGateway(text, out);
}

bool SaveRememberedGateway(const std::string& path, const cRememberedGateway& gateway) {
    const std::string text = FormatRememberedGateway(gateway);
    cRememberedGateway check;
    return !path.empty() && ParseRememberedGateway(text, check) &&
           WriteFileAtomically(path, text);
}

std::string DefaultRememberedGatewayPath() {
    const std::string directory = UserCacheDirectory();
    return directory.empty() ? "" : JoinPath(directory, "gateway");
}

bool UseRememberedGateway(const std::string& path, cUPnP& gateway) {
    cRememberedGateway remembered;
    return LoadRememberedGateway(path, remembered) &&
           gateway.UseGateway(remembered.descriptionUrl, remembered.serviceType,
                              kRememberedConnectMs, kRememberedTotalMs) &&
           gateway.GetIdentity().udn == remembered.udn;
}

void RememberGateway(const std::string& path, cUPnP& gateway) {
    const cUPnP::cIdentity identity = gateway.GetIdentity();
    cRememberedGateway remembered{identity.descriptionUrl, identity.udn, identity.serviceType,
                                  identity.controlUrl, ""};
    gateway.GetLocalAddress(remembered.localAddress);
    SaveRememberedGateway(path, remembered);
}
