#include "cli/keep_options.h"

#include "mapping/mapping.h"

namespace {

// A check more often than every second would only load the gateway; once a
// day still notices a lost mapping the same day.
constexpr int kMinCheckSeconds = 1;
constexpr int kMaxCheckSeconds = 86400;

bool ReadSeconds(const std::string& text, int least, int most, int& out) {
    if (text.empty() || text.size() > 7 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int value = std::stoi(text);
    if (value < least || value > most)
        return false;
    out = value;
    return true;
}

} // namespace

bool TakeKeepArgument(const std::vector<std::string>& args, std::size_t& at, cKeepOptions& out,
                      std::string& error) {
    const std::string& arg = args[at];
    const bool hasValue = at + 1 < args.size();
    if (arg == "--once") {
        out.once = true;
    } else if (arg == "--lease") {
        if (!hasValue || !ReadSeconds(args[at + 1], 0, kMaxLeaseSeconds, out.leaseSeconds)) {
            error = "--lease needs seconds, 0-604800";
            return false;
        }
        ++at;
    } else if (arg == "--check") {
        if (!hasValue ||
            !ReadSeconds(args[at + 1], kMinCheckSeconds, kMaxCheckSeconds, out.checkSeconds)) {
            error = "--check needs seconds, 1-86400";
            return false;
        }
        ++at;
    } else if (arg.size() > 1 && arg[0] == '-') {
        error = "unknown option " + arg + " for keep";
        return false;
    } else if (out.file.empty()) {
        out.file = arg;
    } else {
        error = "keep takes one FILE; unexpected " + arg;
        return false;
    }
    return true;
}

bool CheckKeepOptions(const cKeepOptions& options, std::string& error) {
    if (options.file.empty()) {
        error = "keep takes FILE [--once] [--lease SECONDS] [--check SECONDS]";
        return false;
    }
    return true;
}
