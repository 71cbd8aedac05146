#pragma once

#include <cstddef>
#include <string>

#include "upnp/upnp.h"

// The gateway found last time, so that the next run can skip the search and
// its wait. Never trusted beyond a fresh check of the description.
struct cRememberedGateway {
    std::string descriptionUrl;
    std::string udn;
    std::string serviceType;
    std::string controlUrl;
    std::string localAddress;
};

// The cache file holds at most this much; anything larger is not ours.
constexpr std::size_t kMaxRememberedBytes = 4096;

// The entry as written to the file, and read back. Reading refuses anything
// that is not exactly such an entry: another format, a missing or repeated
// key, a value with control characters or spaces, too many bytes.
std::string FormatRememberedGateway(const cRememberedGateway& gateway);
bool ParseRememberedGateway(const std::string& text, cRememberedGateway& out);

// The file: `path` as given (empty: none at all).
bool LoadRememberedGateway(const std::string& path, cRememberedGateway& out);
bool SaveRememberedGateway(const std::string& path, const cRememberedGateway& gateway);

// Where the file lives for this user: the cache folder's "gateway"; "" when
// the platform names no cache folder.
std::string DefaultRememberedGatewayPath();

// Takes the gateway the file at `path` names, when its description answers
// within tight bounds (a dead one must cost less than the search it saves)
// with the same root-device UDN.
bool UseRememberedGateway(const std::string& path, cUPnP& gateway);
// Writes the gateway just found to `path`.
void RememberGateway(const std::string& path, cUPnP& gateway);
