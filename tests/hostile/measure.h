#pragma once

// Runs one client — a function in a forked child, or a program (through the
// run_measured launcher) — and measures how long it took and how much memory it
// used at its peak. Several may run at once; Wait kills one that outlives its
// limit.

#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

struct cMeasured {
    bool exited = false; // false: killed at the limit, or it crashed
    int status = -1;     // exit status
    double seconds = 0;
    double peakMiB = 0; // for a function: its growth over the child's size at the fork
};

class cChild {
  public:
    // The function's result becomes the child's exit status.
    static cChild Function(const std::function<int()>& body);
    static cChild Program(const std::vector<std::string>& argv);
    cMeasured Wait(int limitMs);

  private:
    pid_t pid = -1;
    int report = -1; // a program's launcher reports through this pipe
    double start = 0;
};

std::string Describe(const cMeasured& run);
