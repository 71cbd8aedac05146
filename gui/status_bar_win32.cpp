#include "gui/status_bar.h"

#include <vector>

#include <windows.h>

#include <commctrl.h>

namespace gui {

namespace {

constexpr unsigned long kStatusBarStyle = 0x10;

HWND Window(tHandle handle) {
    return static_cast<HWND>(handle);
}

} // namespace

cStatusBar::cStatusBar() : cControl(STATUSCLASSNAMEA, kStatusBarStyle, 0) {}

void cStatusBar::SetParts(const int* rightEdges, int count) {
    if (handle)
        SendMessageA(Window(handle), SB_SETPARTS, count, reinterpret_cast<LPARAM>(rightEdges));
}

void cStatusBar::SetText(int part, const char* text) {
    if (!handle)
        return;
    SendMessageA(Window(handle), SB_SETTEXTA, part, reinterpret_cast<LPARAM>(text));
    // The caller may block the only thread next: paint the text now.
    UpdateWindow(Window(handle));
}

std::string cStatusBar::GetText(int part) {
    if (!handle)
        return std::string();
    // Some implementations count characters rather than bytes; a character of
    // the code page takes at most two.
    const LRESULT length = SendMessageA(Window(handle), SB_GETTEXTLENGTHA, part, 0);
    std::vector<char> buffer(2 * LOWORD(length) + 1, '\0');
    SendMessageA(Window(handle), SB_GETTEXTA, part, reinterpret_cast<LPARAM>(buffer.data()));
    return std::string(buffer.data());
}

} // namespace gui
