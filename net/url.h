#pragma once

#include <cstdint>
#include <string>

// The parts of an "http://" URL that a request needs.
struct cHttpUrl {
    // A name, dotted IPv4 text, or an IPv6 literal without its brackets in
    // its canonical text (RFC 5952), so that it compares with an address the
    // system reports.
    std::string host;
    std::uint16_t port = 80;
    std::string path; // from the first "/" of the authority on, query included
};

// Accepts only the "http" scheme (any letter case). A URL holding a control
// character, a space or a byte above 0x7E is refused: it would reach the request
// line or the HOST header as it stands. A host in brackets must be a valid
// IPv6 literal (hexadecimal groups, no zone, no embedded IPv4 form).
bool ParseHttpUrl(const std::string& url, cHttpUrl& out);

// Resolves reference against base as a URI reference (RFC 3986, section 5):
// an absolute reference stands as it is, "/x" replaces the path, "x" replaces
// the last segment, "?q" keeps the path, and dot segments are removed.
std::string ResolveUrl(const std::string& base, const std::string& reference);

// Dotted-quad IPv4 text ("192.168.1.1"): four decimal parts of 0-255, no
// leading zeros beyond a lone 0, nothing else.
bool IsIpv4Literal(const std::string& host);

// IPv6 text of eight hexadecimal groups, "::" standing for one run of zero
// groups; no zone ("%eth0"), no dotted IPv4 tail, no brackets.
bool ParseIpv6Literal(const std::string& text, std::uint8_t (&bytes)[16]);
bool IsIpv6Literal(const std::string& host);
// The canonical text of an IPv6 address (RFC 5952): lower case, no leading
// zeros, the longest run of two or more zero groups (the first of equals)
// as "::".
std::string Ipv6Text(const std::uint8_t (&bytes)[16]);
// host as it stands in a URL or a HOST header: an IPv6 literal in brackets.
std::string UrlHost(const std::string& host);
