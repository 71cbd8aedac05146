#pragma once

#include <string>
#include <vector>

#include "cli/keep_options.h"
#include "cli/port_input.h"
#include "upnp/pinhole.h"
#include "upnp/upnp.h"

enum class eCommand {
    List, Add, Delete, ExternalIp, Status, Gateways, Doctor, Keep, Pinhole, Help, Version
};

// pinhole add | delete | update | check, and what each takes.
enum class ePinholeAction { kAdd, kDelete, kUpdate, kCheck };
struct cPinholeCommand {
    ePinholeAction action = ePinholeAction::kAdd;
    // add: an omitted ADDRESS stays empty (this host's address toward the
    // gateway is known only after the search).
    cPinhole pinhole;
    // delete, update, check: the gateway's UniqueID, 0-65535.
    std::string uniqueId;
};

// --protocol: which mapping protocol to speak.
enum class eProtocolChoice { kAuto, kUpnp, kPcp, kNatPmp };

// Exit statuses; scripts depend on them.
constexpr int kExitOk = 0;
constexpr int kExitNoGateway = 1;
constexpr int kExitUsage = 2;
constexpr int kExitFailed = 3;

// The window waits as long for the gateway's answer.
constexpr int kDefaultTimeoutMs = 5000;
constexpr int kMaxTimeoutMs = 600000;

// delete: one PROTO EXT_PORT pair; a range A-B when lastPort > externalPort.
struct cPortSpan {
    std::string protocol;
    int externalPort = 0;
    int lastPort = 0;
};

struct cCommandLine {
    eCommand command = eCommand::List;
    bool json = false;
    int timeoutMs = kDefaultTimeoutMs;
    // add: the texts as given; an omitted CLIENT stays empty with clientGiven
    // false (this host's address is known only after discovery).
    cPortInput addInput;
    bool clientGiven = false;
    // add: how many ports from EXT_PORT on (a range A-B); 1 for one port.
    int addCount = 1;
    // add --any-port: another external port where the one asked is taken.
    bool anyPort = false;
    // The gateway to use without a search (a description URL), and the one
    // interface to search through (a name or an address); empty: none given.
    std::string gatewayUrl;
    std::string interfaceName;
    // Search even when a gateway is remembered.
    bool rediscover = false;
    // help: the text to print (the usage, or one command's help).
    std::string helpText;
    // Where the remembered gateway is kept; empty: nowhere (main fills it in).
    std::string rememberedPath;
    // add: the lease asked for, in seconds (0: as long as the gateway allows).
    int leaseSeconds = 0;
    bool leaseGiven = false;
    eProtocolChoice protocol = eProtocolChoice::kAuto;
    // delete: protocol and external port of each pair, in order.
    std::vector<cPortSpan> deletions;
    // keep: the file and its options.
    cKeepOptions keep;
    cPinholeCommand pinhole;
};

// Reads the arguments after the program name. Add and delete operands are
// checked here, so that bad input fails before the network wait. On failure
// `error` holds a short message.
bool ParseCommandLine(const std::vector<std::string>& args, cCommandLine& out, std::string& error);

const char* UsageText();
