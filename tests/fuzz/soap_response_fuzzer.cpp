// A SOAP response given to the result reader: the element children of the
// action's response element, then the readings the port-mapping actions make;
// and the same body given to the fault reader, whose reason must come out
// printable and bounded.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "fuzz_check.h"
#include "support/text.h"
#include "support/xml.h"
#include "upnp/fault.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const char* const kActions[] = {"GetGenericPortMappingEntryResponse",
                                           "GetExternalIPAddressResponse", "AddPortMappingResponse",
                                           "DeletePortMappingResponse"};
    if (size == 0)
        return 0;
    const char* action = kActions[data[0] % 4];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    cXML answer;
    answer.Load(text.c_str());
    std::map<std::string, std::string> results;
    results["stale"] = "from the last call";
    answer.SelectChildMap(results, action);
    FUZZ_CHECK(results.count("stale") == 0 || text.find("stale") != std::string::npos);
    for (const auto& result : results) {
        FUZZ_CHECK(!result.first.empty());
        FUZZ_CHECK(Trim(result.second) == result.second);
        const int number = ReadInt(result.second);
        FUZZ_CHECK(DecimalText(number) == DecimalText(ReadInt(DecimalText(number))));
        const std::string shown = MakeValidUtf8(result.second);
        FUZZ_CHECK(MakeValidUtf8(shown) == shown);
    }
    int code = 0;
    std::string description;
    if (ReadUpnpFault(text.c_str(), code, description)) {
        FUZZ_CHECK(code >= 0);
        const cFailure failure = UpnpFailure(code, description);
        FUZZ_CHECK(!failure.name.empty() && !failure.message.empty());
        // The bound, plus the three bytes of the ellipsis.
        FUZZ_CHECK(failure.message.size() <= kMaxFaultDescriptionBytes + 3);
        for (const char c : failure.message)
            FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    }
    return 0;
}
