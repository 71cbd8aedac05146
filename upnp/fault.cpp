#include "upnp/fault.h"

#include <map>

#include "support/text.h"
#include "support/text_encoding.h"
#include "support/xml.h"

namespace {

// The errors of the connection services (IGD versions 1 and 2), of the IPv6
// firewall (701-709) and of the control protocol itself.
constexpr cKnownFailure kKnownErrors[] = {
    {401, "InvalidAction", "the gateway does not offer this action",
     "この操作には対応していません"},
    {402, "InvalidArgs", "the gateway refused the request's arguments", "引数が不正です"},
    {501, "ActionFailed", "the gateway failed to carry out the action",
     "ルーターが処理に失敗しました"},
    {600, "ArgumentValueInvalid", "an argument value is invalid", "引数の値が不正です"},
    {601, "ArgumentValueOutOfRange", "an argument value is out of range",
     "引数の値が範囲外です"},
    {606, "ActionNotAuthorized", "the gateway does not allow this action for this host or port",
     "この操作は許可されていません"},
    {701, "PinholeSpaceExhausted", "the gateway has no room for another pinhole",
     "これ以上ピンホールを追加できません"},
    {702, "FirewallDisabled", "the gateway's IPv6 firewall is disabled",
     "ルーターのIPv6ファイアウォールが無効です"},
    {703, "InboundPinholeNotAllowed", "the gateway does not allow inbound pinholes",
     "ルーターは受信用のピンホールを許可していません"},
    {704, "NoSuchEntry", "there is no pinhole with this ID", "そのIDのピンホールはありません"},
    {705, "ProtocolNotSupported", "the gateway does not support this protocol for pinholes",
     "このプロトコルのピンホールには対応していません"},
    {706, "InternalPortWildcardingNotAllowed", "the gateway needs an internal port, not a wildcard",
     "内部ポートの省略は許可されていません"},
    {707, "ProtocolWildcardingNotAllowed", "the gateway needs a protocol, not a wildcard",
     "プロトコルの省略は許可されていません"},
    {708, "WildCardNotPermittedInSrcIP", "the gateway needs an address, not a wildcard",
     "アドレスの省略は許可されていません"},
    {709, "NoPacketSent", "the pinhole has seen no packet yet",
     "ピンホールはまだパケットを受けていません"},
    {713, "SpecifiedArrayIndexInvalid", "there is no mapping at this index",
     "その番号のポートマップはありません"},
    {714, "NoSuchEntryInArray", "there is no such mapping", "該当するポートマップはありません"},
    {715, "WildCardNotPermittedInSrcIP", "the gateway needs a remote host, not a wildcard",
     "リモートホストの省略は許可されていません"},
    {716, "WildCardNotPermittedInExtPort", "the gateway needs an external port, not a wildcard",
     "外部ポートの省略は許可されていません"},
    {718, "ConflictInMappingEntry", "the port is already mapped to another host",
     "ポートは既に他の機器に割り当てられています"},
    {724, "SamePortValuesRequired", "the gateway needs the same internal and external port",
     "内部ポートと外部ポートを同じにする必要があります"},
    {725, "OnlyPermanentLeasesSupported", "the gateway accepts only permanent mappings",
     "無期限のポートマップのみ対応しています"},
    {726, "RemoteHostOnlySupportsWildcard", "the gateway accepts only any remote host",
     "リモートホストは指定できません"},
    {727, "ExternalPortOnlySupportsWildcard", "the gateway accepts only any external port",
     "外部ポートは指定できません"},
    {728, "NoPortMapsAvailable", "the gateway has no room for another mapping",
     "これ以上ポートマップを追加できません"},
    {729, "ConflictWithOtherMechanisms", "another mechanism of the gateway holds the port",
     "ルーターの他の機能とポートが競合しています"},
    {730, "PortMappingNotFound", "there is no such mapping", "該当するポートマップはありません"},
    {731, "ReadOnly", "the mapping cannot be changed", "このポートマップは変更できません"},
    {732, "WildCardNotPermittedInIntPort", "the gateway needs an internal port, not a wildcard",
     "内部ポートの省略は許可されていません"},
    {733, "InconsistentParameters", "the request's values contradict each other",
     "指定した値が矛盾しています"},
};

// A child named `localName`, whatever prefix the gateway gave it.
std::string ChildText(const std::map<std::string, std::string>& children,
                      const std::string& localName) {
    for (const auto& child : children) {
        const std::size_t colon = child.first.find(':');
        if ((colon == std::string::npos ? child.first : child.first.substr(colon + 1)) == localName)
            return child.second;
    }
    return "";
}

} // namespace

