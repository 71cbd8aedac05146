#include "pcp/mapping_gateway.h"

#include <ctime>
#include <random>

#include "pcp/result_code.h"
#include "support/text.h"
#include "support/text_encoding.h"

namespace {

std::uint32_t ReadDotted(const std::string& text) {
    unsigned parts[4] = {};
    if (std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u", &parts[0], &parts[1], &parts[2], &parts[3]) !=
        4)
        return 0;
    return (parts[0] & 0xFF) << 24 | (parts[1] & 0xFF) << 16 | (parts[2] & 0xFF) << 8 |
           (parts[3] & 0xFF);
}

std::uint8_t IanaProtocol(const std::string& protocol) {
    return protocol == "UDP" ? kIanaProtocolUdp : kIanaProtocolTcp;
}

cFailure Make(const char* name, const std::string& message, const std::string& messageJa) {
    cFailure failure;
    failure.name = name;
    failure.message = message;
    failure.messageJa = messageJa;
    return failure;
}

// A port in the dynamic range for the lifetime-0 request that only asks the
// external address: nothing maps it, so nothing is deleted.
std::uint16_t ProbePort() {
    static std::mt19937 generator{std::random_device{}()};
    return static_cast<std::uint16_t>(std::uniform_int_distribution<int>(49152, 65535)(generator));
}

} // namespace

const char* PcpDialectName(ePcpDialect dialect) {
    return dialect == ePcpDialect::kPcp ? "pcp" : "natpmp";
}

cPcpMappingGateway::cPcpMappingGateway(cPcpClient& client, ePcpDialect dialect,
                                       std::string localAddress, cMappingStore& store, int budgetMs)
    : client(client), dialect(dialect), localAddress(std::move(localAddress)), store(store),
      budgetMs(budgetMs) {}

const char* cPcpMappingGateway::DialectName() const {
    return PcpDialectName(dialect);
}

bool cPcpMappingGateway::Refused(const cPcpAnswer& answer) {
    if (dialect == ePcpDialect::kPcp && answer.kind == cPcpAnswer::kNatPmpHeaderOnly) {
        natPmpOnly = true;
        failure = PcpFailure(kPcpUnsuppVersion);
        failure.message += " (it speaks NAT-PMP only)";
        return true;
    }
    if (answer.resultCode == 0)
        return false;
    failure = dialect == ePcpDialect::kPcp ? PcpFailure(answer.resultCode)
                                           : NatPmpFailure(answer.resultCode);
    return true;
}

bool cPcpMappingGateway::StartMap(const std::string& protocol, int internalPort,
                                  int suggestedExternalPort, std::uint32_t lifetime,
                                  const cPcpNonce& nonce) {
    failure = cFailure();
    cPcpExpectation expected;
    expected.dialect = dialect;
    std::string request;
    if (dialect == ePcpDialect::kPcp) {
        cPcpMapRequest map;
        map.lifetime = lifetime;
        map.clientAddress = ReadDotted(localAddress);
        map.nonce = nonce;
        map.protocol = IanaProtocol(protocol);
        map.internalPort = static_cast<std::uint16_t>(internalPort);
        map.suggestedExternalPort = static_cast<std::uint16_t>(suggestedExternalPort);
        request = EncodePcpMapRequest(map);
        expected.opcode = kPcpOpcodeMap;
        expected.nonce = nonce;
        expected.protocol = map.protocol;
        expected.internalPort = map.internalPort;
    } else {
        cNatPmpRequest map;
        map.opcode = protocol == "UDP" ? kNatPmpOpcodeMapUdp : kNatPmpOpcodeMapTcp;
        map.internalPort = static_cast<std::uint16_t>(internalPort);
        map.suggestedExternalPort = static_cast<std::uint16_t>(suggestedExternalPort);
        map.lifetime = lifetime;
        request = EncodeNatPmpRequest(map);
        expected.opcode = map.opcode;
        expected.internalPort = map.internalPort;
    }
    if (!client.Start(request, expected, budgetMs)) {
        failure = client.LastFailure();
        return false;
    }
    return true;
}

