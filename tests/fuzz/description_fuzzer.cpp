// A device description given to the description reader: the service search
// (exact type, higher versions, the other searched type), URLBase, controlURL
// resolution and the model name.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "net/url.h"
#include "support/text.h"
#include "upnp/soap_impl.h"
#include "upnp/upnp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The body reaches the XML parser as a C text, cut at the first NUL.
    const std::string text(reinterpret_cast<const char*>(data), size);
    cSOAP::impl soap;
    if (!soap.ReadDescription(text.c_str(), "http://192.0.2.1:5000/rootDesc.xml",
                              {kWanIpConnection, kWanPppConnection})) {
        FUZZ_CHECK(soap.controlUrl.empty());
        FUZZ_CHECK(soap.serviceType.empty());
        return 0;
    }
    cHttpUrl control;
    FUZZ_CHECK(ParseHttpUrl(soap.controlUrl, control));
    FUZZ_CHECK(soap.serviceType == kWanIpConnection || soap.serviceType == kWanPppConnection);
    const std::string shown = MakeValidUtf8(soap.modelName);
    FUZZ_CHECK(MakeValidUtf8(shown) == shown);
    return 0;
}
