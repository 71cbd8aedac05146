#include "private_netns.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include "fake_ssdp.h"

bool InPrivateTestNetns(std::string& why) {
    const char* marker = std::getenv("WENDREL_TEST_NETNS");
    if (!marker || std::strcmp(marker, "1") != 0) {
        why = "not started through tests/in-private-netns";
        return false;
    }
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        why = "cannot list the network interfaces";
        return false;
    }
    std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owner(list, freeifaddrs);
    bool sawTestInterface = false;
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        char text[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr, text,
                  sizeof text);
        if (entry->ifa_flags & IFF_LOOPBACK)
            continue;
        if (std::strcmp(entry->ifa_name, kTestInterface) == 0 &&
            std::strcmp(text, kTestInterfaceAddress) == 0) {
            sawTestInterface = true;
            continue;
        }
        why = std::string("interface ") + entry->ifa_name + " (" + text +
              ") is not part of a test namespace";
        return false;
    }
    if (!sawTestInterface)
        why = std::string("no ") + kTestInterface + " with " + kTestInterfaceAddress;
    return sawTestInterface;
}
