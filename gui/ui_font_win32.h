#pragma once

#include <windows.h>

#include "support/no_copy.h"

namespace gui {

// The one font of every control: 12-pixel MS UI Gothic, Shift-JIS. Made on the
// first use, deleted at process exit.
class cUIFont : no_copy {
  public:
    cUIFont();
    ~cUIFont();

    static cUIFont& GetInstance();

    HFONT font;
};

// Gives `window` the shared font without redrawing it.
void SetUIFont(HWND window);

} // namespace gui
