// wendrel-fake-igd: the fake gateway and SSDP responder as a process, for
// programs that cannot host them in-process (the Windows build under Wine, a
// manual run of wendrel-cli). Runs only inside tests/in-private-netns:
//
//   tests/in-private-netns sh -c 'wendrel-fake-igd --mappings 3 & sleep 0.3; wendrel-cli list'
//
// Prints the description URL on its first line, then serves until SIGTERM or
// SIGINT, a close of stdin when it is a pipe, or --seconds (default 300).
// --disabled N marks mapping N disabled. --log FILE appends one line per
// request within 100 ms of its arrival: method, path, SOAP action and the
// arguments that name a mapping, e.g. "POST /ctl/IPConn DeletePortMapping TCP 10002".
// The add policy flags and --fault / --status give the refusals real gateways
// send and miniupnpd does not.
// --listing NAME answers GetListOfPortMappings with a listing no client
// should use (see ListingMode); --refuse ACTION answers that action 401;
// --status-value NAME=VALUE sets an output of the status actions.

#include <csignal>
#include <cstdio>
#include <fstream>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fake_gateway.h"
#include "fake_ssdp.h"
#include "private_netns.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void OnSignal(int) {
    stopRequested = 1;
}

int Usage() {
    std::fprintf(stderr, "usage: wendrel-fake-igd [--port N] [--mappings N] [--disabled N]"
                         " [--model TEXT] [--service TYPE] [--control TEXT] [--url-base TEXT]"
                         " [--seconds N] [--log FILE] [--max-lease N] [--only-permanent yes]"
                         " [--forget-adds yes] [--kept-description TEXT] [--fault CODE[:TEXT]]"
                         " [--status N] [--listing NAME] [--refuse ACTION]..."
                         " [--status-value NAME=VALUE]...\n");
    return 2;
}

bool ListingMode(const std::string& name, cFakeGateway::eListing& mode) {
    using eListing = cFakeGateway::eListing;
    static const std::pair<const char*, eListing> modes[] = {
        {"honest", eListing::kHonest},
        {"truncated", eListing::kTruncated},
        {"over-bound", eListing::kOverBound},
        {"too-many-entries", eListing::kTooManyEntries},
        {"endless", eListing::kEndless},
        {"stuck", eListing::kStuck},
        {"not-xml", eListing::kNotXml},
        {"wrong-root", eListing::kWrongRoot},
        {"bad-ports", eListing::kBadPorts},
        {"doubly-escaped", eListing::kDoublyEscaped},
        {"refused", eListing::kRefused},
    };
    for (const auto& [known, value] : modes)
        if (name == known) {
            mode = value;
            return true;
        }
    return false;
}

// The text of the first <name> element in a SOAP body, or "".
std::string Argument(const std::string& body, const std::string& name) {
    const std::string open = "<" + name + ">";
    const std::size_t start = body.find(open);
    if (start == std::string::npos)
        return "";
    const std::size_t end = body.find("</" + name + ">", start);
    if (end == std::string::npos)
        return "";
    return body.substr(start + open.size(), end - start - open.size());
}

void AppendRequests(const cFakeGateway& gateway, const std::string& path, std::size_t& written) {
    if (path.empty())
        return;
    const std::vector<cFakeGateway::cRequest> requests = gateway.Requests();
    if (requests.size() <= written)
        return;
    std::ofstream log(path, std::ios::app);
    for (; written < requests.size(); ++written) {
        const cFakeGateway::cRequest& request = requests[written];
        std::string line = request.method + " " + request.path;
        if (request.method == "POST") {
            line += " " + request.Action();
            for (const char* name : {"NewPortMappingIndex", "NewProtocol", "NewExternalPort"}) {
                const std::string value = Argument(request.body, name);
                if (!value.empty())
                    line += " " + value;
            }
        }
        log << line << "\n";
    }
}

} // namespace

