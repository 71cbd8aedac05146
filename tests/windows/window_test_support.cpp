#include "window_test_support.h"

#include <fstream>

namespace {

constexpr UINT kDriverPeriodMs = 50;
constexpr const char* kDialogClass = "#32770";

cModalDriver* activeDriver = nullptr;

struct cDialogSearch {
    const char* title;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<cDialogSearch*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[32] = "";
    GetClassNameA(window, className, sizeof className);
    if (process == GetCurrentProcessId() && std::string(className) == kDialogClass &&
        IsWindowVisible(window) && WindowText(window) == search->title) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done())
            return true;
        if (GetTickCount64() >= end)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

void Pump(int ms) {
    PumpUntil([] { return false; }, ms);
}

std::string WindowText(HWND window) {
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ControlText(HWND dialog, int id) {
    return WindowText(GetDlgItem(dialog, id));
}

std::string WinePath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

cModalDriver::cModalDriver(std::vector<tStep> steps) : steps(std::move(steps)) {
    activeDriver = this;
    timer = SetTimer(nullptr, 0, kDriverPeriodMs, OnTimer);
}

cModalDriver::~cModalDriver() {
    KillTimer(nullptr, timer);
    activeDriver = nullptr;
}

void CALLBACK cModalDriver::OnTimer(HWND, UINT, UINT_PTR, DWORD) {
    cModalDriver* driver = activeDriver;
    if (driver && !driver->Done() && driver->steps[driver->next]())
        ++driver->next;
}

HWND FindDialog(const char* title) {
    cDialogSearch search{title, nullptr};
    EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}