bool cPcpMappingGateway::FinishMap(cPcpAnswer& answer) {
    while (client.Poll(budgetMs) == cPcpClient::kWaiting) {
    }
    if (client.State() != cPcpClient::kAnswered) {
        failure = client.LastFailure();
        return false;
    }
    Answered();
    answer = client.Answer();
    return !Refused(answer);
}

void cPcpMappingGateway::Answered() {
    everAnswered = true;
    answeredAt = std::chrono::steady_clock::now();
    if (!client.Epoch().TakeRestart())
        return;
    restarted = true;
    // The gateway lost them, made over either protocol: no nonce of theirs
    // is needed again, and none of them may count as held.
    store.Reload();
    store.RemoveGateway(client.ServerAddress());
    store.Save();
}

bool cPcpMappingGateway::TakeGatewayRestart() {
    const bool was = restarted;
    restarted = false;
    return was;
}

void cPcpMappingGateway::Announced(const cPcpAnswer& announcement) {
    if (announcement.kind == cPcpAnswer::kPcpAnnounce) {
        client.Epoch().Observe(announcement.epoch, std::chrono::steady_clock::now());
        client.Epoch().NoteRestart();
    } else if (announcement.kind == cPcpAnswer::kNatPmpAddress) {
        client.Epoch().Observe(announcement.epoch, std::chrono::steady_clock::now());
    } else {
        return;
    }
    Answered();
}

bool cPcpMappingGateway::AskEpoch() {
    if (everAnswered &&
        std::chrono::steady_clock::now() - answeredAt < std::chrono::milliseconds(kEpochFreshMs))
        return true;
    // Any answer carries the epoch, a refusal too.
    cPcpAnswer answer;
    if (!StartExternalAddress())
        return false;
    FinishMap(answer);
    if (client.State() != cPcpClient::kAnswered)
        return false;
    failure = cFailure();
    return true;
}

bool cPcpMappingGateway::Map(const std::string& protocol, int internalPort,
                             int suggestedExternalPort, std::uint32_t lifetime,
                             const cPcpNonce& nonce, cPcpAnswer& answer) {
    return StartMap(protocol, internalPort, suggestedExternalPort, lifetime, nonce) &&
           FinishMap(answer);
}

bool cPcpMappingGateway::StartExternalAddress() {
    if (dialect == ePcpDialect::kPcp)
        return StartMap("UDP", ProbePort(), 0, 0, MakePcpNonce());
    failure = cFailure();
    cPcpExpectation expected;
    expected.dialect = dialect;
    expected.opcode = kNatPmpOpcodeExternalAddress;
    if (!client.Start(EncodeNatPmpRequest(cNatPmpRequest()), expected, budgetMs)) {
        failure = client.LastFailure();
        return false;
    }
    return true;
}

bool cPcpMappingGateway::FinishExternalAddress(std::string& out) {
    cPcpAnswer answer;
    if (!FinishMap(answer)) {
        // The lifetime-0 request deletes nothing, and a server may say so
        // (miniupnpd: NO_RESOURCES) while naming its external address.
        if (client.State() != cPcpClient::kAnswered || dialect != ePcpDialect::kPcp ||
            client.Answer().kind != cPcpAnswer::kPcpMap || !client.Answer().externalAddressIsIpv4 ||
            client.Answer().externalAddress == 0)
            return false;
        answer = client.Answer();
        failure = cFailure();
    }
    if (!answer.externalAddressIsIpv4 || answer.externalAddress == 0) {
        failure = Make("NoExternalAddress", "the gateway named no IPv4 external address",
                       "ルーターが外部IPv4アドレスを返しませんでした");
        return false;
    }
    out = Ipv4Text(answer.externalAddress);
    return true;
}

bool cPcpMappingGateway::GetExternalAddress(std::string& out) {
    return StartExternalAddress() && FinishExternalAddress(out);
}

