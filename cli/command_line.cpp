#include "cli/command_line.h"

#include <cstddef>

#include "mapping/mapping.h"
#include "net/url.h"

namespace {

struct cCommandName {
    const char* name;
    eCommand command;
};

constexpr cCommandName kCommands[] = {
    {"list", eCommand::List},
    {"add", eCommand::Add},
    {"delete", eCommand::Delete},
    {"external-ip", eCommand::ExternalIp},
    {"gateways", eCommand::Gateways},
    {"doctor", eCommand::Doctor},
};

constexpr std::size_t kAddMinOperands = 2;
constexpr std::size_t kAddMaxOperands = 5;

// A plain decimal number from `least` to `most`.
bool ReadBounded(const std::string& text, int least, int most, int& out) {
    if (text.empty() || text.size() > 7)
        return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value < least || value > most)
        return false;
    out = value;
    return true;
}

// Options come before the command; list and external-ip take no operands, so
// their options may also follow it. add and delete take every later word as
// an operand (a comment may well start with "--"), but for add's --lease.
bool TakesOptionsAfter(eCommand command) {
    return command == eCommand::List || command == eCommand::ExternalIp ||
           command == eCommand::Gateways || command == eCommand::Doctor;
}

// --gateway takes a description URL: http:// on an IPv4 address.
bool ReadGatewayUrl(const std::string& text) {
    cHttpUrl url;
    return ParseHttpUrl(text, url) && IsIpv4Literal(url.host);
}

bool HasControlCharacter(const std::string& text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    return false;
}

bool ParseAdd(const std::vector<std::string>& operands, cCommandLine& out, std::string& error) {
    if (operands.size() < kAddMinOperands || operands.size() > kAddMaxOperands) {
        error = "add takes PROTO EXT_PORT [CLIENT [INT_PORT [COMMENT]]]";
        return false;
    }
    cPortInput& input = out.addInput;
    input.protocol = operands[0];
    input.externalPort = operands[1];
    out.clientGiven = operands.size() > 2;
    input.internalClient = out.clientGiven ? operands[2] : std::string();
    input.internalPort = operands.size() > 3 ? operands[3] : operands[1];
    input.description = operands.size() > 4 ? operands[4] : std::string();

    std::string protocol;
    int port = 0;
    if (!ReadProtocol(input.protocol, protocol)) {
        error = "protocol must be TCP or UDP: " + input.protocol;
        return false;
    }
    if (!ReadPort(input.externalPort, port)) {
        error = "external port must be 1-65535: " + input.externalPort;
        return false;
    }
    if (!ReadPort(input.internalPort, port)) {
        error = "internal port must be 1-65535: " + input.internalPort;
        return false;
    }
    if (out.clientGiven && input.internalClient.empty()) {
        error = "client address is empty";
        return false;
    }
    // XML cannot carry them, even escaped: the request would not parse.
    if (HasControlCharacter(input.internalClient) || HasControlCharacter(input.description)) {
        error = "client and comment must not contain control characters";
        return false;
    }
    return true;
}

bool ParseDelete(const std::vector<std::string>& operands, cCommandLine& out, std::string& error) {
    if (operands.empty() || operands.size() % 2 != 0) {
        error = "delete takes PROTO EXT_PORT pairs";
        return false;
    }
    for (std::size_t i = 0; i < operands.size(); i += 2) {
        cUPnP::cEntry entry;
        if (!ReadProtocol(operands[i], entry.protocol)) {
            error = "protocol must be TCP or UDP: " + operands[i];
            return false;
        }
        if (!ReadPort(operands[i + 1], entry.externalPort)) {
            error = "external port must be 1-65535: " + operands[i + 1];
            return false;
        }
        out.deletions.push_back(entry);
    }
    return true;
}

} // namespace

