#include "net/url.h"

#include <algorithm>
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
