#include "support/xml.h"

#include <map>
#include <string>

#include <gtest/gtest.h>

namespace {

using tMap = std::map<std::string, std::string>;

// A gateway's description: default namespace, sub-devices with their own
// modelName, the IP service listed twice.
constexpr const char* kDescription = R"(<?xml version="1.0"?>
<root xmlns="urn:schemas-upnp-org:device-1-0">
  <specVersion><major>1</major><minor>0</minor></specVersion>
  <device>
    <deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType>
    <modelName>
        Debian router
    </modelName>
    <deviceList><device>
      <modelName>WAN Device</modelName>
      <serviceList>
        <service>
          <serviceType>urn:schemas-upnp-org:service:WANIPConnection:1</serviceType>
          <controlURL>/ctl/first</controlURL>
        </service>
        <service>
          <serviceType>urn:schemas-upnp-org:service:WANIPConnection:1</serviceType>
          <controlURL>/ctl/second</controlURL>
        </service>
        <service>
          <serviceType> urn:schemas-upnp-org:service:WANPPPConnection:1</serviceType>
          <controlURL>/ctl/ppp</controlURL>
        </service>
      </serviceList>
    </device></deviceList>
  </device>
</root>
)";

std::string Select(const char* document, const char* expression) {
    cXML xml;
    xml.Load(document);
    return xml.SelectText(expression);
}

} // namespace

TEST(XmlSelectText, MatchesUnprefixedNamesUnderADefaultNamespace) {
    EXPECT_EQ(Select(kDescription, "//device/modelName"), "Debian router");
}

TEST(XmlSelectText, MissingElementYieldsEmptyText) {
    EXPECT_EQ(Select(kDescription, "//URLBase"), "");
}

TEST(XmlSelectText, ServiceFilterTakesTheFirstExactMatchInDocumentOrder) {
    EXPECT_EQ(Select(kDescription, "//service[serviceType=\"urn:schemas-upnp-org:service:"
                                   "WANIPConnection:1\"]/controlURL"),
              "/ctl/first");
}

TEST(XmlSelectText, ServiceFilterComparesExactlyWithoutTrimmingOrCaseFolding) {
    EXPECT_EQ(Select(kDescription, "//service[serviceType=\"urn:schemas-upnp-org:service:"
                                   "WANPPPConnection:1\"]/controlURL"),
              "");
    EXPECT_EQ(Select(kDescription, "//service[serviceType=\"urn:schemas-upnp-org:service:"
                                   "wanipconnection:1\"]/controlURL"),
              "");
}

TEST(XmlSelectText, ConcatenatesDescendantTextAndTrimsTheEnds) {
    EXPECT_EQ(Select("<a>\n one <b>two</b> three<c>four<d>five</d></c>\n</a>", "/a"),
              "one two threefourfive");
    // White space alone between elements is not text.
    EXPECT_EQ(Select("<a><b>one</b> <c>two</c></a>", "/a"), "onetwo");
}

TEST(XmlSelectText, NotWellFormedTextFindsNothing) {
    EXPECT_EQ(Select("<a><b>text</a>", "//b"), "");
    EXPECT_EQ(Select("not xml at all", "//a"), "");
    EXPECT_EQ(Select("", "//a"), "");
}

TEST(XmlSelectText, BadExpressionYieldsEmptyText) {
    EXPECT_EQ(Select("<a>x</a>", "//a[["), "");
}

TEST(XmlSelectText, ReturnsTheDocumentsBytesWhateverItsDeclarationSays) {
    EXPECT_EQ(Select("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><a>ポート 転送</a>", "/a"),
              "ポート 転送");
}

// Gateways send UTF-8; the text comes back in the program's own encoding (the
// literal's: Shift-JIS in the Windows build, UTF-8 elsewhere).
TEST(XmlSelectText, ReadsUtf8IntoTheNativeEncoding) {
    EXPECT_EQ(Select("<a>\xE6\x97\xA5\xE6\x9C\xAC web</a>", "/a"), "日本 web");
}

TEST(XmlSelectText, DecodesEntities) {
    EXPECT_EQ(Select("<a>R&amp;D &lt;lab&gt;</a>", "/a"), "R&D <lab>");
}

TEST(XmlSelectMap, KeysAreNamesAsWrittenAndALaterDuplicateWins) {
    cXML xml;
    xml.Load("<r><NewExternalPort>80</NewExternalPort><NewProtocol>TCP</NewProtocol>"
             "<NewEnabled>1</NewEnabled><NewProtocol>UDP</NewProtocol></r>");
    tMap values{{"stale", "entry"}};
    EXPECT_TRUE(xml.SelectMap(values, "/r/*"));
    EXPECT_EQ(values,
              (tMap{{"NewEnabled", "1"}, {"NewExternalPort", "80"}, {"NewProtocol", "UDP"}}));
}

