#include <windows.h>

#include "app/port_window_win32.h"

// The command line and the show command are ignored; the window always opens
// in its normal state.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CoInitialize(nullptr);
    HWND window = static_cast<HWND>(cPortWindow::GetInstance().GetHandle());
    if (!window) {
        // Nothing could ever end the message loop.
        CoUninitialize();
        return 1;
    }
    ShowWindow(window, SW_SHOW);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    CoUninitialize();
    return 0;
}
