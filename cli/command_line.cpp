#include "cli/command_line.h"

#include <cstddef>
#include <cstdint>

#include <CLI/CLI.hpp>

#include "mapping/mapping.h"
#include "mapping/port_range.h"
#include "net/url.h"
#include "support/text.h"

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
    {"status", eCommand::Status},
    {"gateways", eCommand::Gateways},
    {"doctor", eCommand::Doctor},
    {"keep", eCommand::Keep},
    {"pinhole", eCommand::Pinhole},
};

constexpr std::size_t kAddMinOperands = 2;
constexpr std::size_t kAddMaxOperands = 5;
constexpr int kMaxPort = 65535;

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
        error = "add takes PROTO EXT_PORT|A-B [CLIENT [INT_PORT [COMMENT]]]";
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
    if (!ReadProtocol(input.protocol, protocol)) {
        error = "protocol must be TCP or UDP: " + input.protocol;
        return false;
    }
    int first = 0;
    int last = 0;
    if (!ReadPortWord(input.externalPort, first, last)) {
        error = "external port must be 1-65535, or a range A-B with A <= B: " + input.externalPort;
        return false;
    }
    out.addCount = last - first + 1;
    if (out.addCount > kMaxRangePorts) {
        error = "a range holds at most " + DecimalText(kMaxRangePorts) +
                " ports: " + input.externalPort;
        return false;
    }
    if (out.anyPort && out.addCount > 1) {
        error = "--any-port takes one port, not a range";
        return false;
    }
    input.externalPort = DecimalText(first);
    if (operands.size() <= 3)
        input.internalPort = input.externalPort;
    int internalFirst = 0;
    int internalLast = 0;
    if (!ReadPortWord(input.internalPort, internalFirst, internalLast) ||
        internalLast != internalFirst) {
        error = "internal port must be 1-65535: " + input.internalPort;
        return false;
    }
    if (internalFirst + out.addCount - 1 > kMaxPort) {
        error = "the range's internal ports would pass 65535: " + input.internalPort;
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
        cPortSpan span;
        if (!ReadProtocol(operands[i], span.protocol)) {
            error = "protocol must be TCP or UDP: " + operands[i];
            return false;
        }
        if (!ReadPortWord(operands[i + 1], span.externalPort, span.lastPort)) {
            error = "external port must be 1-65535, or a range A-B with A <= B: " + operands[i + 1];
            return false;
        }
        if (span.lastPort - span.externalPort + 1 > kMaxRangePorts) {
            error = "a range holds at most " + DecimalText(kMaxRangePorts) +
                    " ports: " + operands[i + 1];
            return false;
        }
        out.deletions.push_back(span);
    }
    return true;
}

// An IPv6 address literal, kept in its canonical text.
bool ReadIpv6Address(const std::string& text, std::string& out) {
    std::uint8_t bytes[16];
    if (!ParseIpv6Literal(text, bytes))
        return false;
    out = Ipv6Text(bytes);
    return true;
}

