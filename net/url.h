#pragma once

#include <cstdint>
#include <string>

// The parts of an "http://" URL that a request needs.
struct cHttpUrl {
    std::string host;
    std::uint16_t port = 80;
    std::string path; // from the first "/" of the authority on, query included
};

// Accepts only the "http" scheme (any letter case). A URL holding a control
// character, a space or a byte above 0x7E is refused: it would reach the request
// line or the HOST header as it stands.
bool ParseHttpUrl(const std::string& url, cHttpUrl& out);

// Resolves reference against base as a URI reference (RFC 3986, section 5):
// an absolute reference stands as it is, "/x" replaces the path, "x" replaces
// the last segment, "?q" keeps the path, and dot segments are removed.
std::string ResolveUrl(const std::string& base, const std::string& reference);

// Dotted-quad IPv4 text ("192.168.1.1"): four decimal parts of 0-255, no
// leading zeros beyond a lone 0, nothing else.
bool IsIpv4Literal(const std::string& host);