bool ParseCommandLine(const std::vector<std::string>& args, cCommandLine& out, std::string& error) {
    cCommandLine line;
    bool commandSeen = false;
    std::vector<std::string> operands;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool optionsAllowed = !commandSeen || TakesOptionsAfter(line.command);
        if (commandSeen && line.command == eCommand::Add && arg == "--lease") {
            if (i + 1 == args.size() ||
                !ReadBounded(args[i + 1], 0, kMaxLeaseSeconds, line.leaseSeconds)) {
                error = "--lease needs seconds, 0-604800";
                return false;
            }
            ++i;
        } else if (optionsAllowed && arg == "--json") {
            line.json = true;
        } else if (optionsAllowed && arg == "--timeout") {
            if (i + 1 == args.size() || !ReadBounded(args[i + 1], 1, kMaxTimeoutMs, line.timeoutMs)) {
                error = "--timeout needs milliseconds, 1-600000";
                return false;
            }
            ++i;
        } else if (optionsAllowed && arg == "--gateway") {
            if (i + 1 == args.size() || !ReadGatewayUrl(args[i + 1])) {
                error = "--gateway needs a description URL, http:// on an IPv4 address";
                return false;
            }
            line.gatewayUrl = args[++i];
        } else if (optionsAllowed && arg == "--interface") {
            if (i + 1 == args.size() || args[i + 1].empty()) {
                error = "--interface needs an interface name or address";
                return false;
            }
            line.interfaceName = args[++i];
        } else if (optionsAllowed && arg == "--rediscover") {
            line.rediscover = true;
        } else if (!commandSeen && (arg == "--help" || arg == "-h")) {
            line.command = eCommand::Help;
            out = line;
            return true;
        } else if (!commandSeen && arg == "--version") {
            line.command = eCommand::Version;
            out = line;
            return true;
        } else if (optionsAllowed && arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else if (!commandSeen) {
            bool known = false;
            for (const cCommandName& entry : kCommands) {
                if (arg == entry.name) {
                    line.command = entry.command;
                    known = true;
                }
            }
            if (!known) {
                error = "unknown command " + arg;
                return false;
            }
            commandSeen = true;
        } else {
            operands.push_back(arg);
        }
    }

    switch (line.command) {
    case eCommand::List:
    case eCommand::ExternalIp:
    case eCommand::Gateways:
    case eCommand::Doctor:
        if (!operands.empty()) {
            error = "unexpected argument " + operands.front();
            return false;
        }
        break;
    case eCommand::Add:
        if (!ParseAdd(operands, line, error))
            return false;
        break;
    case eCommand::Delete:
        if (!ParseDelete(operands, line, error))
            return false;
        break;
    case eCommand::Help:
    case eCommand::Version:
        break;
    }
    out = line;
    return true;
}

const char* UsageText() {
    return "Usage:\n"
           "  wendrel-cli [--json] [--timeout MS] [list]\n"
           "  wendrel-cli [--json] [--timeout MS] add PROTO EXT_PORT [CLIENT [INT_PORT [COMMENT]]]\n"
           "              [--lease SECONDS]\n"
           "  wendrel-cli [--json] [--timeout MS] delete PROTO EXT_PORT [PROTO EXT_PORT ...]\n"
           "  wendrel-cli [--json] [--timeout MS] external-ip\n"
           "  wendrel-cli [--json] [--timeout MS] gateways\n"
           "  wendrel-cli [--json] [--timeout MS] doctor\n"
           "  wendrel-cli --help | --version\n"
           "\n"
           "Finds the UPnP Internet gateway on the local network and lists, adds or\n"
           "deletes its port mappings. PROTO is TCP or UDP; ports are 1-65535. CLIENT\n"
           "defaults to this host's address towards the gateway, INT_PORT to EXT_PORT.\n"
           "--timeout bounds the wait for the gateway's answer (default 5000 ms).\n"
           "\n"
           "Finding the gateway: the one found last time is checked first (its\n"
           "description must answer within 0.5 s with the same UDN), else a search runs.\n"
           "  --gateway URL        use the gateway described at URL, without a search\n"
           "  --interface NAME     search through this interface (a name or address)\n"
           "  --rediscover         search even when a gateway is remembered\n"
           "gateways lists every gateway that answers; doctor explains a search.\n"
           "--lease asks for a mapping that ends after SECONDS (0-604800; default 0,\n"
           "as long as the gateway allows); a gateway that refuses the lease is asked\n"
           "again without one (725) or with 604800, then 3600 seconds (402, 724).\n"
           "\n"
           "Exit status: 0 success, 1 no gateway found, 2 usage error or invalid\n"
           "input, 3 the gateway refused or the action failed.\n";
}
