// A raw HTTP response given to the response reader, once whole and once in
// pieces of fuzzer-chosen sizes: TCP may cut a response anywhere, and the
// outcome must not depend on where.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"
#include "net/http.h"

namespace {

struct cOutcome {
    bool refused = false;
    cHttpResponseReader::eResult result = cHttpResponseReader::kNothing;
    int status = 0;
    std::string body;
};

cOutcome Read(const std::vector<std::string>& pieces) {
    cOutcome outcome;
    cHttpResponseReader reader;
    size_t received = 0;
    for (const std::string& piece : pieces) {
        received += piece.size();
        const cHttpResponseReader::eProgress progress = reader.Append(piece);
        if (progress == cHttpResponseReader::kRefused) {
            outcome.refused = true;
            return outcome;
        }
        if (progress == cHttpResponseReader::kComplete)
            break;
    }
    outcome.result = reader.Finish(outcome.status, outcome.body);
    FUZZ_CHECK((outcome.result == cHttpResponseReader::kNothing) == (received == 0));
    FUZZ_CHECK(outcome.body.size() <= received);
    FUZZ_CHECK(outcome.body.size() <= kHttpMaxResponseBytes);
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    std::vector<size_t> cuts;
    const size_t count = provider.ConsumeIntegralInRange<size_t>(0, 8);
    for (size_t i = 0; i < count; ++i)
        cuts.push_back(provider.ConsumeIntegralInRange<size_t>(1, 64));
    const std::string response = provider.ConsumeRemainingBytesAsString();

    std::vector<std::string> pieces;
    size_t at = 0;
    for (size_t cut : cuts) {
        if (at >= response.size())
            break;
        pieces.push_back(response.substr(at, cut));
        at += cut;
    }
    if (at < response.size())
        pieces.push_back(response.substr(at));

    const cOutcome whole = Read({response});
    const cOutcome cut = Read(pieces);
    FUZZ_CHECK(whole.refused == cut.refused);
    FUZZ_CHECK(whole.result == cut.result);
    FUZZ_CHECK(whole.status == cut.status);
    FUZZ_CHECK(whole.body == cut.body);
    return 0;
}
