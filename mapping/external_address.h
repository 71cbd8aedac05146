#pragma once

#include <string>

// What a gateway's external address says about reaching this host from the
// Internet: a private, shared (carrier-grade NAT) or missing address means
// another NAT stands in front of the gateway, and its mappings lead nowhere.
enum class eExternalAddressKind { kPublic, kPrivate, kShared, kNone };

// Documentation ranges count as public: test networks use them as such.
eExternalAddressKind ClassifyExternalAddress(const std::string& address);

// "public", "private", "shared" or "none".
const char* ExternalAddressKindName(eExternalAddressKind kind);
