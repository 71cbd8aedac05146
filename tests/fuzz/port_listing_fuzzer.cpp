// A version 2 gateway's bulk listing given to its reader: whatever the bytes,
// either nothing is taken, or every entry has a protocol and a valid port.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "upnp/port_listing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kMaxEntries = 64;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<cListedMapping> listed;
    if (!ReadPortListing(text, kMaxEntries, listed)) {
        FUZZ_CHECK(listed.empty());
        return 0;
    }
    FUZZ_CHECK(listed.size() <= kMaxEntries);
    for (const cListedMapping& mapping : listed) {
        FUZZ_CHECK(!mapping.entry.protocol.empty());
        FUZZ_CHECK(mapping.entry.externalPort >= 1 && mapping.entry.externalPort <= 65535);
    }
    return 0;
}
