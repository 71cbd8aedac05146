#include <iostream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/remembered_gateway.h"
#include "pcp/mapping_store.h"
#include "upnp/upnp.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    cCommandLine line;
    std::string error;
    if (!ParseCommandLine(args, line, error)) {
        std::cerr << "wendrel-cli: " << error << "\nTry 'wendrel-cli --help'.\n";
        return kExitUsage;
    }
    if (line.command == eCommand::Help) {
        std::cout << line.helpText;
        return kExitOk;
    }
    if (line.command == eCommand::Version) {
        std::cout << "wendrel-cli (" WENDREL_PRODUCT_NAME ") " WENDREL_PRODUCT_VERSION
                     ", file version " WENDREL_FILE_VERSION "\n";
        return kExitOk;
    }
    line.rememberedPath = DefaultRememberedGatewayPath();
    cPcpSettings pcp;
    pcp.storePath = DefaultMappingStorePath();
    return RunCommand(line, cUPnP::GetInstance(), std::cout, std::cerr, &pcp);
}