TEST(XmlSelectMap, EmptiesTheMapWhenTheExpressionCannotBeEvaluated) {
    cXML xml;
    xml.Load("<r><a>1</a></r>");
    tMap values{{"stale", "entry"}};
    EXPECT_FALSE(xml.SelectMap(values, "/r/*[["));
    EXPECT_TRUE(values.empty());
}

TEST(XmlSelectMap, NotWellFormedTextGivesAnEmptyMap) {
    cXML xml;
    xml.Load("<r><a>1</a>");
    tMap values{{"stale", "entry"}};
    EXPECT_TRUE(xml.SelectMap(values, "/r/*"));
    EXPECT_TRUE(values.empty());
}

TEST(XmlSelectChildMap, FindsTheResponseElementWhateverItsPrefix) {
    cXML xml;
    xml.Load(R"(<?xml version="1.0"?>
<s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"><s:Body>
<ns0:GetGenericPortMappingEntryResponse xmlns:ns0="urn:schemas-upnp-org:service:WANIPConnection:1">
  <NewRemoteHost></NewRemoteHost>
  <NewExternalPort>  8080</NewExternalPort>
  <NewProtocol>TCP</NewProtocol>
  <NewPortMappingDescription>web <b>and</b> more</NewPortMappingDescription>
  <NewProtocol>UDP</NewProtocol>
</ns0:GetGenericPortMappingEntryResponse>
</s:Body></s:Envelope>)");
    tMap values{{"stale", "entry"}};
    EXPECT_TRUE(xml.SelectChildMap(values, "GetGenericPortMappingEntryResponse"));
    EXPECT_EQ(values, (tMap{{"NewExternalPort", "8080"},
                            {"NewPortMappingDescription", "web and more"},
                            {"NewProtocol", "UDP"},
                            {"NewRemoteHost", ""}}));
}

TEST(XmlSelectChildMap, TakesTheFirstMatchingElementOnly) {
    cXML xml;
    xml.Load("<r><x:AResponse xmlns:x=\"u\"><One>1</One></x:AResponse>"
             "<AResponse><Two>2</Two></AResponse></r>");
    tMap values;
    xml.SelectChildMap(values, "AResponse");
    EXPECT_EQ(values, (tMap{{"One", "1"}}));
}

TEST(XmlSelectChildMap, FaultWithoutResponseElementGivesAnEmptyMap) {
    cXML xml;
    xml.Load("<s:Envelope xmlns:s=\"e\"><s:Body><s:Fault><faultcode>s:Client</faultcode>"
             "</s:Fault></s:Body></s:Envelope>");
    tMap values{{"stale", "entry"}};
    xml.SelectChildMap(values, "GetExternalIPAddressResponse");
    EXPECT_TRUE(values.empty());
}

TEST(XmlSelectChildMap, TruncatedResponseGivesAnEmptyMap) {
    // A response cut off in transfer must not pass for a short answer.
    cXML xml;
    xml.Load("<s:Envelope xmlns:s=\"e\"><s:Body><u:GetGenericPortMappingEntryResponse "
             "xmlns:u=\"t\"><NewExternalPort>8080</NewExternalPort><NewProtocol>TC");
    tMap values;
    xml.SelectChildMap(values, "GetGenericPortMappingEntryResponse");
    EXPECT_TRUE(values.empty());
}

namespace {

// `depth` elements nested, the innermost a modelName with text, the others
// wrapped in `before` ... `after` markup of their own.
std::string Nested(int depth, const std::string& before = "", const std::string& after = "") {
    std::string text;
    for (int i = 1; i < depth; ++i)
        text += "<device>" + before;
    text += "<modelName>m</modelName>";
    for (int i = 1; i < depth; ++i)
        text += after + "</device>";
    return text;
}

} // namespace

TEST(XmlLoad, NestingDeeperThanTheBoundFindsNothing) {
    EXPECT_EQ(Select(Nested(kXmlMaxDepth).c_str(), "//device/modelName"), "m");
    EXPECT_EQ(Select(Nested(kXmlMaxDepth + 1).c_str(), "//device/modelName"), "");
    // A hostile depth costs neither the stack nor a tree of that depth.
    EXPECT_EQ(Select(Nested(100000).c_str(), "//device/modelName"), "");
}

TEST(XmlLoad, OnlyElementsCountTowardsTheBound) {
    // Markup that opens no element, even where it looks like a tag.
    const std::string inert = "<!-- <a><b> --><![CDATA[<c><d>]]><?pi <e><f>?><g h='>' i=\"/>\"/>";
    const std::string prolog = "<?xml version=\"1.0\"?><!DOCTYPE device [<!-- ' -->"
                               "<!ENTITY e \"]>'<x>\"><?pi ]> ?>]>";
    EXPECT_EQ(Select((prolog + Nested(kXmlMaxDepth, inert, inert)).c_str(), "//device/modelName"),
              "m");
    EXPECT_EQ(
        Select((prolog + Nested(kXmlMaxDepth + 1, inert, inert)).c_str(), "//device/modelName"),
        "");
}