bool IsDecimal(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// pinhole add PROTO PORT [ADDRESS] [--lease S] [--remote HOST [PORT]],
// pinhole delete ID, pinhole update ID --lease S, pinhole check ID.
bool ParsePinhole(const std::vector<std::string>& operands, cCommandLine& out,
                  std::string& error) {
    static const char* const kUsage =
        "pinhole takes add PROTO PORT [ADDRESS] [--lease S] [--remote HOST [PORT]], delete ID, "
        "update ID --lease S or check ID";
    if (operands.empty()) {
        error = kUsage;
        return false;
    }
    cPinholeCommand& command = out.pinhole;
    const std::string& action = operands[0];
    if (action == "add")
        command.action = ePinholeAction::kAdd;
    else if (action == "delete")
        command.action = ePinholeAction::kDelete;
    else if (action == "update")
        command.action = ePinholeAction::kUpdate;
    else if (action == "check")
        command.action = ePinholeAction::kCheck;
    else {
        error = kUsage;
        return false;
    }
    std::vector<std::string> words;
    for (std::size_t i = 1; i < operands.size(); ++i) {
        const std::string& word = operands[i];
        const bool hasValue = i + 1 < operands.size();
        if (word == "--lease" && (command.action == ePinholeAction::kAdd ||
                                  command.action == ePinholeAction::kUpdate)) {
            if (!hasValue || !ReadBounded(operands[i + 1], kMinPinholeLeaseSeconds,
                                          kMaxPinholeLeaseSeconds, command.pinhole.leaseSeconds)) {
                error = "--lease needs seconds, 1-86400";
                return false;
            }
            out.leaseGiven = true;
            ++i;
        } else if (word == "--remote" && command.action == ePinholeAction::kAdd) {
            if (!hasValue || !ReadIpv6Address(operands[i + 1], command.pinhole.remoteHost)) {
                error = "--remote needs an IPv6 address";
                return false;
            }
            ++i;
            if (i + 1 < operands.size() && IsDecimal(operands[i + 1])) {
                if (!ReadPort(operands[i + 1], command.pinhole.remotePort)) {
                    error = "remote port must be 1-65535: " + operands[i + 1];
                    return false;
                }
                ++i;
            }
        } else if (!word.empty() && word[0] == '-' && word.size() > 1) {
            error = "unknown option " + word;
            return false;
        } else {
            words.push_back(word);
        }
    }
    if (command.action != ePinholeAction::kAdd) {
        int id = 0;
        if (words.size() != 1 || !ReadBounded(words[0], 0, 65535, id)) {
            error = "pinhole " + action + " takes one pinhole ID, 0-65535";
            return false;
        }
        if (command.action == ePinholeAction::kUpdate && !out.leaseGiven) {
            error = "pinhole update needs --lease S";
            return false;
        }
        command.uniqueId = DecimalText(id);
        return true;
    }
    if (words.size() < 2 || words.size() > 3) {
        error = "pinhole add takes PROTO PORT [ADDRESS]";
        return false;
    }
    if (!ReadProtocol(words[0], command.pinhole.protocol)) {
        error = "protocol must be TCP or UDP: " + words[0];
        return false;
    }
    if (!ReadPort(words[1], command.pinhole.internalPort)) {
        error = "port must be 1-65535: " + words[1];
        return false;
    }
    if (words.size() == 3 && !ReadIpv6Address(words[2], command.pinhole.internalClient)) {
        error = "the pinhole's address must be an IPv6 address: " + words[2];
        return false;
    }
    return true;
}

// Where the command word stands: the first word that is neither an option nor
// an option's value; args.size() when there is none.
std::size_t FindCommand(const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--timeout" || args[i] == "--gateway" || args[i] == "--interface" ||
            args[i] == "--protocol")
            ++i;
        else if (args[i].empty() || args[i][0] != '-')
            return i;
    }
    return args.size();
}

// Commands whose operands are free text (a comment may start with "--"): the
// words after them are read here, not by the option parser.
bool TakesFreeOperands(const std::string& word) {
    return word == "add" || word == "delete" || word == "keep" || word == "pinhole";
}

// The option parser: the global options, one subcommand each with its own
// --help. The values are read and checked afterwards, with this program's
// messages.
struct cParser {
    CLI::App app{"Finds the UPnP Internet gateway on the local network and lists, adds or "
                 "deletes its port mappings.",
                 "wendrel-cli"};
    bool json = false;
    bool rediscover = false;
    bool version = false;
    std::string timeout;
    std::string gateway;
    std::string interfaceName;
    std::string lease;
    std::string protocol;
    // For the help texts only: the operands are read by this program's rules.
    std::string shownOperand[5];
    std::vector<std::string> shownPairs;

