#include "mapping/port_range.h"

#include "support/text.h"

namespace {

std::string Named(const cMapping& mapping) {
    return mapping.protocol + " " + DecimalText(mapping.externalPort);
}

// Takes back one add of the range: deletes it, or restores what it replaced.
void Undo(cMappingGateway& gateway, const cAddResult& added, cRangeAdd& out) {
    if (added.replaced) {
        cAddResult restored;
        if (!gateway.Add(added.previous, restored))
            out.warnings.push_back("could not put back the earlier mapping of " +
                                   Named(added.previous) + ": " + gateway.LastFailure().message);
        return;
    }
    if (!gateway.Delete(added.kept.protocol, added.kept.externalPort))
        out.warnings.push_back("could not delete " + Named(added.kept) +
                               " again: " + gateway.LastFailure().message);
}

} // namespace

bool AddRange(cMappingGateway& gateway, const cMapping& first, int count, cRangeAdd& out) {
    out = cRangeAdd();
    for (int offset = 0; offset < count; ++offset) {
        cMapping wanted = first;
        wanted.externalPort = first.externalPort + offset;
        wanted.internalPort = first.internalPort + offset;
        cAddResult result;
        const bool added = gateway.Add(wanted, result);
        // Among a range's warnings each names its port.
        for (std::string& warning : result.warnings)
            warning = Named(wanted) + ": " + warning;
        if (added) {
            out.added.push_back(result);
            continue;
        }
        out.failedPort = wanted.externalPort;
        out.refusal = result;
        out.failure = gateway.LastFailure();
        // Newest first, so that a gateway that renumbers its table moves least.
        for (auto added = out.added.rbegin(); added != out.added.rend(); ++added)
            Undo(gateway, *added, out);
        return false;
    }
    return true;
}
