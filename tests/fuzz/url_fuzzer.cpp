// URL parsing and URI-reference resolution. Input: base, a line feed, then the
// reference (a controlURL or URLBase text from a description).
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "net/url.h"

namespace {

bool IsSafe(const std::string& text) {
    for (const unsigned char c : text)
        if (c <= 0x20 || c >= 0x7F)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t newline = input.find('\n');
    const std::string base = input.substr(0, newline);
    const std::string reference = newline == std::string::npos ? "" : input.substr(newline + 1);

    cHttpUrl url;
    if (ParseHttpUrl(input, url)) {
        FUZZ_CHECK(IsSafe(input));
        FUZZ_CHECK(!url.host.empty());
        FUZZ_CHECK(url.path.empty() || url.path[0] == '/');
    }

    const std::string resolved = ResolveUrl(base, reference);
    if (IsSafe(base) && IsSafe(reference))
        FUZZ_CHECK(IsSafe(resolved));

    cHttpUrl from, to;
    if (!ParseHttpUrl(base, from) || !ParseHttpUrl(resolved, to))
        return 0;
    // Resolving an absolute URL only normalises it; a normalised one is a fixed point.
    const std::string normalised = ResolveUrl(base, resolved);
    FUZZ_CHECK(ResolveUrl(base, normalised) == normalised);
    // A reference without a scheme or an authority stays on the base's host and
    // port. (The request parser ends the authority at "/" only, RFC 3986 also at
    // "?" and "#", so bases holding those or without a path are left out.)
    if (reference.find(':') == std::string::npos && reference.compare(0, 2, "//") != 0 &&
        base.find_first_of("?#") == std::string::npos && !from.path.empty()) {
        FUZZ_CHECK(to.host == from.host);
        FUZZ_CHECK(to.port == from.port);
    }
    return 0;
}
