#pragma once

#include <map>
#include <string>
#include <vector>

#include "upnp/soap.h"

// What the client learned about the gateway's connection service, and the
// arguments of the next request and results of the last response.
class cSOAP::impl {
public:
    std::string controlUrl;
    std::string serviceType;
    // The connection service's type as the description names it (a higher
    // version than serviceType, on a version 2 gateway searched as version 1).
    std::string describedType;
    // WANCommonInterfaceConfig's control URL; empty when not described.
    std::string commonControlUrl;
    // WANIPv6FirewallControl's control URL; empty when not described.
    std::string firewallControlUrl;
    std::string modelName;
    std::string udn;
    std::string descriptionProblem;
    std::map<std::string, std::string> arguments;
    std::map<std::string, std::string> results;
    cFailure failure;

    bool LoadDescription(const char* descriptionUrl, const char* type,
                         const std::vector<std::string>& otherTypes, const cFetchBounds& bounds);
    // The part of LoadDescription after the fetch: finds the first of the
    // candidate types in the description text and stores what it learned.
    bool ReadDescription(const char* text, const char* descriptionUrl,
                         const std::vector<std::string>& candidates);
};
