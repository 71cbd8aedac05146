#include "upnp/fault.h"

#include <string>

#include <gtest/gtest.h>

#include "mapping/external_address.h"
#include "mapping/failure.h"

namespace {

std::string FaultBody(const std::string& error) {
    return "<?xml version=\"1.0\"?><s:Envelope "
           "xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body><s:Fault>"
           "<faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail>" +
           error + "</detail></s:Fault></s:Body></s:Envelope>";
}

TEST(UpnpFault, EveryTabledCodeHasItsNameAndBothSentences) {
    const struct {
        int code;
        const char* name;
    } table[] = {
        {401, "InvalidAction"},          {402, "InvalidArgs"},
        {501, "ActionFailed"},           {600, "ArgumentValueInvalid"},
        {606, "ActionNotAuthorized"},    {713, "SpecifiedArrayIndexInvalid"},
        {714, "NoSuchEntryInArray"},     {715, "WildCardNotPermittedInSrcIP"},
        {716, "WildCardNotPermittedInExtPort"}, {718, "ConflictInMappingEntry"},
        {724, "SamePortValuesRequired"}, {725, "OnlyPermanentLeasesSupported"},
        {726, "RemoteHostOnlySupportsWildcard"}, {727, "ExternalPortOnlySupportsWildcard"},
        {728, "NoPortMapsAvailable"},    {729, "ConflictWithOtherMechanisms"},
        {701, "PinholeSpaceExhausted"},  {702, "FirewallDisabled"},
        {703, "InboundPinholeNotAllowed"}, {704, "NoSuchEntry"},
        {705, "ProtocolNotSupported"},   {706, "InternalPortWildcardingNotAllowed"},
        {707, "ProtocolWildcardingNotAllowed"}, {708, "WildCardNotPermittedInSrcIP"},
        {709, "NoPacketSent"},
    };
    for (const auto& row : table) {
        const cFailure failure = UpnpFailure(row.code, "the gateway's own words");
        EXPECT_EQ(failure.code, row.code);
        EXPECT_EQ(failure.name, row.name);
        EXPECT_FALSE(failure.message.empty()) << row.code;
        EXPECT_NE(failure.message, "the gateway's own words") << row.code;
        EXPECT_FALSE(failure.messageJa.empty()) << row.code;
    }
    const cFailure unknown = UpnpFailure(899, "Vendor trouble");
    EXPECT_EQ(unknown.message, "Vendor trouble");
    EXPECT_EQ(JapaneseReasonSuffix(unknown), " (899 Vendor trouble)");
    EXPECT_EQ(JapaneseReasonSuffix(UpnpFailure(718, "")),
              " (718 ポートは既に他の機器に割り当てられています)");
    EXPECT_EQ(JapaneseReasonSuffix(cFailure()), "");
}

TEST(UpnpFault, TheReaderFindsCodeAndDescriptionWhateverThePrefix) {
    int code = 0;
    std::string description;
    ASSERT_TRUE(ReadUpnpFault(FaultBody("<UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\">"
                                        "<errorCode>718</errorCode><errorDescription>"
                                        "ConflictInMappingEntry</errorDescription></UPnPError>")
                                  .c_str(),
                              code, description));
    EXPECT_EQ(code, 718);
    EXPECT_EQ(description, "ConflictInMappingEntry");
    ASSERT_TRUE(ReadUpnpFault(
        FaultBody("<u:UPnPError xmlns:u=\"urn:x\"><u:errorCode> 606 </u:errorCode></u:UPnPError>")
            .c_str(),
        code, description));
    EXPECT_EQ(code, 606);
    EXPECT_EQ(description, "");
}

TEST(UpnpFault, AnythingButADecimalCodeIsNoFault) {
    int code = 0;
    std::string description;
    for (const std::string& body :
         {FaultBody(""), FaultBody("<UPnPError><errorCode>7x</errorCode></UPnPError>"),
          FaultBody("<UPnPError><errorCode>-1</errorCode></UPnPError>"),
          FaultBody("<UPnPError><errorCode>99999999999</errorCode></UPnPError>"),
          std::string("not xml"), std::string()})
        EXPECT_FALSE(ReadUpnpFault(body.c_str(), code, description)) << body;
}

TEST(UpnpFault, TransportFailuresNameWhatHappenedAndTheBound) {
    EXPECT_EQ(TransportFailure(eHttpOutcome::kSilence, 0, 3000).message,
              "the gateway did not answer within 3.0 s");
    EXPECT_EQ(TransportFailure(eHttpOutcome::kNoConnection, 0, 3000).name, "NoConnection");
    EXPECT_EQ(TransportFailure(eHttpOutcome::kDeadline, 200, 3000).message,
              "the gateway's answer did not end within the 10 s bound");
    const cFailure status = TransportFailure(eHttpOutcome::kAnswered, 404, 3000);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(status.message, "the gateway answered HTTP 404");
}

TEST(ExternalAddress, PrivateSharedAndMissingAddressesAreToldApart) {
    const struct {
        const char* address;
        eExternalAddressKind kind;
    } table[] = {
        {"203.0.113.2", eExternalAddressKind::kPublic},
        {"198.51.100.1", eExternalAddressKind::kPublic},
        {"192.0.2.2", eExternalAddressKind::kPublic},
        {"8.8.8.8", eExternalAddressKind::kPublic},
        {"10.0.0.1", eExternalAddressKind::kPrivate},
        {"172.16.0.1", eExternalAddressKind::kPrivate},
        {"172.31.255.255", eExternalAddressKind::kPrivate},
        {"172.32.0.1", eExternalAddressKind::kPublic},
        {"192.168.1.1", eExternalAddressKind::kPrivate},
        {"100.64.0.1", eExternalAddressKind::kShared},
        {"100.127.255.255", eExternalAddressKind::kShared},
        {"100.128.0.1", eExternalAddressKind::kPublic},
        {"169.254.3.4", eExternalAddressKind::kNone},
        {"0.0.0.0", eExternalAddressKind::kNone},
        {"", eExternalAddressKind::kNone},
        {"256.1.1.1", eExternalAddressKind::kNone},
        {" 1.2.3.4", eExternalAddressKind::kNone},
        {"1.2.3.4x", eExternalAddressKind::kNone},
    };
    for (const auto& row : table)
        EXPECT_EQ(ClassifyExternalAddress(row.address), row.kind) << row.address;
}

} // namespace
