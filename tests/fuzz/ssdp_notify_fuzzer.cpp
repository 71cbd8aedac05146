// One datagram from the SSDP group given to the NOTIFY reader, as the keeper's
// listener does with everything that arrives there.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "net/ssdp_notify.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string datagram(reinterpret_cast<const char*>(data), size);
    cSsdpNotify notify;
    if (!ParseSsdpNotify(datagram, notify))
        return 0;
    FUZZ_CHECK(!notify.nts.empty());
    for (const std::string* value : {&notify.nt, &notify.nts, &notify.bootId})
        FUZZ_CHECK(value->find('\n') == std::string::npos);
    IsGatewayNotify(notify);
    return 0;
}
