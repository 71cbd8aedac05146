#include "pcp/result_code.h"

#include "support/text.h"

namespace {

constexpr cKnownFailure kPcpResults[] = {
    {1, "UNSUPP_VERSION", "the gateway does not speak this PCP version",
     "このバージョンの PCP には対応していません"},
    {2, "NOT_AUTHORIZED",
     "the gateway does not allow this request (for a delete: it was not made with the same "
     "nonce)",
     "この要求は許可されていません"},
    {3, "MALFORMED_REQUEST", "the gateway could not read the request", "要求の形式が不正です"},
    {4, "UNSUPP_OPCODE", "the gateway does not offer this operation",
     "この操作には対応していません"},
    {5, "UNSUPP_OPTION", "the gateway does not support a mandatory option of the request",
     "要求のオプションに対応していません"},
    {6, "MALFORMED_OPTION", "an option of the request is malformed",
     "要求のオプションの形式が不正です"},
    {7, "NETWORK_FAILURE", "the gateway has a network failure (no external address now)",
     "ルーターのネットワークに障害があります"},
    {8, "NO_RESOURCES", "the gateway has no room for another mapping now",
     "ルーターの資源が不足しています"},
    {9, "UNSUPP_PROTOCOL", "the gateway does not map this protocol",
     "このプロトコルには対応していません"},
    {10, "USER_EX_QUOTA", "this host has reached its quota of mappings",
     "この機器のポートマップの上限に達しました"},
    {11, "CANNOT_PROVIDE_EXTERNAL",
     "the gateway cannot give the external port or address asked for",
     "指定した外部ポートまたはアドレスは使えません"},
    {12, "ADDRESS_MISMATCH", "the gateway saw the request come from another address than it names",
     "要求の送信元アドレスが一致しません"},
    {13, "EXCESSIVE_REMOTE_PEERS", "the gateway cannot create that many remote peers",
     "リモートピアが多すぎます"},
};

constexpr cKnownFailure kNatPmpResults[] = {
    {1, "UnsupportedVersion", "the gateway does not speak this NAT-PMP version",
     "このバージョンの NAT-PMP には対応していません"},
    {2, "NotAuthorized", "the gateway does not allow this mapping (NAT-PMP turned off, or refused)",
     "このポートマップは許可されていません"},
    {3, "NetworkFailure", "the gateway has a network failure (no external address now)",
     "ルーターのネットワークに障害があります"},
    {4, "OutOfResources", "the gateway has no room for another mapping now",
     "ルーターの資源が不足しています"},
    {5, "UnsupportedOpcode", "the gateway does not offer this operation",
     "この操作には対応していません"},
};

template <std::size_t N>
cFailure FromTable(const cKnownFailure (&table)[N], int code, const char* unknownName) {
    cFailure failure;
    if (FindKnownFailure(table, N, code, failure))
        return failure;
    return cFailure{code, unknownName,
                    FormatString("the gateway refused with result code %d", code),
                    FormatString("ルーターが結果コード %d で拒否しました", code)};
}

} // namespace

cFailure PcpFailure(int code) {
    return FromTable(kPcpResults, code, "PCP_ERROR");
}

cFailure NatPmpFailure(int code) {
    return FromTable(kNatPmpResults, code, "NatPmpError");
}

cFailure PcpTimeoutFailure(int waitedMs) {
    return cFailure{
        0, "Timeout",
        FormatString("the gateway did not answer on port 5351 within %.1f s", waitedMs / 1000.0),
        "ルーターから応答がありません"};
}

cFailure PcpSendFailure() {
    return cFailure{0, "SendFailed", "the request could not be sent to the gateway",
                    "要求を送れませんでした"};
}

cFailure PcpNoGatewayFailure() {
    return cFailure{0, "NoGateway", "this host has no IPv4 default gateway",
                    "デフォルトゲートウェイがありません"};
}
