#pragma once

namespace gui {

// A window system handle, opaque in the shared headers so that the window
// logic compiles unchanged on every platform: an HWND on Windows, a
// GtkWidget* with GTK. Only the platform files (*_win32.cpp, *_gtk.cpp) cast
// it back to the real type.
using tHandle = void*;

} // namespace gui

// A window placement: x, y, width, height (not right and bottom).
struct cRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Anything that has a window system handle. Never deleted through this base.
class cWindowBase {
  public:
    virtual gui::tHandle GetHandle() = 0;

  protected:
    cWindowBase() = default;
    ~cWindowBase() = default;
};
