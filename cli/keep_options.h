#pragma once

#include <string>
#include <vector>

// keep FILE [--once] [--lease SECONDS] [--check SECONDS]
struct cKeepOptions {
    std::string file;
    bool once = false;
    int leaseSeconds = 3600;
    int checkSeconds = 30;
};

// Takes the argument at args[at] (and the value after an option, moving
// `at` past it) for keep. False with `error` set on a bad word.
bool TakeKeepArgument(const std::vector<std::string>& args, std::size_t& at, cKeepOptions& out,
                      std::string& error);
// After the last word: the file is there.
bool CheckKeepOptions(const cKeepOptions& options, std::string& error);
