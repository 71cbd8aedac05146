#include "cli/command_line.h"

#include <cstddef>

#include "mapping/mapping.h"

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
    {"keep", eCommand::Keep},
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
    return command == eCommand::List || command == eCommand::ExternalIp;
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
        if (commandSeen && line.command == eCommand::Keep) {
            if (!TakeKeepArgument(args, i, line.keep, error))
                return false;
        } else if (commandSeen && line.command == eCommand::Add && arg == "--lease") {
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
    case eCommand::Keep:
        if (!CheckKeepOptions(line.keep, error))
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
           "  wendrel-cli [--json] [--timeout MS] keep FILE [--once] [--lease SECONDS]\n"
           "              [--check SECONDS]\n"
           "  wendrel-cli --help | --version\n"
           "\n"
           "Finds the UPnP Internet gateway on the local network and lists, adds or\n"
           "deletes its port mappings. PROTO is TCP or UDP; ports are 1-65535. CLIENT\n"
           "defaults to this host's address towards the gateway, INT_PORT to EXT_PORT.\n"
           "--timeout bounds the wait for the gateway's answer (default 5000 ms).\n"
           "--lease asks for a mapping that ends after SECONDS (0-604800; default 0,\n"
           "as long as the gateway allows); a gateway that refuses the lease is asked\n"
           "again without one (725) or with 604800, then 3600 seconds (402, 724).\n"
           "\n"
           "keep holds the mappings listed in FILE open (one a line, in add's words;\n"
           "CLIENT @ or omitted: this host), each with a lease of --lease seconds\n"
           "(default 3600), checked every --check seconds (default 30) and restored\n"
           "when the gateway restarts; SIGHUP reads FILE again, SIGTERM deletes them.\n"
           "--once adds them and exits (3 when one is not in place).\n"
           "\n"
           "Exit status: 0 success, 1 no gateway found, 2 usage error or invalid\n"
           "input, 3 the gateway refused or the action failed.\n";
}
