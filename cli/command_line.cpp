#include "cli/command_line.h"

#include <cstddef>

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
};

constexpr std::size_t kAddMinOperands = 2;
constexpr std::size_t kAddMaxOperands = 5;

bool ReadTimeout(const std::string& text, int& out) {
    if (text.empty() || text.size() > 7)
        return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > kMaxTimeoutMs)
        return false;
    out = value;
    return true;
}

// Options come before the command; list and external-ip take no operands, so
// their options may also follow it. add and delete take every later word as
// an operand (a comment may well start with "--").
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
        if (optionsAllowed && arg == "--json") {
            line.json = true;
        } else if (optionsAllowed && arg == "--timeout") {
            if (i + 1 == args.size() || !ReadTimeout(args[i + 1], line.timeoutMs)) {
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
    case eCommand::Help:
    case eCommand::Version:
        break;
    }
    if (line.json && (line.command == eCommand::Add || line.command == eCommand::Delete)) {
        error = "--json applies to list and external-ip only";
        return false;
    }
    out = line;
    return true;
}

const char* UsageText() {
    return "Usage:\n"
           "  wendrel-cli [--json] [--timeout MS] [list]\n"
           "  wendrel-cli [--timeout MS] add PROTO EXT_PORT [CLIENT [INT_PORT [COMMENT]]]\n"
           "  wendrel-cli [--timeout MS] delete PROTO EXT_PORT [PROTO EXT_PORT ...]\n"
           "  wendrel-cli [--json] [--timeout MS] external-ip\n"
           "  wendrel-cli --help | --version\n"
           "\n"
           "Finds the UPnP Internet gateway on the local network and lists, adds or\n"
           "deletes its port mappings. PROTO is TCP or UDP; ports are 1-65535. CLIENT\n"
           "defaults to this host's address towards the gateway, INT_PORT to EXT_PORT.\n"
           "--timeout bounds the wait for the gateway's answer (default 5000 ms).\n"
           "\n"
           "Exit status: 0 success, 1 no gateway found, 2 usage error or invalid\n"
           "input, 3 the gateway refused or the action failed.\n";
}
