#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "mapping/failure.h"
#include "net/socket.h"
#include "pcp/packet.h"
#include "support/no_copy.h"

enum class ePcpDialect { kPcp, kNatPmp };

// What an answer must echo to belong to the request in flight.
struct cPcpExpectation {
    ePcpDialect dialect = ePcpDialect::kPcp;
    std::uint8_t opcode = kPcpOpcodeMap;
    cPcpNonce nonce{};
    std::uint8_t protocol = 0;
    std::uint16_t internalPort = 0;
};

// True when `answer` is the answer to the request `expected` describes. PCP:
// a MAP payload must echo nonce, protocol and internal port; an error without
// payload, or a NAT-PMP "unsupported version", need only the opcode.
// NAT-PMP: opcode, and internal port for a mapping.
bool AnswerMatches(const cPcpAnswer& answer, const cPcpExpectation& expected);

// RFC 6887 §8.1.1 (PCP: IRT 3 s, MRT 1024 s, each time ±10 %) and RFC 6886
// §3.1 (NAT-PMP: 250 ms, doubling, 9 sends at most). `random` is in [-1, 1].
// Returns the wait after send number `sent` (1 for the first), or -1 when no
// more sends are due.
int RetransmissionWaitMs(ePcpDialect dialect, int sent, int previousWaitMs, double random);

// RFC 6887 §8.5: is the server epoch `epoch`, seen `clientSeconds` after the
// previous one, consistent with the previous epoch? False means the gateway
// restarted (and lost its mappings).
bool EpochIsConsistent(std::uint32_t previousEpoch, std::uint32_t epoch,
                       std::uint32_t clientSeconds);

// Remembers the server's epoch across exchanges; a restart is kept until read.
class cEpochWatch {
  public:
    void Observe(std::uint32_t epoch, std::chrono::steady_clock::time_point at);
    // An ANNOUNCE, or an epoch that went backwards.
    void NoteRestart() { restart = true; }
    bool Known() const { return known; }
    std::uint32_t Last() const { return last; }
    bool TakeRestart();

  private:
    bool known = false;
    bool restart = false;
    std::uint32_t last = 0;
    std::chrono::steady_clock::time_point lastAt;
};

// One request at a time to the gateway's port 5351, retransmitted on the
// RFC's schedule within a budget. Answers count only from the server's
// address and port and only when they match. Start and Poll let a caller
// interleave it with other waits in one thread; Exchange does both.
class cPcpClient : no_copy {
  public:
    enum eState { kIdle, kWaiting, kAnswered, kGaveUp };

    // serverAddress: dotted IPv4.
    bool Open(const std::string& serverAddress, std::uint16_t serverPort = kPcpServerPort);
    bool Start(const std::string& request, const cPcpExpectation& expected, int budgetMs);
    // Waits up to waitMs (capped at the next resend or the budget's end).
    eState Poll(int waitMs);
    // Start, then Poll until answered or the budget is spent.
    bool Exchange(const std::string& request, const cPcpExpectation& expected, int budgetMs);

    eState State() const { return state; }
    const cPcpAnswer& Answer() const { return answer; }
    // Set after kGaveUp or a failed Start.
    const cFailure& LastFailure() const { return failure; }
    cEpochWatch& Epoch() { return epoch; }
    const cEpochWatch& Epoch() const { return epoch; }
    const std::string& ServerAddress() const { return serverText; }
    // The client's socket, for a caller that waits on it with others.
    const cSocketUDP& Socket() const { return udp; }
    // Milliseconds until the exchange needs Poll again (0 when idle or done).
    int MsUntilDue() const;

  private:
    bool SendRequest();

    cSocketUDP udp;
    std::string serverText;
    std::uint32_t server = 0; // network byte order
    std::uint16_t port = 0;   // network byte order
    std::string request;
    cPcpExpectation expected;
    eState state = kIdle;
    cPcpAnswer answer;
    cFailure failure;
    cEpochWatch epoch;
    int sent = 0;
    int waitMs = 0;
    int budgetMs = 0;
    std::chrono::steady_clock::time_point startedAt, nextSendAt, endAt;
};

// Twelve random bytes for a PCP nonce.
cPcpNonce MakePcpNonce();
