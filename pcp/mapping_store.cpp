#include "pcp/mapping_store.h"

#include <algorithm>
#include <sstream>
#include <utility>

#include "support/app_files.h"

namespace {

constexpr const char* kHeader = "wendrel-mappings 1";

std::string Hex(const std::uint8_t* bytes, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 0xF]);
    }
    return out;
}

bool FromHex(const std::string& text, std::string& out) {
    if (text.size() % 2 != 0)
        return false;
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int value = 0;
        for (std::size_t j = i; j < i + 2; ++j) {
            const char c = text[j];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                     : -1;
            if (digit < 0)
                return false;
            value = value * 16 + digit;
        }
        out.push_back(static_cast<char>(value));
    }
    return true;
}

bool ReadNumber(const std::string& text, std::int64_t least, std::int64_t most, std::int64_t& out) {
    if (text.empty() || text.size() > 12 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::stoll(text);
    return out >= least && out <= most;
}

bool IsDottedIpv4(const std::string& text) {
    int parts = 0;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t dot = std::min(text.find('.', at), text.size());
        std::int64_t value = 0;
        if (!ReadNumber(text.substr(at, dot - at), 0, 255, value) || dot - at > 3)
            return false;
        ++parts;
        at = dot + 1;
    }
    return parts == 4;
}

bool ParseLine(const std::string& line, cStoredMapping& out) {
    std::istringstream words(line);
    std::string dialect, gateway, protocol, external, internal, nonce, expires, description, extra;
    if (!(words >> dialect >> gateway >> protocol >> external >> internal >> nonce >> expires >>
          description) ||
        (words >> extra))
        return false;
    std::int64_t number = 0;
    std::string bytes;
    if ((dialect != "pcp" && dialect != "natpmp") || !IsDottedIpv4(gateway) ||
        (protocol != "TCP" && protocol != "UDP"))
        return false;
    out.dialect = dialect;
    out.gateway = gateway;
    out.protocol = protocol;
    if (!ReadNumber(external, 1, 65535, number))
        return false;
    out.externalPort = static_cast<int>(number);
    if (!ReadNumber(internal, 1, 65535, number))
        return false;
    out.internalPort = static_cast<int>(number);
    if (!FromHex(nonce, bytes) || bytes.size() != kPcpNonceBytes)
        return false;
    for (std::size_t i = 0; i < kPcpNonceBytes; ++i)
        out.nonce[i] = static_cast<std::uint8_t>(bytes[i]);
    if (!ReadNumber(expires, 0, std::int64_t(1) << 40, out.expires))
        return false;
    if (description == "-")
        description.clear();
    if (!FromHex(description, out.description) ||
        out.description.size() > kMaxStoredDescriptionBytes)
        return false;
    return true;
}

} // namespace

std::string FormatStoredMappings(const std::vector<cStoredMapping>& mappings) {
    std::string text = std::string(kHeader) + "\n";
    for (const cStoredMapping& m : mappings) {
        const std::string description = m.description.substr(0, kMaxStoredDescriptionBytes);
        text +=
            m.dialect + " " + m.gateway + " " + m.protocol + " " + std::to_string(m.externalPort) +
            " " + std::to_string(m.internalPort) + " " + Hex(m.nonce.data(), m.nonce.size()) + " " +
            std::to_string(m.expires) + " " +
            (description.empty() ? std::string("-")
                                 : Hex(reinterpret_cast<const std::uint8_t*>(description.data()),
                                       description.size())) +
            "\n";
    }
    return text;
}

std::vector<cStoredMapping> ParseStoredMappings(const std::string& text) {
    std::vector<cStoredMapping> mappings;
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != kHeader)
        return mappings;
    while (std::getline(lines, line) && mappings.size() < kMaxStoredMappings) {
        cStoredMapping mapping;
        if (ParseLine(line, mapping))
            mappings.push_back(mapping);
    }
    return mappings;
}

bool cMappingStore::Load() {
    mappings.clear();
    std::string text;
    if (path.empty() || !ReadSmallFile(path, kMaxStoredBytes, text))
        return false;
    mappings = ParseStoredMappings(text);
    return true;
}

bool cMappingStore::Reload() {
    std::string text;
    if (path.empty() || !ReadSmallFile(path, kMaxStoredBytes, text))
        return false;
    mappings = ParseStoredMappings(text);
    return true;
}

bool cMappingStore::Save() const {
    return !path.empty() && WriteFileAtomically(path, FormatStoredMappings(mappings));
}

const cStoredMapping* cMappingStore::Find(const std::string& dialect, const std::string& gateway,
                                          const std::string& protocol, int externalPort) const {
    for (const cStoredMapping& m : mappings)
        if (m.dialect == dialect && m.gateway == gateway && m.protocol == protocol &&
            m.externalPort == externalPort)
            return &m;
    return nullptr;
}

const cStoredMapping* cMappingStore::FindInternal(const std::string& dialect,
                                                  const std::string& gateway,
                                                  const std::string& protocol,
                                                  int internalPort) const {
    for (const cStoredMapping& m : mappings)
        if (m.dialect == dialect && m.gateway == gateway && m.protocol == protocol &&
            m.internalPort == internalPort)
            return &m;
    return nullptr;
}

void cMappingStore::Put(const cStoredMapping& mapping) {
    Remove(mapping.dialect, mapping.gateway, mapping.protocol, mapping.externalPort);
    while (const cStoredMapping* same = FindInternal(mapping.dialect, mapping.gateway,
                                                     mapping.protocol, mapping.internalPort))
        Remove(same->dialect, same->gateway, same->protocol, same->externalPort);
    // The oldest entry gives way: the file stays bounded.
    if (mappings.size() >= kMaxStoredMappings)
        mappings.erase(mappings.begin());
    mappings.push_back(mapping);
}

void cMappingStore::Remove(const std::string& dialect, const std::string& gateway,
                           const std::string& protocol, int externalPort) {
    for (auto it = mappings.begin(); it != mappings.end();)
        if (it->dialect == dialect && it->gateway == gateway && it->protocol == protocol &&
            it->externalPort == externalPort)
            it = mappings.erase(it);
        else
            ++it;
}

void cMappingStore::RemoveGateway(const std::string& gateway) {
    for (auto it = mappings.begin(); it != mappings.end();)
        if (it->gateway == gateway)
            it = mappings.erase(it);
        else
            ++it;
}

std::string DefaultMappingStorePath() {
    const std::string directory = UserCacheDirectory();
    return directory.empty() ? "" : JoinPath(directory, "mappings");
}
