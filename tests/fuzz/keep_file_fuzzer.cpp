// Any text as a keep file: either refused with "FILE:LINE: reason", or a set
// within the bounds whose every mapping is one the gateway can be asked for.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "keep/keep_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<cKeepEntry> entries;
    std::string error;
    if (!ParseKeepFile(text, "f", entries, error)) {
        FUZZ_CHECK(error.compare(0, 2, "f:") == 0);
        return 0;
    }
    FUZZ_CHECK(entries.size() <= static_cast<std::size_t>(kMaxKeptMappings));
    std::set<std::string> seen;
    for (const cKeepEntry& entry : entries) {
        const cMapping& m = entry.mapping;
        FUZZ_CHECK(m.protocol == "TCP" || m.protocol == "UDP");
        FUZZ_CHECK(m.externalPort >= 1 && m.externalPort <= 65535);
        FUZZ_CHECK(m.internalPort >= 1 && m.internalPort <= 65535);
        FUZZ_CHECK(entry.followsHost == m.internalClient.empty());
        FUZZ_CHECK(m.description.find('\n') == std::string::npos);
        FUZZ_CHECK(seen.insert(MappingName(m.protocol, m.externalPort)).second);
    }
    return 0;
}