    cParser() {
        app.set_help_flag("-h,--help", "Print this help and exit");
        app.add_flag("--version", version, "Print the version and exit");
        app.add_flag("--json", json, "Write the result as one JSON object");
        app.add_option("--timeout", timeout, "Wait this long for the gateway's answer (ms)")
            ->type_name("MS");
        app.add_option("--gateway", gateway, "Use the gateway described at URL, without a search")
            ->type_name("URL");
        app.add_option("--interface", interfaceName, "Search through this interface only")
            ->type_name("NAME|ADDRESS");
        app.add_flag("--rediscover", rediscover, "Search even when a gateway is remembered");
        app.add_option("--protocol", protocol,
                       "Speak UPnP IGD, PCP or NAT-PMP; auto: whichever answers (default)")
            ->type_name("upnp|pcp|natpmp|auto");
        app.require_subcommand(0, 1);
        for (const cCommandName& entry : kCommands) {
            CLI::App* command = app.add_subcommand(entry.name, Summary(entry.command));
            command->fallthrough();
            if (entry.command == eCommand::Add) {
                command->add_option("PROTO", shownOperand[0], "TCP or UDP");
                command->add_option("EXT_PORT", shownOperand[1],
                                    "The gateway's port, 1-65535, or a range A-B (1024 at most)");
                command->add_option("CLIENT", shownOperand[2],
                                    "The internal host (default: this host)");
                command->add_option("INT_PORT", shownOperand[3],
                                    "Its port, the first of a range (default: EXT_PORT)");
                command->add_option("COMMENT", shownOperand[4], "The mapping's description");
                command->add_option("--lease", lease, "Seconds, 0-604800 (default 0)")
                    ->type_name("SECONDS");
                command->add_flag("--any-port",
                                  "Take another external port when this one is taken");
            } else if (entry.command == eCommand::Keep) {
                command->add_option("FILE", shownOperand[0],
                                    "One mapping a line, in add's words (CLIENT @: this host)");
                command->add_flag("--once", "Add them, then exit: 0 when all are in place");
                command->add_option("--lease", lease, "Seconds, 0-604800 (default 3600)")
                    ->type_name("SECONDS");
                command->add_option("--check", lease, "Seconds between checks (default 30)")
                    ->type_name("SECONDS");
            } else if (entry.command == eCommand::Pinhole) {
                command->add_option("ACTION", shownOperand[0],
                                    "add PROTO PORT [ADDRESS] [--lease S] [--remote HOST [PORT]],\n"
                                    "delete ID, update ID --lease S, or check ID");
                command->add_option("--lease", lease,
                                    "Seconds, 1-86400 (default 3600; add and update)")
                    ->type_name("SECONDS");
                command->add_option("--remote", shownOperand[1],
                                    "Only from this IPv6 host (and port); default: any")
                    ->type_name("HOST [PORT]");
            } else if (entry.command == eCommand::Delete) {
                command->add_option("PROTO EXT_PORT", shownPairs,
                                    "One or more pairs: TCP or UDP, then the port or a range A-B");
            }
        }
    }

    static const char* Summary(eCommand command) {
        switch (command) {
        case eCommand::List: return "List the gateway's port mappings (the default)";
        case eCommand::Add: return "Add a port mapping";
        case eCommand::Delete: return "Delete port mappings";
        case eCommand::ExternalIp: return "Print the gateway's external address";
        case eCommand::Status: return "Show the gateway's connection and link status";
        case eCommand::Gateways: return "List every gateway that answers";
        case eCommand::Doctor: return "Explain what a search finds, and what to try";
        case eCommand::Keep: return "Hold the mappings listed in FILE open";
        case eCommand::Pinhole: return "Open, renew, check or close an IPv6 pinhole";
        case eCommand::Help:
        case eCommand::Version: break;
        }
        return "";
    }

    CLI::App* Command(eCommand command) {
        for (const cCommandName& entry : kCommands)
            if (entry.command == command)
                return app.get_subcommand(entry.name);
        return &app;
    }
};

// The option parser's refusal in this program's words.
std::string Refusal(const CLI::ParseError& failure, bool commandGiven) {
    const std::string what = failure.what();
    const std::string marker = "expected: ";
    const std::size_t at = what.find(marker);
    if (dynamic_cast<const CLI::ExtrasError*>(&failure) && at != std::string::npos) {
        const std::string word = what.substr(at + marker.size(), what.find(' ', at + marker.size()) -
                                                                     (at + marker.size()));
        if (!word.empty() && word[0] == '-')
            return "unknown option " + word;
        return (commandGiven ? "unexpected argument " : "unknown command ") + word;
    }
    return what;
}

// One command's help, under the program's name and with the options that
// go before any command.
std::string CommandHelp(CLI::App& command) {
    std::string help = command.help();
    const std::string usage = "Usage: " + command.get_name();
    if (help.find(usage) != std::string::npos)
        help.replace(help.find(usage), usage.size(),
                     "Usage: wendrel-cli [GLOBAL OPTIONS] " + command.get_name());
    return help + "\nGlobal options: --json, --timeout MS, --gateway URL, --interface "
                  "NAME|ADDRESS, --rediscover,\n"
                  "--protocol upnp|pcp|natpmp|auto (see wendrel-cli --help).\n";
}

} // namespace

