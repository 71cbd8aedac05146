#include "net/ssdp_notify.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(SsdpNotify, ReadsWhatTheKeeperNeedsAndRefusesOtherDatagrams) {
    const struct {
        const char* datagram;
        bool notify;
        const char* nts;
        const char* bootId;
        bool gateway;
    } rows[] = {
        // miniupnpd's announcement, as it sends it after a restart
        {"NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nCACHE-CONTROL: max-age=120\r\n"
         "LOCATION: http://192.168.77.1:5000/rootDesc.xml\r\nSERVER: Debian/12 UPnP/1.1 "
         "MiniUPnPd/2.3.1\r\nNT: urn:schemas-upnp-org:device:InternetGatewayDevice:2\r\n"
         "USN: uuid:6b0e::urn:schemas-upnp-org:device:InternetGatewayDevice:2\r\n"
         "NTS: ssdp:alive\r\nOPT: \"http://schemas.upnp.org/upnp/1/0/\"; ns=01\r\n"
         "BOOTID.UPNP.ORG: 1796739821\r\nCONFIGID.UPNP.ORG: 1337\r\n\r\n",
         true, "ssdp:alive", "1796739821", true},
        {"NOTIFY * HTTP/1.1\r\nnt: urn:schemas-upnp-org:service:WANIPConnection:1\r\n"
         "nts: ssdp:byebye\r\n\r\n",
         true, "ssdp:byebye", "", true},
        {"NOTIFY * HTTP/1.1\nNT: urn:schemas-upnp-org:device:MediaServer:1\nNTS: ssdp:alive\n\n",
         true, "ssdp:alive", "", false},
        {"NOTIFY * HTTP/1.1\r\nNT: upnp:rootdevice\r\n\r\n", false, "", "", false},
        {"M-SEARCH * HTTP/1.1\r\nST: ssdp:all\r\nNTS: ssdp:alive\r\n\r\n", false, "", "", false},
        {"HTTP/1.1 200 OK\r\nNTS: ssdp:alive\r\n\r\n", false, "", "", false},
        {"", false, "", "", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.datagram);
        cSsdpNotify notify;
        ASSERT_EQ(ParseSsdpNotify(row.datagram, notify), row.notify);
        EXPECT_EQ(notify.nts, row.nts);
        EXPECT_EQ(notify.bootId, row.bootId);
        EXPECT_EQ(IsGatewayNotify(notify), row.gateway);
    }
}

} // namespace
