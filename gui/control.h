#pragma once

#include "gui/window_base.h"
#include "support/no_copy.h"

namespace gui {

// A child control of the main window. The control goes with its parent: no
// destructor destroys it.
class cControl : public cWindowBase, no_copy {
  public:
    // Makes the control inside `parent` with `text`; `id` is the child id, 0
    // for none. Win32 places it at `rect` in the parent's client area; GTK
    // packs it into `parent` (a vertical box), whose layout replaces the rect.
    // True when the control exists afterwards.
    bool Create(tHandle parent, const cRect& rect, const char* text, int id);
    tHandle GetHandle() override { return handle; }

  protected:
    cControl(const char* className, unsigned long style, unsigned long exStyle);
    ~cControl() = default;

    // Runs once, right after the control was made.
    virtual void OnCreated() {}

    tHandle handle = nullptr;
    // The Win32 window class and styles the control is made from; the GTK
    // files build their widgets directly and only keep these for reference.
    const char* className;
    unsigned long style;
    unsigned long exStyle;
};

} // namespace gui
