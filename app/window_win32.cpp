#include "app/window_win32.h"

#include <cstdlib>
#include <typeinfo>

#include <cxxabi.h>

namespace {

// The object whose window is inside CreateWindowExA and has not yet had a
// message. Window creation does not nest, so one is enough.
cWindowImpl* creating = nullptr;

constexpr DWORD kFrameChangeFlags =
    SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED;

} // namespace

cWindowImpl::cWindowImpl() = default;

std::string cWindowImpl::ClassName() const {
    const char* mangled = typeid(*this).name();
    int status = 0;
    char* readable = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = status == 0 && readable ? readable : mangled;
    std::free(readable);
    return name;
}

bool cWindowImpl::Create(HWND parent, const cRect& rect) {
    if (hwnd)
        return true;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    const std::string className = ClassName();
    if (!RegisterWindowClass(instance, className.c_str()))
        return false;
    creating = this;
    HWND window = CreateWindowExA(exStyle, className.c_str(), title.c_str(), style, rect.x, rect.y,
                                  rect.width, rect.height, parent, menu, instance, nullptr);
    // A window that failed before its first message never took the pointer:
    // no later window may be bound to this object.
    if (creating == this)
        creating = nullptr;
    hwnd = window;
    return hwnd != nullptr;
}

void cWindowImpl::SetTitle(const char* text) {
    title = text;
    if (hwnd)
        SetWindowTextA(hwnd, title.c_str());
}

void cWindowImpl::SetStyle(DWORD bits) {
    style = bits;
    if (hwnd) {
        SetWindowLongA(hwnd, GWL_STYLE, static_cast<LONG>(bits));
        ApplyFrameChange();
    }
}

void cWindowImpl::SetExStyle(DWORD bits) {
    exStyle = bits;
    if (hwnd) {
        SetWindowLongA(hwnd, GWL_EXSTYLE, static_cast<LONG>(bits));
        ApplyFrameChange();
    }
}

void cWindowImpl::ApplyFrameChange() {
    if (hwnd)
        SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, kFrameChangeFlags);
}

bool cWindowImpl::RegisterWindowClass(HINSTANCE instance, const char* className) {
    WNDCLASSEXA existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExA(instance, className, &existing))
        return true;
    if (!icon)
        icon = LoadIconA(nullptr, IDI_APPLICATION);
    if (!smallIcon)
        smallIcon = icon;
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = InitialWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = icon;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(background));
    windowClass.lpszMenuName = menuName.c_str();
    windowClass.lpszClassName = className;
    windowClass.hIconSm = smallIcon;
    return RegisterClassExA(&windowClass) != 0;
}

// Pointer-sized slots: the object and the procedure do not fit in 32 bits on
// 64-bit Windows.
LRESULT CALLBACK InitialWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    cWindowImpl* object = creating;
    if (!object)
        return DefWindowProcA(window, message, wParam, lParam);
    object->hwnd = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc));
    creating = nullptr;
    return WindowProc(window, message, wParam, lParam);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* object = reinterpret_cast<cWindowImpl*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!object || object->hwnd != window)
        return DefWindowProcA(window, message, wParam, lParam);
    object->message = message;
    object->wParam = wParam;
    object->lParam = lParam;
    const LRESULT result = object->HandleMessage();
    // Everything from WM_NCDESTROY on goes to the default handling.
    if (message == WM_DESTROY)
        object->hwnd = nullptr;
    return result;
}