bool ReadUpnpFault(const char* body, int& code, std::string& description) {
    cXML document;
    document.Load(body);
    std::map<std::string, std::string> error;
    document.SelectChildMap(error, "UPnPError");
    const std::string codeText = ChildText(error, "errorCode");
    if (codeText.empty() || codeText.size() > 9 ||
        codeText.find_first_not_of("0123456789") != std::string::npos)
        return false;
    code = ReadInt(codeText);
    description = ChildText(error, "errorDescription");
    return true;
}

cFailure UpnpFailure(int code, const std::string& description) {
    cFailure known;
    if (FindKnownFailure(kKnownErrors, sizeof kKnownErrors / sizeof kKnownErrors[0], code, known))
        return known;
    const std::string own = PrintableText(Trim(description), kMaxFaultDescriptionBytes);
    return cFailure{code, "UPnPError",
                   own.empty() ? "the gateway gave no description of this error" : own,
                   own.empty() ? "不明なエラーです" : own};
}

cFailure TransportFailure(eHttpOutcome outcome, int httpStatus, int silenceMs) {
    const std::string seconds = FormatString("%.1f s", silenceMs / 1000.0);
    switch (outcome) {
    case eHttpOutcome::kNotStarted:
    case eHttpOutcome::kBadUrl:
        return cFailure{0, "BadUrl", "the gateway's control URL cannot be used",
                       "ルーターの制御URLが不正です"};
    case eHttpOutcome::kNoConnection:
        return cFailure{0, "NoConnection", "no connection to the gateway within " + seconds,
                       "ルーターに接続できません"};
    case eHttpOutcome::kSendFailed:
        return cFailure{0, "SendFailed", "the connection broke while the request went out",
                       "要求を送れませんでした"};
    case eHttpOutcome::kSilence:
        return cFailure{0, "Timeout", "the gateway did not answer within " + seconds,
                       "ルーターから応答がありません"};
    case eHttpOutcome::kClosed:
        return cFailure{0, "ConnectionClosed", "the gateway closed the connection without answering",
                       "ルーターが応答せずに切断しました"};
    case eHttpOutcome::kTooLarge:
        return cFailure{0, "AnswerTooLarge",
                       FormatString("the gateway's answer passed the %u KiB bound or was "
                                    "malformed",
                                    kHttpMaxResponseBytes / 1024),
                       "ルーターの応答が大きすぎるか壊れています"};
    case eHttpOutcome::kCutShort:
        return cFailure{0, "AnswerCutShort", "the gateway's answer was cut short",
                       "ルーターの応答が途中で途切れました"};
    case eHttpOutcome::kDeadline:
        return cFailure{0, "Timeout",
                       FormatString("the gateway's answer did not end within the %d s bound",
                                    kHttpDeadlineMs / 1000),
                       "ルーターの応答が時間内に終わりませんでした"};
    case eHttpOutcome::kNotHttp:
        return cFailure{0, "NotHttp", "the gateway's answer was not HTTP",
                       "ルーターの応答を読めません"};
    case eHttpOutcome::kAnswered:
        break;
    }
    return cFailure{0, "HttpError", FormatString("the gateway answered HTTP %d", httpStatus),
                   FormatString("ルーターが HTTP %d を返しました", httpStatus)};
}

cFailure NoGatewayFailure() {
    return cFailure{0, "NoGateway", "no gateway is known", "ルーターが見つかっていません"};
}

cFailure UnreadableAnswerFailure() {
    return cFailure{0, "AnswerUnreadable", "the gateway's answer could not be read",
                   "ルーターの応答を読めません"};
}