bool ParseCommandLine(const std::vector<std::string>& args, cCommandLine& out, std::string& error) {
    cCommandLine line;
    const std::size_t commandAt = FindCommand(args);
    const bool freeOperands = commandAt < args.size() && TakesFreeOperands(args[commandAt]);
    std::vector<std::string> parsed(args.begin(), freeOperands ? args.begin() + commandAt + 1
                                                                : args.end());
    const std::vector<std::string> operands(
        freeOperands ? args.begin() + commandAt + 1 : args.end(), args.end());

    cParser parser;
    try {
        std::vector<std::string> reversed(parsed.rbegin(), parsed.rend());
        parser.app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        line.command = eCommand::Help;
        const std::vector<CLI::App*> chosen = parser.app.get_subcommands();
        line.helpText = chosen.empty() ? UsageText() : CommandHelp(*chosen.front());
        out = line;
        return true;
    } catch (const CLI::ParseError& failure) {
        error = Refusal(failure, commandAt < args.size() && !parser.app.get_subcommands().empty());
        return false;
    }
    const std::vector<CLI::App*> chosen = parser.app.get_subcommands();
    for (const cCommandName& entry : kCommands)
        if (!chosen.empty() && chosen.front()->get_name() == entry.name)
            line.command = entry.command;
    if (parser.version) {
        line.command = eCommand::Version;
        out = line;
        return true;
    }
    // "add --help": the operands are free text, so the help is asked for here.
    if (freeOperands && !operands.empty() && (operands[0] == "--help" || operands[0] == "-h")) {
        line.helpText = CommandHelp(*parser.Command(line.command));
        line.command = eCommand::Help;
        out = line;
        return true;
    }
    line.json = parser.json;
    line.rediscover = parser.rediscover;
    if (!parser.timeout.empty() || parser.app.count("--timeout")) {
        if (!ReadBounded(parser.timeout, 1, kMaxTimeoutMs, line.timeoutMs)) {
            error = "--timeout needs milliseconds, 1-600000";
            return false;
        }
    }
    if (parser.app.count("--gateway")) {
        if (!ReadGatewayUrl(parser.gateway)) {
            error = "--gateway needs a description URL, http:// on an IPv4 address";
            return false;
        }
        line.gatewayUrl = parser.gateway;
    }
    if (parser.app.count("--interface")) {
        if (parser.interfaceName.empty()) {
            error = "--interface needs an interface name or address";
            return false;
        }
        line.interfaceName = parser.interfaceName;
    }

    if (parser.app.count("--protocol")) {
        const struct {
            const char* name;
            eProtocolChoice choice;
        } kProtocols[] = {{"auto", eProtocolChoice::kAuto},
                          {"upnp", eProtocolChoice::kUpnp},
                          {"pcp", eProtocolChoice::kPcp},
                          {"natpmp", eProtocolChoice::kNatPmp}};
        bool known = false;
        for (const auto& entry : kProtocols)
            if (parser.protocol == entry.name) {
                line.protocol = entry.choice;
                known = true;
            }
        if (!known) {
            error = "--protocol needs upnp, pcp, natpmp or auto";
            return false;
        }
        if (!line.gatewayUrl.empty() && (line.protocol == eProtocolChoice::kPcp ||
                                         line.protocol == eProtocolChoice::kNatPmp)) {
            error = "--gateway names a UPnP description; PCP and NAT-PMP use the default gateway";
            return false;
        }
    }

    std::vector<std::string> words;
    for (std::size_t i = 0; i < operands.size(); ++i) {
        if (line.command == eCommand::Add && operands[i] == "--lease") {
            if (i + 1 == operands.size() ||
                !ReadBounded(operands[i + 1], 0, kMaxLeaseSeconds, line.leaseSeconds)) {
                error = "--lease needs seconds, 0-604800";
                return false;
            }
            line.leaseGiven = true;
            ++i;
        } else if (line.command == eCommand::Add && operands[i] == "--any-port") {
            line.anyPort = true;
        } else {
            words.push_back(operands[i]);
        }
    }
    if (line.command == eCommand::Add && !ParseAdd(words, line, error))
        return false;
    if (line.command == eCommand::Delete && !ParseDelete(words, line, error))
        return false;
    if (line.command == eCommand::Pinhole) {
        if (!ParsePinhole(operands, line, error))
            return false;
        // Pinholes are UPnP's, and the gateway is searched for over IPv6.
        if (!line.gatewayUrl.empty()) {
            error = "pinhole searches for the gateway over IPv6; --gateway does not apply";
            return false;
        }
        if (line.protocol == eProtocolChoice::kPcp || line.protocol == eProtocolChoice::kNatPmp) {
            error = "pinholes are opened over UPnP only";
            return false;
        }
    }
    if (line.command == eCommand::Keep) {
        for (std::size_t i = 0; i < operands.size(); ++i)
            if (!TakeKeepArgument(operands, i, line.keep, error))
                return false;
        if (!CheckKeepOptions(line.keep, error))
            return false;
    }
    out = line;
    return true;
}

