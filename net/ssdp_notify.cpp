#include "net/ssdp_notify.h"

#include <vector>

#include "support/text.h"

bool ParseSsdpNotify(const std::string& datagram, cSsdpNotify& out) {
    const std::vector<std::string> lines = SplitLines(datagram);
    if (lines.empty())
        return false;
    const std::vector<std::string> request = Split(lines[0], " \t");
    if (request.size() != 3 || request[0] != "NOTIFY" || request[1] != "*")
        return false;
    cSsdpNotify notify;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string value = lines[i];
        const std::string name = SplitPair(value, ":");
        if (CompareNoCase(name.c_str(), "NT") == 0)
            notify.nt = value;
        else if (CompareNoCase(name.c_str(), "NTS") == 0)
            notify.nts = value;
        else if (CompareNoCase(name.c_str(), "USN") == 0)
            notify.usn = value;
        else if (CompareNoCase(name.c_str(), "LOCATION") == 0)
            notify.location = value;
        else if (CompareNoCase(name.c_str(), "BOOTID.UPNP.ORG") == 0)
            notify.bootId = value;
    }
    if (notify.nts.empty())
        return false;
    out = notify;
    return true;
}

bool IsGatewayNotify(const cSsdpNotify& notify) {
    for (const char* kind :
         {":device:InternetGatewayDevice:", ":device:WANDevice:", ":device:WANConnectionDevice:",
          ":service:WANIPConnection:", ":service:WANPPPConnection:"}) {
        if (notify.nt.find(kind) != std::string::npos)
            return true;
    }
    return false;
}
