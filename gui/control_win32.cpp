#include "gui/control.h"

#include <cstdint>

#include <windows.h>

#include <commctrl.h>

#include "gui/ui_font_win32.h"

namespace gui {

namespace {

constexpr LONG kFontHeight = -12;
constexpr const char* kFontFace = "MS UI Gothic";

void InitCommonControlsOnce() {
    static const bool done = (InitCommonControls(), true);
    (void)done;
}

} // namespace

cUIFont::cUIFont() {
    LOGFONTA description{};
    description.lfHeight = kFontHeight;
    description.lfCharSet = SHIFTJIS_CHARSET;
    lstrcpynA(description.lfFaceName, kFontFace, LF_FACESIZE);
    font = CreateFontIndirectA(&description);
}

cUIFont::~cUIFont() {
    if (font)
        DeleteObject(font);
}

cUIFont& cUIFont::GetInstance() {
    static cUIFont instance;
    return instance;
}

void SetUIFont(HWND window) {
    SendMessageA(window, WM_SETFONT, reinterpret_cast<WPARAM>(cUIFont::GetInstance().font), FALSE);
}

cControl::cControl(const char* className, unsigned long style, unsigned long exStyle)
    : className(className), style(style), exStyle(exStyle) {}

bool cControl::Create(tHandle parent, const cRect& rect, const char* text, int id) {
    InitCommonControlsOnce();
    HWND window = CreateWindowExA(exStyle, className, text, style | WS_CHILD | WS_VISIBLE, rect.x,
                                  rect.y, rect.width, rect.height, static_cast<HWND>(parent),
                                  reinterpret_cast<HMENU>(static_cast<std::intptr_t>(id)),
                                  GetModuleHandleA(nullptr), nullptr);
    handle = window;
    if (!window)
        return false;
    SetUIFont(window);
    OnCreated();
    return true;
}

} // namespace gui