const char* UsageText() {
    return "Usage:\n"
           "  wendrel-cli [--json] [--timeout MS] [list]\n"
           "  wendrel-cli [--json] [--timeout MS] add PROTO EXT_PORT [CLIENT [INT_PORT "
           "[COMMENT]]]\n"
           "              [--lease SECONDS] [--any-port]\n"
           "  wendrel-cli [--json] [--timeout MS] add PROTO A-B [CLIENT [INT_START [COMMENT]]]\n"
           "              [--lease SECONDS]\n"
           "  wendrel-cli [--json] [--timeout MS] delete PROTO EXT_PORT|A-B [PROTO EXT_PORT ...]\n"
           "  wendrel-cli [--json] [--timeout MS] external-ip\n"
           "  wendrel-cli [--json] [--timeout MS] status\n"
           "  wendrel-cli [--json] [--timeout MS] gateways\n"
           "  wendrel-cli [--json] [--timeout MS] doctor\n"
           "  wendrel-cli [--json] [--timeout MS] keep FILE [--once] [--lease SECONDS]\n"
           "              [--check SECONDS]\n"
           "  wendrel-cli [--json] [--timeout MS] pinhole add PROTO PORT [ADDRESS]\n"
           "              [--lease SECONDS] [--remote HOST [PORT]]\n"
           "  wendrel-cli [--json] [--timeout MS] pinhole delete|check ID\n"
           "  wendrel-cli [--json] [--timeout MS] pinhole update ID --lease SECONDS\n"
           "  wendrel-cli --help | --version\n"
           "\n"
           "Finds the UPnP Internet gateway on the local network and lists, adds or\n"
           "deletes its port mappings. PROTO is TCP or UDP; ports are 1-65535. CLIENT\n"
           "defaults to this host's address towards the gateway, INT_PORT to EXT_PORT.\n"
           "A range A-B (at most 1024 ports) maps A..B to INT_START on; it is added\n"
           "whole or not at all. delete of a range deletes this host's mappings in it,\n"
           "never another host's. --any-port takes another external port when the one\n"
           "asked for is taken (AddAnyPortMapping, else the next 15 ports) and prints it.\n"
           "--timeout bounds the wait for the gateway's answer (default 5000 ms).\n"
           "\n"
           "Finding the gateway: the one found last time is checked first (its\n"
           "description must answer within 0.5 s with the same UDN), else a search runs.\n"
           "  --gateway URL        use the gateway described at URL, without a search\n"
           "  --interface NAME     search through this interface (a name or address)\n"
           "  --rediscover         search even when a gateway is remembered\n"
           "  --protocol P         upnp, pcp, natpmp or auto (default): auto searches for\n"
           "                       a UPnP gateway and asks the default gateway over PCP at\n"
           "                       once; UPnP wins, PCP when it alone answers (NAT-PMP when\n"
           "                       the PCP server speaks only that). PCP and NAT-PMP map to\n"
           "                       this host only, for a lease (default 7200 s), keep the\n"
           "                       comment on this host, and cannot list the gateway's table.\n"
           "gateways lists every gateway that answers; doctor explains a search and\n"
           "says whether the default gateway answers PCP or NAT-PMP.\n"
           "--lease asks for a mapping that ends after SECONDS (0-604800; default 0,\n"
           "as long as the gateway allows); a gateway that refuses the lease is asked\n"
           "again without one (725) or with 604800, then 3600 seconds (402, 724).\n"
           "\n"
           "keep holds the mappings listed in FILE open (one a line, in add's words;\n"
           "CLIENT @ or omitted: this host), each with a lease of --lease seconds\n"
           "(default 3600), checked every --check seconds (default 30) and restored\n"
           "when the gateway restarts (over PCP and NAT-PMP too: its epoch, ANNOUNCE);\n"
           "SIGHUP reads FILE again, SIGTERM deletes them.\n"
           "--once adds them and exits (3 when one is not in place).\n"
           "\n"
           "pinhole opens an inbound IPv6 pinhole in the gateway's firewall (its\n"
           "WANIPv6FirewallControl service) to PORT on ADDRESS (default: this host's\n"
           "global or unique-local address on the interface the gateway answered on)\n"
           "and prints its ID; delete closes it, update renews it, check asks whether\n"
           "it has seen traffic. The gateway is searched for over IPv6 (it takes a\n"
           "pinhole only from its own address). --lease: 1-86400 s (default 3600);\n"
           "--remote: only from that IPv6 host (and port; default: any).\n"
           "\n"
           "Exit status: 0 success, 1 no gateway found, 2 usage error or invalid\n"
           "input, 3 the gateway refused or the action failed.\n";
}
