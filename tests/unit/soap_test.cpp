#include "upnp/soap.h"
#include "upnp/pinhole.h"

#include <string>

#include <gtest/gtest.h>

// The envelope around the action, byte for byte: LF line ends, two empty lines
// after the Body tag, arguments in byte-wise name order, one per line. Before a
// description is loaded the service type is empty; the loopback tier checks
// the same bytes with a real service type on the wire.
namespace {

std::string Envelope(const std::string& actionLines) {
    return "<?xml version=\"1.0\"?>\n"
           "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\n"
           "<SOAP-ENV:Body>\n"
           "\n"
           "\n" +
           actionLines +
           "</SOAP-ENV:Body>\n"
           "</SOAP-ENV:Envelope>\n";
}

} // namespace

TEST(SoapComposeBody, ActionWithoutArgumentsHasStartLineThenEndLine) {
    cSOAP soap;
    EXPECT_EQ(soap.ComposeBody("GetExternalIPAddress"),
              Envelope("<m:GetExternalIPAddress xmlns:m=\"\">\n"
                       "</m:GetExternalIPAddress>\n"));
}

TEST(SoapComposeBody, GetGenericPortMappingEntryCarriesTheIndex) {
    cSOAP soap;
    soap.SetArgument("NewPortMappingIndex", "12");
    EXPECT_EQ(soap.ComposeBody("GetGenericPortMappingEntry"),
              Envelope("<m:GetGenericPortMappingEntry xmlns:m=\"\">\n"
                       "<NewPortMappingIndex>12</NewPortMappingIndex>\n"
                       "</m:GetGenericPortMappingEntry>\n"));
}

TEST(SoapComposeBody, AddPortMappingWritesArgumentsInByteOrderNotCallOrder) {
    cSOAP soap;
    soap.SetArgument("NewRemoteHost", "");
    soap.SetArgument("NewEnabled", "1");
    soap.SetArgument("NewProtocol", "TCP");
    soap.SetArgument("NewExternalPort", "8080");
    soap.SetArgument("NewInternalPort", "80");
    soap.SetArgument("NewInternalClient", "192.0.2.10");
    soap.SetArgument("NewPortMappingDescription", "web");
    soap.SetArgument("NewLeaseDuration", "0");
    EXPECT_EQ(soap.ComposeBody("AddPortMapping"),
              Envelope("<m:AddPortMapping xmlns:m=\"\">\n"
                       "<NewEnabled>1</NewEnabled>\n"
                       "<NewExternalPort>8080</NewExternalPort>\n"
                       "<NewInternalClient>192.0.2.10</NewInternalClient>\n"
                       "<NewInternalPort>80</NewInternalPort>\n"
                       "<NewLeaseDuration>0</NewLeaseDuration>\n"
                       "<NewPortMappingDescription>web</NewPortMappingDescription>\n"
                       "<NewProtocol>TCP</NewProtocol>\n"
                       "<NewRemoteHost></NewRemoteHost>\n"
                       "</m:AddPortMapping>\n"));
}

TEST(SoapComposeBody, DeletePortMappingWritesEmptyValueAsAdjacentTags) {
    cSOAP soap;
    soap.SetArgument("NewRemoteHost", "");
    soap.SetArgument("NewProtocol", "UDP");
    soap.SetArgument("NewExternalPort", "5000");
    EXPECT_EQ(soap.ComposeBody("DeletePortMapping"),
              Envelope("<m:DeletePortMapping xmlns:m=\"\">\n"
                       "<NewExternalPort>5000</NewExternalPort>\n"
                       "<NewProtocol>UDP</NewProtocol>\n"
                       "<NewRemoteHost></NewRemoteHost>\n"
                       "</m:DeletePortMapping>\n"));
}

TEST(SoapComposeBody, EscapesMarkupInValues) {
    cSOAP soap;
    soap.SetArgument("NewPortMappingDescription", "R&D <lab> \"x\" 'y'");
    EXPECT_EQ(soap.ComposeBody("A"),
              Envelope("<m:A xmlns:m=\"\">\n"
                       "<NewPortMappingDescription>R&amp;D &lt;lab&gt; &quot;x&quot; "
                       "'y'</NewPortMappingDescription>\n"
                       "</m:A>\n"));
}

