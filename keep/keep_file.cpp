#include "keep/keep_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "support/text.h"

namespace {

constexpr const char* kWhiteSpace = " \t\r\v\f";

// Digits only, 1-65535: a keep file is written once and read for months, so
// "80x" is a mistake to point at, not a port.
bool ReadStrictPort(const std::string& text, int& out) {
    if (text.empty() || text.size() > 5)
        return false;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535)
        return false;
    out = value;
    return true;
}

// Dotted IPv4 with four decimal parts of 0-255; anything else in CLIENT's
// place is more likely a misplaced port than a host.
bool IsIPv4Address(const std::string& text) {
    const std::vector<std::string> parts = Split(text, ".");
    if (parts.size() != 4 || text.front() == '.' || text.back() == '.' ||
        text.find("..") != std::string::npos)
        return false;
    for (const std::string& part : parts) {
        if (part.empty() || part.size() > 3 ||
            part.find_first_not_of("0123456789") != std::string::npos)
            return false;
        if (std::stoi(part) > 255)
            return false;
    }
    return true;
}

// The line up to a word that starts with '#', cut into words; `rest` gets
// the text from the fifth word on, as written (the comment).
std::vector<std::string> Words(const std::string& line, std::string& rest) {
    std::vector<std::string> words;
    rest.clear();
    std::size_t at = 0;
    for (;;) {
        const std::size_t start = line.find_first_not_of(kWhiteSpace, at);
        if (start == std::string::npos || line[start] == '#')
            break;
        if (words.size() == 4) {
            std::size_t end = line.find(" #", start);
            const std::size_t tab = line.find("\t#", start);
            if (tab < end)
                end = tab;
            rest = Trim(
                line.substr(start, end == std::string::npos ? std::string::npos : end - start));
            break;
        }
        std::size_t end = line.find_first_of(kWhiteSpace, start);
        words.push_back(
            line.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        at = end;
    }
    return words;
}

bool ParseLine(const std::vector<std::string>& words, const std::string& comment, cKeepEntry& entry,
               std::string& reason) {
    if (words.size() < 2) {
        reason = "expected PROTO EXT_PORT [CLIENT [INT_PORT [COMMENT...]]]";
        return false;
    }
    cMapping& mapping = entry.mapping;
    std::string protocol = words[0];
    for (char& c : protocol)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (protocol != "TCP" && protocol != "UDP") {
        reason = "unknown protocol " + words[0] + " (TCP or UDP)";
        return false;
    }
    mapping.protocol = protocol;
    // Each line is one mapping the keeper holds and reports on by itself.
    if (words[1].find('-') != std::string::npos && words[1].front() != '-') {
        reason = "one port a line, not a range: " + words[1];
        return false;
    }
    if (!ReadStrictPort(words[1], mapping.externalPort)) {
        reason = "external port out of range: " + words[1] + " (1-65535)";
        return false;
    }
    entry.followsHost = words.size() < 3 || words[2] == "@";
    if (!entry.followsHost) {
        if (!IsIPv4Address(words[2])) {
            reason = "client must be an IPv4 address or @: " + words[2];
            return false;
        }
        mapping.internalClient = words[2];
    }
    mapping.internalPort = mapping.externalPort;
    if (words.size() > 3 && !ReadStrictPort(words[3], mapping.internalPort)) {
        reason = "internal port out of range: " + words[3] + " (1-65535)";
        return false;
    }
    mapping.description = comment;
    return true;
}

} // namespace

std::string MappingName(const std::string& protocol, int externalPort) {
    return protocol + " " + DecimalText(externalPort);
}

bool ParseKeepFile(const std::string& text, const std::string& fileName,
                   std::vector<cKeepEntry>& out, std::string& error) {
    std::vector<cKeepEntry> entries;
    std::map<std::string, int> lineOf;
    int number = 0;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (at > text.size() && line.empty())
            break;
        std::string comment;
        const std::vector<std::string> words = Words(line, comment);
        if (words.empty())
            continue;
        const std::string where = fileName + ":" + DecimalText(number) + ": ";
        if (line.find('\0') != std::string::npos) {
            error = where + "a NUL byte; is this a text file?";
            return false;
        }
        cKeepEntry entry;
        entry.line = number;
        std::string reason;
        if (!ParseLine(words, comment, entry, reason)) {
            error = where + reason;
            return false;
        }
        const std::string name = MappingName(entry.mapping.protocol, entry.mapping.externalPort);
        const auto first = lineOf.find(name);
        if (first != lineOf.end()) {
            error =
                where + "duplicate " + name + " (first on line " + DecimalText(first->second) + ")";
            return false;
        }
        if (static_cast<int>(entries.size()) == kMaxKeptMappings) {
            error = where + "more than " + DecimalText(kMaxKeptMappings) + " mappings";
            return false;
        }
        lineOf[name] = number;
        entries.push_back(entry);
    }
    out.swap(entries);
    return true;
}

bool ReadKeepFile(const std::string& fileName, std::vector<cKeepEntry>& out, std::string& error) {
    std::ifstream file(fileName, std::ios::binary);
    if (!file) {
        error = fileName + ": cannot be read: " + std::strerror(errno);
        return false;
    }
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size < 0) {
        error = fileName + ": cannot be read (not a regular file?)";
        return false;
    }
    if (size > kMaxKeepFileBytes) {
        error = fileName + ": larger than " + DecimalText(static_cast<int>(kMaxKeepFileBytes)) +
                " bytes";
        return false;
    }
    file.seekg(0, std::ios::beg);
    std::string text(static_cast<std::size_t>(size), '\0');
    if (size > 0 && !file.read(&text[0], size)) {
        error = fileName + ": cannot be read";
        return false;
    }
    return ParseKeepFile(text, fileName, out, error);
}