int main(int argc, char** argv) {
    cFakeGateway::cOptions options;
    options.address = kTestInterfaceAddress;
    int mappings = 0;
    int disabled = -1;
    int seconds = 300;
    std::string logPath;
    cFakeGateway::cAddPolicy policy;
    int cannedStatus = 0;
    std::string cannedBody;
    cFakeGateway::cQueryAnswers queries;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (i + 1 >= argc)
            return Usage();
        const char* value = argv[++i];
        if (flag == "--port")
            options.port = static_cast<std::uint16_t>(std::atoi(value));
        else if (flag == "--mappings")
            mappings = std::atoi(value);
        else if (flag == "--model")
            options.modelName = value;
        else if (flag == "--service")
            options.serviceType = value;
        else if (flag == "--control")
            options.controlUrlText = value;
        else if (flag == "--url-base")
            options.urlBase = value;
        else if (flag == "--seconds")
            seconds = std::atoi(value);
        else if (flag == "--disabled")
            disabled = std::atoi(value);
        else if (flag == "--log")
            logPath = value;
        else if (flag == "--max-lease")
            policy.maxLease = std::atoi(value);
        else if (flag == "--only-permanent")
            policy.onlyPermanent = std::string(value) == "yes";
        else if (flag == "--forget-adds")
            policy.forget = std::string(value) == "yes";
        else if (flag == "--kept-description")
            policy.keptDescription = value;
        else if (flag == "--fault") // every action: CODE, or CODE:DESCRIPTION
            cannedStatus = 500, cannedBody = BuildFault(std::atoi(value), std::strchr(value, ':')
                                                                            ? std::strchr(value, ':') + 1
                                                                            : "");
        else if (flag == "--status") // every action: this status with an HTML body
            cannedStatus = std::atoi(value), cannedBody = "<html>error</html>";
        else if (flag == "--listing") {
            if (!ListingMode(value, queries.listing))
                return Usage();
        } else if (flag == "--refuse")
            queries.refused.insert(value);
        else if (flag == "--status-value" && std::strchr(value, '='))
            queries.status[std::string(value, std::strchr(value, '='))] =
                std::strchr(value, '=') + 1;
        else
            return Usage();
    }

    std::string why;
    if (!InPrivateTestNetns(why)) {
        std::fprintf(stderr, "wendrel-fake-igd: %s; run it through tests/in-private-netns\n",
                     why.c_str());
        return 77;
    }
    cFakeGateway gateway(options);
    cFakeSsdp ssdp;
    if (!gateway.IsRunning() || !ssdp.IsRunning()) {
        std::fprintf(stderr, "wendrel-fake-igd: cannot listen on %s\n", options.address.c_str());
        return 1;
    }
    std::vector<cFakeGateway::cMapping> table;
    for (int i = 0; i < mappings; ++i) {
        cFakeGateway::cMapping m;
        m.protocol = i % 2 ? "UDP" : "TCP";
        m.externalPort = 10000 + i;
        m.internalPort = 20000 + i;
        m.internalClient = kTestInterfaceAddress;
        m.description = "mapping " + std::to_string(i);
        m.enabled = i != disabled;
        table.push_back(m);
    }
    gateway.SetMappings(table);
    gateway.SetAddPolicy(policy);
    gateway.SetQueryAnswers(queries);
    if (cannedStatus)
        gateway.SetCannedReply(cannedStatus, cannedBody);
    ssdp.EchoSearches(gateway.GetDescriptionUrl());

    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    std::printf("%s\n", gateway.GetDescriptionUrl().c_str());
    std::fflush(stdout);

    // When stdin is a pipe, its close ends the run too (the parent went away).
    struct stat in {};
    bool watchStdin = fstat(STDIN_FILENO, &in) == 0 && S_ISFIFO(in.st_mode);
    std::size_t logged = 0;
    for (int waitedMs = 0; !stopRequested && waitedMs < seconds * 1000; waitedMs += 100) {
        AppendRequests(gateway, logPath, logged);
        pollfd entry{STDIN_FILENO, POLLIN, 0};
        if (watchStdin && poll(&entry, 1, 100) == 1) {
            char byte;
            if (read(STDIN_FILENO, &byte, 1) <= 0)
                watchStdin = false, stopRequested = 1;
        } else if (!watchStdin) {
            usleep(100 * 1000);
        }
    }
    AppendRequests(gateway, logPath, logged);
    std::fprintf(stderr, "wendrel-fake-igd: %zu requests served\n", gateway.RequestCount());
    return 0;
}
