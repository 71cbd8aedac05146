#pragma once

#include <string>

#include <windows.h>

#include "gui/window_base.h"
#include "support/no_copy.h"
#include "support/smart_ptr.h"

// A top-level window bound to an object: the class is registered under the
// object's own class name, and every message of the window reaches
// HandleMessage with the message in the fields below.
class cWindowImpl : no_copy {
  public:
    cWindowImpl();
    virtual ~cWindowImpl() = default;

    // Handles `message`, `wParam`, `lParam` for `hwnd`; the window-procedure
    // result. A message sent to the window meanwhile overwrites the three
    // fields: read them before doing anything that may send one.
    virtual LRESULT HandleMessage() = 0;

    // Creates the window once; true when it exists afterwards.
    bool Create(HWND parent, const cRect& rect);
    void SetTitle(const char* text);
    void SetStyle(DWORD bits);
    void SetExStyle(DWORD bits);
    void ApplyFrameChange();
    // True when the class exists afterwards; an existing class is kept as is.
    bool RegisterWindowClass(HINSTANCE instance, const char* className);
    // The qualified name of the most derived class, as written in the source.
    std::string ClassName() const;

    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    HWND hwnd = nullptr;
    std::string menuName;
    int background = COLOR_WINDOW + 1;
    HICON icon = nullptr;
    HICON smallIcon = nullptr;
    std::string title;
    DWORD style = WS_OVERLAPPEDWINDOW;
    DWORD exStyle = 0;
    HMENU menu = nullptr;
};

// The class procedure: binds the window being created to its object at its
// first message, then hands over to WindowProc.
LRESULT CALLBACK InitialWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The procedure of a bound window.
LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The public face of a window: owns its implementation object.
class cWindow : public cWindowBase, no_copy {
  public:
    explicit cWindow(cWindowImpl* impl) : pimpl(impl) {}
    // The window, or null before creation and after WM_DESTROY.
    gui::tHandle GetHandle() override { return pimpl.Get() ? pimpl->hwnd : nullptr; }

  protected:
    smart_ptr<cWindowImpl> pimpl;
};