bool cPcpMappingGateway::Add(const cMapping& wanted, cAddResult& result) {
    result = cAddResult();
    if (!wanted.internalClient.empty() && wanted.internalClient != localAddress) {
        failure = Make("NotThisHost",
                       "PCP and NAT-PMP map ports to the host that asks only: " +
                           PrintableText(wanted.internalClient) + " is not this host (" +
                           localAddress + ")",
                       "PCP と NAT-PMP ではこの機器へのポートマップのみ作成できます");
        return false;
    }
    int lease = wanted.leaseSeconds;
    if (lease <= 0) {
        lease = kPcpDefaultLeaseSeconds;
        result.warnings.push_back("PCP and NAT-PMP have no permanent mappings: asked for " +
                                  std::to_string(lease) + " s (renew it before it ends)");
    }
    // A renewal must carry the nonce of the request that made the mapping,
    // which another run may have recorded.
    store.Reload();
    const cStoredMapping* known = store.FindInternal(DialectName(), client.ServerAddress(),
                                                     wanted.protocol, wanted.internalPort);
    const cPcpNonce nonce = known ? known->nonce : MakePcpNonce();
    cPcpAnswer answer;
    if (!Map(wanted.protocol, wanted.internalPort, wanted.externalPort,
             static_cast<std::uint32_t>(lease), nonce, answer))
        return false;
    store.Reload();
    if (answer.externalPort == 0 || answer.lifetime == 0) {
        failure = Make("NothingKept", "the gateway answered success but kept no mapping",
                       "ルーターは成功と答えましたがポートマップがありません");
        return false;
    }
    result.kept = wanted;
    result.kept.internalClient = localAddress;
    result.kept.externalPort = answer.externalPort;
    result.kept.leaseSeconds = static_cast<int>(std::min<std::uint32_t>(answer.lifetime, 1u << 30));
    if (answer.externalPort != wanted.externalPort)
        result.warnings.push_back("the gateway granted external port " +
                                  std::to_string(answer.externalPort) + " instead of " +
                                  std::to_string(wanted.externalPort));
    if (result.kept.leaseSeconds != lease)
        result.warnings.push_back("the gateway granted a lease of " +
                                  std::to_string(result.kept.leaseSeconds) + " s instead of " +
                                  std::to_string(lease) + " s");
    if (!wanted.description.empty())
        result.warnings.push_back("PCP and NAT-PMP carry no comment: it is kept on this host only");
    cStoredMapping stored;
    stored.dialect = DialectName();
    stored.gateway = client.ServerAddress();
    stored.protocol = wanted.protocol;
    stored.externalPort = answer.externalPort;
    stored.internalPort = wanted.internalPort;
    stored.nonce = nonce;
    stored.expires = static_cast<std::int64_t>(std::time(nullptr)) + result.kept.leaseSeconds;
    stored.description = wanted.description.substr(0, kMaxStoredDescriptionBytes);
    store.Put(stored);
    if (!store.Save())
        result.warnings.push_back("the mapping could not be recorded in the cache folder: it "
                                  "cannot be deleted by a later run, only left to expire");
    return true;
}

bool cPcpMappingGateway::Find(const std::string& protocol, int externalPort, bool& found,
                              cMapping& out) {
    failure = cFailure();
    if (!AskEpoch())
        return false;
    store.Reload();
    const cStoredMapping* known =
        store.Find(DialectName(), client.ServerAddress(), protocol, externalPort);
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    found = known && known->expires > now;
    if (found) {
        out = cMapping();
        out.protocol = protocol;
        out.externalPort = externalPort;
        out.internalClient = localAddress;
        out.internalPort = known->internalPort;
        out.description = known->description;
        out.leaseSeconds = static_cast<int>(known->expires - now);
    }
    return true;
}

bool cPcpMappingGateway::Delete(const std::string& protocol, int externalPort) {
    store.Reload();
    const cStoredMapping* known =
        store.Find(DialectName(), client.ServerAddress(), protocol, externalPort);
    if (!known) {
        failure = Make("UnknownMapping",
                       std::string("this host has no record of making this mapping, so its ") +
                           (dialect == ePcpDialect::kPcp ? "nonce" : "internal port") +
                           " is unknown; " + PcpDialectName(dialect) +
                           " can delete only mappings made from this host's cache (or let it "
                           "expire)",
                       "このポートマップの記録がないため削除できません");
        return false;
    }
    const cStoredMapping copy = *known;
    cPcpAnswer answer;
    if (!Map(protocol, copy.internalPort, dialect == ePcpDialect::kPcp ? externalPort : 0, 0,
             copy.nonce, answer))
        return false;
    store.Reload();
    store.Remove(copy.dialect, copy.gateway, copy.protocol, copy.externalPort);
    store.Save();
    return true;
}
