// One SSDP datagram given to the acceptance rule, then the accepted Location to
// the URL parser, as discovery does.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "fuzz_check.h"
#include "net/ssdp.h"
#include "net/url.h"
#include "upnp/upnp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::set<std::string> targets{kWanIpConnection, kWanPppConnection};
    const std::string datagram(reinterpret_cast<const char*>(data), size);
    std::string st, location;
    if (!cSSDP::ParseAnswer(datagram, targets, st, location))
        return 0;
    FUZZ_CHECK(targets.count(st) == 1);
    FUZZ_CHECK(!location.empty());
    // Lines end at LF; a CR inside one stays, and the URL parser must refuse it.
    FUZZ_CHECK(location.find('\n') == std::string::npos);
    cHttpUrl url;
    if (ParseHttpUrl(location, url)) {
        FUZZ_CHECK(!url.host.empty());
        FUZZ_CHECK(url.path.empty() || url.path[0] == '/');
        for (const unsigned char c : url.host + url.path)
            FUZZ_CHECK(c > 0x20 && c < 0x7F);
    }
    return 0;
}
