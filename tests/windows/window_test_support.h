#pragma once

#include <functional>
#include <string>
#include <vector>

#include <windows.h>

// Runs this thread's messages until done() holds; false after timeoutMs.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs);
// Runs this thread's messages for ms milliseconds.
void Pump(int ms);

// The text of a window, or of a dialog's control.
std::string WindowText(HWND window);
std::string ControlText(HWND dialog, int id);

// A Wine path (Z:\...) for a path of the Linux side.
std::string WinePath(const std::string& unixPath);
// The lines of a text file (none when it cannot be read).
std::vector<std::string> ReadLines(const std::string& path);

// Acts on the modal windows of this thread (dialogs, message boxes) from a
// thread timer, which their own message loops dispatch: every 50 ms the
// current step is tried, and the next one follows once it returned true.
class cModalDriver {
  public:
    using tStep = std::function<bool()>;
    explicit cModalDriver(std::vector<tStep> steps);
    ~cModalDriver();
    cModalDriver(const cModalDriver&) = delete;
    cModalDriver& operator=(const cModalDriver&) = delete;

    bool Done() const { return next == steps.size(); }

  private:
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);

    std::vector<tStep> steps;
    std::size_t next = 0;
    UINT_PTR timer = 0;
};

// A top-level dialog-class window of this process with this title, or null.
HWND FindDialog(const char* title);
