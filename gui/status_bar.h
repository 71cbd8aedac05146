#pragma once

#include <string>

#include "gui/control.h"

namespace gui {

// A status bar of parts, each with one line of text.
class cStatusBar : public cControl {
  public:
    cStatusBar();

    // `rightEdges` holds `count` right edges in pixels from the left; a text
    // never moves an edge.
    void SetParts(const int* rightEdges, int count);
    // The control copies the text. When the window is visible the text is
    // painted before this returns: the one thread may block right after it.
    void SetText(int part, const char* text);
    std::string GetText(int part);
};

} // namespace gui
