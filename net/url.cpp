#include "net/url.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "support/text.h"

namespace {

constexpr char kHttpScheme[] = "http://";

bool IsSafeUrlText(const std::string& url) {
    for (const unsigned char c : url)
        if (c <= 0x20 || c >= 0x7F)
            return false;
    return true;
}

// RFC 3986 section 3.1: ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) ":"
size_t SchemeLength(const std::string& reference) {
    for (size_t at = 0; at < reference.size(); ++at) {
        const char c = reference[at];
        const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (c == ':')
            return at;
        if (!alpha && (at == 0 || !((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')))
            return 0;
    }
    return 0;
}

struct cParts {
    std::string scheme;    // with its ":"
    std::string authority; // with its "//", empty when absent
    std::string path;
    std::string query; // with its "?"
    bool hasAuthority = false;
};

cParts Decompose(const std::string& url) {
    cParts parts;
    std::string rest = url.substr(0, url.find('#'));
    const size_t scheme = SchemeLength(rest);
    if (scheme > 0) {
        parts.scheme = rest.substr(0, scheme + 1);
        rest.erase(0, scheme + 1);
    }
    if (rest.compare(0, 2, "//") == 0) {
        const size_t end = rest.find_first_of("/?", 2);
        parts.authority = rest.substr(0, end);
        parts.hasAuthority = true;
        rest.erase(0, end == std::string::npos ? rest.size() : end);
    }
    const size_t query = rest.find('?');
    parts.path = rest.substr(0, query);
    if (query != std::string::npos)
        parts.query = rest.substr(query);
    return parts;
}

// RFC 3986 section 5.2.4.
std::string RemoveDotSegments(const std::string& path) {
    std::vector<std::string> segments;
    size_t at = 0;
    const bool absolute = !path.empty() && path[0] == '/';
    if (absolute)
        at = 1;
    bool trailingSlash = false;
    while (at <= path.size()) {
        size_t end = path.find('/', at);
        if (end == std::string::npos)
            end = path.size();
        const std::string segment = path.substr(at, end - at);
        trailingSlash = false;
        if (segment == "..") {
            if (!segments.empty())
                segments.pop_back();
            trailingSlash = true;
        } else if (segment == ".") {
            trailingSlash = true;
        } else {
            segments.push_back(segment);
        }
        at = end + 1;
    }
    std::string out = absolute ? "/" : "";
    for (size_t i = 0; i < segments.size(); ++i)
        out += (i ? "/" : "") + segments[i];
    if (trailingSlash && !segments.empty())
        out += "/";
    return out;
}

std::string Merge(const cParts& base, const std::string& path) {
    if (base.hasAuthority && base.path.empty())
        return "/" + path;
    const size_t slash = base.path.rfind('/');
    return (slash == std::string::npos ? std::string() : base.path.substr(0, slash + 1)) + path;
}

} // namespace

bool ParseHttpUrl(const std::string& url, cHttpUrl& out) {
    const size_t schemeSize = sizeof kHttpScheme - 1;
    if (url.size() < schemeSize || !IsSafeUrlText(url) ||
        CompareNoCase(url.substr(0, schemeSize).c_str(), kHttpScheme) != 0)
        return false;
    const std::string rest = url.substr(schemeSize);
    const size_t slash = rest.find('/');
    const std::string authority = rest.substr(0, slash);
    out.path = slash == std::string::npos ? std::string() : rest.substr(slash);
    out.port = 80;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        std::uint8_t bytes[16];
        if (close == std::string::npos || !ParseIpv6Literal(authority.substr(1, close - 1), bytes))
            return false;
        const std::string after = authority.substr(close + 1);
        if (!after.empty() && (after[0] != ':' || after.size() == 1 || after.size() > 6 ||
                               after.find_first_not_of("0123456789", 1) != std::string::npos ||
                               std::stol(after.substr(1)) > 0xFFFF))
            return false;
        out.host = Ipv6Text(bytes);
        if (!after.empty())
            out.port = static_cast<std::uint16_t>(std::stol(after.substr(1)));
        return true;
    }
    const size_t colon = authority.find(':');
    out.host = authority.substr(0, colon);
    if (colon != std::string::npos)
        out.port = static_cast<std::uint16_t>(ReadInt(authority.substr(colon + 1)));
    return !out.host.empty();
}

std::string ResolveUrl(const std::string& base, const std::string& reference) {
    const cParts ref = Decompose(reference);
    if (!ref.scheme.empty())
        return ref.scheme + ref.authority + RemoveDotSegments(ref.path) + ref.query;
    const cParts from = Decompose(base);
    std::string authority = from.authority, path, query;
    if (ref.hasAuthority) {
        authority = ref.authority;
        path = RemoveDotSegments(ref.path);
        query = ref.query;
    } else if (ref.path.empty()) {
        path = from.path;
        query = ref.query.empty() ? from.query : ref.query;
    } else {
        path = RemoveDotSegments(ref.path[0] == '/' ? ref.path : Merge(from, ref.path));
        query = ref.query;
    }
    return from.scheme + authority + path + query;
}

bool IsIpv4Literal(const std::string& host) {
    int parts = 0;
    std::size_t at = 0;
    while (at <= host.size()) {
        const std::size_t dot = std::min(host.find('.', at), host.size());
        const std::string part = host.substr(at, dot - at);
        if (part.empty() || part.size() > 3 ||
            part.find_first_not_of("0123456789") != std::string::npos ||
            (part.size() > 1 && part[0] == '0') || std::stoi(part) > 255)
            return false;
        ++parts;
        at = dot + 1;
    }
    return parts == 4;
}

bool ParseIpv6Literal(const std::string& text, std::uint8_t (&bytes)[16]) {
    // The groups before and after a "::", each at most four hex digits.
    std::vector<unsigned> head, tail;
    std::vector<unsigned>* groups = &head;
    bool compressed = false;
    size_t at = 0;
    if (text.compare(0, 2, "::") == 0) {
        compressed = true;
        groups = &tail;
        at = 2;
    } else if (text.empty() || text[0] == ':') {
        return false;
    }
    while (at < text.size()) {
        const size_t end = std::min(text.find(':', at), text.size());
        const std::string group = text.substr(at, end - at);
        if (group.empty() || group.size() > 4 ||
            group.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return false;
        groups->push_back(static_cast<unsigned>(std::stoul(group, nullptr, 16)));
        if (end == text.size())
            break;
        at = end + 1;
        if (at < text.size() && text[at] == ':') {
            if (compressed)
                return false;
            compressed = true;
            groups = &tail;
            ++at;
        } else if (at == text.size()) {
            return false; // a single trailing colon
        }
    }
    const size_t count = head.size() + tail.size();
    if (compressed ? count > 7 : count != 8)
        return false;
    std::vector<unsigned> all(head);
    all.resize(8 - tail.size(), 0);
    all.insert(all.end(), tail.begin(), tail.end());
    for (size_t i = 0; i < 8; ++i) {
        bytes[2 * i] = static_cast<std::uint8_t>(all[i] >> 8);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(all[i] & 0xFF);
    }
    return true;
}

bool IsIpv6Literal(const std::string& host) {
    std::uint8_t bytes[16];
    return ParseIpv6Literal(host, bytes);
}

std::string Ipv6Text(const std::uint8_t (&bytes)[16]) {
    unsigned groups[8];
    for (int i = 0; i < 8; ++i)
        groups[i] = (unsigned(bytes[2 * i]) << 8) | bytes[2 * i + 1];
    int bestAt = -1, bestLength = 1;
    for (int i = 0; i < 8;) {
        int length = 0;
        while (i + length < 8 && groups[i + length] == 0)
            ++length;
        if (length > bestLength) {
            bestAt = i;
            bestLength = length;
        }
        i += length ? length : 1;
    }
    std::string text;
    for (int i = 0; i < 8; ++i) {
        if (i == bestAt) {
            text += "::";
            i += bestLength - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':')
            text += ':';
        text += FormatString("%x", groups[i]);
    }
    return text;
}

std::string UrlHost(const std::string& host) {
    return IsIpv6Literal(host) ? "[" + host + "]" : host;
}
