#pragma once

#include <string>
#include <vector>

#include "mapping/failure.h"
#include "mapping/mapping.h"

// What an added mapping turned out to be.
struct cAddResult {
    // The mapping as the gateway keeps it (read back where the protocol can).
    cMapping kept;
    // One sentence per fallback taken and per way `kept` differs from what
    // was asked for.
    std::vector<std::string> warnings;
    // After a refusal: who holds the port, when the gateway tells.
    bool ownerKnown = false;
    cMapping owner;
    // The add took the place of this host's own mapping of the port (with
    // the lease it had left): gateways replace those without a conflict.
    bool replaced = false;
    cMapping previous;
};

// The small interface every mapping protocol offers to the command line and
// the keeper. Each operation is one bounded exchange or a few; a false result
// leaves the reason in LastFailure().
class cMappingGateway {
public:
    virtual ~cMappingGateway() = default;

    virtual bool GetExternalAddress(std::string& out) = 0;
    // Adds `wanted` (falling back on the lease where the gateway asks for it)
    // and checks what the gateway kept. False when it refused, failed, or
    // reported success but kept nothing.
    virtual bool Add(const cMapping& wanted, cAddResult& result) = 0;
    // The mapping of protocol and external port: true with `found` telling
    // whether there is one; false when the gateway could not be asked.
    virtual bool Find(const std::string& protocol, int externalPort, bool& found,
                      cMapping& out) = 0;
    virtual bool Delete(const std::string& protocol, int externalPort) = 0;
    virtual const cFailure& LastFailure() const = 0;
};
