#include "measure.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, std::strlen(field), field) == 0)
            return std::strtol(line.c_str() + std::strlen(field), nullptr, 10);
    return 0;
}

} // namespace

cChild cChild::Function(const std::function<int()>& body) {
    cChild child;
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        return child;
    child.start = Now();
    child.pid = fork();
    if (child.pid == 0) {
        // A forked child starts with its parent's peak: reset it, so that the
        // peak it reports is the growth caused by body.
        std::ofstream("/proc/self/clear_refs") << "5";
        const long base = StatusKb("VmRSS:");
        const int status = body();
        const std::string report =
            std::to_string(status) + " " + std::to_string(StatusKb("VmHWM:") - base) + "\n";
        // Without a report the parent counts the run as failed.
        const ssize_t written = write(pipeEnds[1], report.data(), report.size());
        (void)written;
        // No destructors, no exit handlers: the parent's threads live on there.
        _exit(status);
    }
    close(pipeEnds[1]);
    child.report = pipeEnds[0];
    return child;
}

cChild cChild::Program(const std::vector<std::string>& argv) {
    cChild child;
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        return child;
    child.start = Now();
    child.pid = fork();
    if (child.pid == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        std::vector<char*> args{const_cast<char*>(WENDREL_RUN_MEASURED_PATH)};
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    child.report = pipeEnds[0];
    return child;
}

cMeasured cChild::Wait(int limitMs) {
    cMeasured run;
    if (pid <= 0)
        return run;
    const double limit = start + limitMs / 1000.0;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (Now() > limit) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.seconds = Now() - start;
    run.exited = WIFEXITED(status);
    run.status = run.exited ? WEXITSTATUS(status) : -1;
    pid = -1;
    if (report >= 0) {
        // The status and peak the child or the launcher reported.
        char text[64] = {};
        const ssize_t got = read(report, text, sizeof text - 1);
        close(report);
        report = -1;
        long peakKb = 0;
        if (!run.exited || got <= 0 || std::sscanf(text, "%d %ld", &run.status, &peakKb) != 2)
            run.exited = false;
        run.exited = run.exited && run.status >= 0;
        run.peakMiB = peakKb / 1024.0;
    }
    return run;
}

std::string Describe(const cMeasured& run) {
    char text[128];
    std::snprintf(text, sizeof text, "%s %d after %.2f s, peak %.1f MiB",
                  run.exited ? "exit" : "KILLED/CRASHED", run.status, run.seconds, run.peakMiB);
    return text;
}