// The literal is in the build's narrow encoding (Shift-JIS for Windows); what
// goes out is UTF-8 on every platform.
TEST(SoapComposeBody, ValuesGoOutAsUtf8) {
    cSOAP soap;
    soap.SetArgument("NewPortMappingDescription", "日本 game");
    EXPECT_EQ(soap.ComposeBody("A"),
              Envelope("<m:A xmlns:m=\"\">\n"
                       "<NewPortMappingDescription>\xE6\x97\xA5\xE6\x9C\xAC "
                       "game</NewPortMappingDescription>\n"
                       "</m:A>\n"));
}

TEST(SoapComposeBody, ShorterNameFirstAndBytesCompareUnsigned) {
    cSOAP soap;
    soap.SetArgument("\xE3\x81\x82", "3");
    soap.SetArgument("NewXY", "2");
    soap.SetArgument("NewX", "1");
    EXPECT_EQ(soap.ComposeBody("A"), Envelope("<m:A xmlns:m=\"\">\n"
                                              "<NewX>1</NewX>\n"
                                              "<NewXY>2</NewXY>\n"
                                              "<\xE3\x81\x82>3</\xE3\x81\x82>\n"
                                              "</m:A>\n"));
}

// Argument names and types as miniupnpd's WANIP6FC.xml has them; the
// protocol goes as its number, "any" remote as an empty host and port 0.
TEST(SoapComposeBody, AddPinholeCarriesTheSixArgumentsOfTheFirewallService) {
    cSOAP soap;
    cPinhole pinhole;
    pinhole.protocol = "UDP";
    pinhole.internalPort = 9000;
    pinhole.internalClient = "fd00:77::20";
    pinhole.leaseSeconds = 600;
    SetAddPinholeArguments(soap, pinhole);
    EXPECT_EQ(soap.ComposeBody("AddPinhole", kWanIpv6FirewallControl),
              Envelope("<m:AddPinhole "
                       "xmlns:m=\"urn:schemas-upnp-org:service:WANIPv6FirewallControl:1\">\n"
                       "<InternalClient>fd00:77::20</InternalClient>\n"
                       "<InternalPort>9000</InternalPort>\n"
                       "<LeaseTime>600</LeaseTime>\n"
                       "<Protocol>17</Protocol>\n"
                       "<RemoteHost></RemoteHost>\n"
                       "<RemotePort>0</RemotePort>\n"
                       "</m:AddPinhole>\n"));
}

TEST(SoapArguments, ASecondSetKeepsTheLastValueAndClearEmpties) {
    cSOAP soap;
    soap.SetArgument("NewPortMappingIndex", "1");
    soap.SetArgument("NewPortMappingIndex", "2");
    EXPECT_EQ(soap.ComposeBody("A"), Envelope("<m:A xmlns:m=\"\">\n"
                                              "<NewPortMappingIndex>2</NewPortMappingIndex>\n"
                                              "</m:A>\n"));
    soap.ClearArguments();
    EXPECT_EQ(soap.ComposeBody("A"), Envelope("<m:A xmlns:m=\"\">\n</m:A>\n"));
}

TEST(SoapCall, WithoutControlUrlFailsAndLeavesNoResults) {
    cSOAP soap;
    EXPECT_FALSE(soap.Call("GetExternalIPAddress"));
    EXPECT_STREQ(soap.GetResult("NewExternalIPAddress"), "");
    EXPECT_STREQ(soap.GetModelName(), "");
    EXPECT_EQ(soap.GetControlUrl(), "");
}

TEST(EscapeXml, EscapesTheFourMarkupCharacters) {
    EXPECT_EQ(EscapeXml("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e'f");
    EXPECT_EQ(EscapeXml("&amp;"), "&amp;amp;");
    EXPECT_EQ(EscapeXml("ポート"), "ポート");
    EXPECT_EQ(EscapeXml(""), "");
}
