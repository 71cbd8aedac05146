#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "pcp/packet.h"

// What this host needs to renew or delete a PCP or NAT-PMP mapping it made,
// which the gateway will not tell: the PCP nonce, the internal port, and the
// comment (kept here only). One file in the user's cache folder; read back
// with every field checked, never trusted.
struct cStoredMapping {
    std::string dialect;  // "pcp" or "natpmp"
    std::string gateway;  // dotted address
    std::string protocol; // "TCP" or "UDP"
    int externalPort = 0;
    int internalPort = 0;
    cPcpNonce nonce{};
    std::int64_t expires = 0; // seconds since 1970
    std::string description;
};

constexpr std::size_t kMaxStoredMappings = 128;
constexpr std::size_t kMaxStoredBytes = 64 * 1024;
constexpr std::size_t kMaxStoredDescriptionBytes = 256;

// One line per mapping after a header; the comment as hex. Parse skips every
// line that is not exactly such a line, and stops at kMaxStoredMappings.
std::string FormatStoredMappings(const std::vector<cStoredMapping>& mappings);
std::vector<cStoredMapping> ParseStoredMappings(const std::string& text);

class cMappingStore {
  public:
    // path: the file ("" keeps everything in memory only).
    explicit cMappingStore(std::string path) : path(std::move(path)) {}
    bool Load();
    // Load, when the file can be read; otherwise what is in memory stays. For
    // a long-lived holder: another run may have written the file meanwhile.
    bool Reload();
    bool Save() const;
    const cStoredMapping* Find(const std::string& dialect, const std::string& gateway,
                               const std::string& protocol, int externalPort) const;
    // The entry for this internal port: PCP and NAT-PMP know a mapping by its
    // internal side, so a renewal must find it even when another external
    // port was granted.
    const cStoredMapping* FindInternal(const std::string& dialect, const std::string& gateway,
                                       const std::string& protocol, int internalPort) const;
    // Replaces the entries of the same dialect, gateway, protocol and
    // external or internal port.
    void Put(const cStoredMapping& mapping);
    void Remove(const std::string& dialect, const std::string& gateway, const std::string& protocol,
                int externalPort);
    // Every entry of this gateway: it restarted and lost them all.
    void RemoveGateway(const std::string& gateway);
    const std::vector<cStoredMapping>& All() const { return mappings; }

  private:
    std::string path;
    std::vector<cStoredMapping> mappings;
};

// The cache folder's "mappings"; "" when the platform names no cache folder.
std::string DefaultMappingStorePath();
