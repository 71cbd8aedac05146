#include "app/port_window_win32.h"

#include "app/add_port_dialog.h"
#include "app/file_version_win32.h"

namespace {

constexpr DWORD kExStyle = WS_EX_CONTROLPARENT | WS_EX_ACCEPTFILES;
constexpr const char* kIconName = "MAINICON";
constexpr const char* kMenuName = "MAINMENU";
constexpr int kBackground = COLOR_BTNFACE + 1;
// Used when the status bar has no window to measure.
constexpr int kFallbackStatusHeight = 10;

int CentredOrigin(int screen, int size) {
    const int origin = (screen - size) / 2;
    return origin < 0 ? 0 : origin;
}

} // namespace

cPortWindow& cPortWindow::GetInstance() {
    static cPortWindow instance;
    return instance;
}

cPortWindow::cPortWindow() : cWindow(new impl) {}

cPortWindow::impl::impl() {
    SetStyle(WS_OVERLAPPEDWINDOW);
    SetExStyle(kExStyle);
    icon = LoadIconA(GetModuleHandleA(nullptr), kIconName);
    menuName = kMenuName;
    background = kBackground;

    const cFileVersion version;
    SetTitle(MakeWindowTitle(version.productName.c_str(), version.productVersion.c_str(),
                             version.fileVersion.c_str())
                 .c_str());

    // Sized for the client area without the menu bar, which makes the list
    // area shorter by the menu's height.
    RECT frame = {0, 0, kClientWidth, kClientHeight};
    AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const cRect placement = {CentredOrigin(GetSystemMetrics(SM_CXMAXIMIZED), width),
                             CentredOrigin(GetSystemMetrics(SM_CYMAXIMIZED), height), width,
                             height};
    Create(nullptr, placement);
}

LRESULT cPortWindow::impl::HandleMessage() {
    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case kCommandAdd:
            AddMapping();
            return 0;
        case kCommandDelete:
            DeleteMappings();
            return 0;
        case kCommandRefresh:
            RefreshMappings();
            return 0;
        case kCommandExit:
            PostMessageA(hwnd, WM_CLOSE, 0, 0);
            return 0;
        default:
            return DefWindowProcA(hwnd, message, wParam, lParam);
        }
    case WM_CREATE:
        return OnCreate();
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_SIZE:
        return OnSize();
    case WM_TIMER:
        OnTimer();
        return 0;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

LRESULT cPortWindow::impl::OnCreate() {
    // Without its controls the window stays, empty, and never searches.
    if (CreateControls(hwnd))
        timerId = SetTimer(hwnd, kStartupTimerId, kStartupDelayMs, nullptr);
    return 0;
}

LRESULT cPortWindow::impl::OnSize() {
    const int width = LOWORD(lParam);
    const int height = HIWORD(lParam);
    HWND list = static_cast<HWND>(listView.GetHandle());
    HWND bar = static_cast<HWND>(statusBar.GetHandle());
    int barHeight = kFallbackStatusHeight;
    RECT barRect;
    if (GetWindowRect(bar, &barRect))
        barHeight = barRect.bottom - barRect.top;
    MoveWindow(list, 0, 0, width, height - barHeight, TRUE);
    MoveWindow(bar, 0, height - barHeight, width, barHeight, TRUE);
    return 0;
}

void cPortWindow::impl::KillStartupTimer() {
    KillTimer(hwnd, timerId);
}

bool cPortWindow::impl::ShowAddPortDialog(cUPnP::cEntry& entry) {
    return ::ShowAddPortDialog(hwnd, entry);
}
