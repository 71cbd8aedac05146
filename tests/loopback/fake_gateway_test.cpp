// The fake's own strictness: the gateway-client tests rely on it to catch a
// wrong path, an unquoted SOAPAction, unescaped markup or a wrong service type.
#include "fake_gateway.h"

#include <string>

#include <gtest/gtest.h>

#include "fake_ssdp.h"
#include "net/http.h"

namespace {

const std::string kType = "urn:schemas-upnp-org:service:WANIPConnection:1";

std::string Body(const std::string& action, const std::string& type, const std::string& args) {
    return "<?xml version=\"1.0\"?>\n<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/"
           "envelope/\"><s:Body><m:" +
           action + " xmlns:m=\"" + type + "\">" + args + "</m:" + action +
           "></s:Body></s:Envelope>\n";
}

struct cAnswer {
    int status;
    std::string body;
};

class FakeGateway : public testing::Test {
  protected:
    FakeGateway() {
        cFakeGateway::cOptions options;
        options.address = kTestInterfaceAddress;
        gateway = std::make_unique<cFakeGateway>(options);
    }

    cAnswer Post(const std::string& path, const char* soapAction, const std::string& body) {
        cHTTP http;
        http.Open("POST", (gateway->GetOrigin() + path).c_str());
        if (soapAction)
            http.SetHeader("SOAPAction", soapAction);
        http.Send(body.c_str());
        http.Receive(kHttpTimeoutMs);
        return {http.GetStatus(), http.GetBody()};
    }

    cAnswer Call(const std::string& action, const std::string& args,
                 const std::string& type = kType) {
        const std::string soapAction = "\"" + type + "#" + action + "\"";
        return Post(gateway->GetControlPath(), soapAction.c_str(), Body(action, type, args));
    }

    std::unique_ptr<cFakeGateway> gateway;
};

} // namespace

TEST_F(FakeGateway, RefusesWrongPathsMethodsAndHeaders) {
    const std::string body = Body("GetExternalIPAddress", kType, "");
    const std::string quoted = "\"" + kType + "#GetExternalIPAddress\"";
    const std::string bare = kType + "#GetExternalIPAddress";
    EXPECT_EQ(Post("/igd/desc.xml/ctl/IPConn", quoted.c_str(), body).status, 404);
    EXPECT_EQ(Post("/igd/desc.xml", quoted.c_str(), body).status, 405);
    EXPECT_EQ(Post("/ctl/IPConn", nullptr, body).status, 400);
    EXPECT_EQ(Post("/ctl/IPConn", bare.c_str(), body).status, 400);
    EXPECT_EQ(Post("/ctl/IPConn", quoted.c_str(), "<broken & body>").status, 400);
    EXPECT_EQ(Post("/ctl/IPConn", quoted.c_str(), body).status, 200);
}

TEST_F(FakeGateway, AnswersOtherServiceTypesWithFault401) {
    const cAnswer answer =
        Call("GetExternalIPAddress", "", "urn:schemas-upnp-org:service:WANPPPConnection:1");
    EXPECT_EQ(answer.status, 500);
    EXPECT_NE(answer.body.find("<errorCode>401</errorCode>"), std::string::npos);
    EXPECT_EQ(
        Call("GetExternalIPAddress", "", "urn:schemas-upnp-org:service:WANIPConnection:2").status,
        500);
}

TEST_F(FakeGateway, KeepsTheTableAndFaultsPastItsEnd) {
    const std::string add = "<NewRemoteHost></NewRemoteHost><NewExternalPort>80</NewExternalPort>"
                            "<NewProtocol>TCP</NewProtocol><NewInternalPort>8080</NewInternalPort>"
                            "<NewInternalClient>192.0.2.10</NewInternalClient>"
                            "<NewEnabled>1</NewEnabled><NewPortMappingDescription>a &amp; b"
                            "</NewPortMappingDescription><NewLeaseDuration>0</NewLeaseDuration>";
    EXPECT_EQ(Call("AddPortMapping", add).status, 200);
    ASSERT_EQ(gateway->Mappings().size(), 1u);
    EXPECT_EQ(gateway->Mappings()[0].description, "a & b");
    const cAnswer entry =
        Call("GetGenericPortMappingEntry", "<NewPortMappingIndex>0</NewPortMappingIndex>");
    EXPECT_EQ(entry.status, 200);
    EXPECT_NE(entry.body.find("<NewPortMappingDescription>a &amp; b</NewPortMappingDescription>"),
              std::string::npos);
    const cAnswer past =
        Call("GetGenericPortMappingEntry", "<NewPortMappingIndex>1</NewPortMappingIndex>");
    EXPECT_EQ(past.status, 500);
    EXPECT_NE(past.body.find("<errorCode>713</errorCode>"), std::string::npos);
    EXPECT_EQ(Call("DeletePortMapping", "<NewRemoteHost></NewRemoteHost><NewExternalPort>80"
                                        "</NewExternalPort><NewProtocol>TCP</NewProtocol>")
                  .status,
              200);
    EXPECT_TRUE(gateway->Mappings().empty());
}
