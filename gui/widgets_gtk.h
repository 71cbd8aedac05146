#pragma once

#include <string>

#include <gtk/gtk.h>

namespace gui {

// The Win32 window classes the controls name; the GTK files build the matching
// widgets from them.
constexpr const char* kListViewClass = "SysListView32";
constexpr const char* kStatusBarClass = "msctls_statusbar32";

// The widgets behind a control of `className`, packed into `parent`: a tree
// view in a scrolled window for the list, a row of framed labels for the
// status bar. Returns the widget the control keeps, or null.
GtkWidget* BuildControl(const char* className, GtkBox* parent);

// GTK takes UTF-8 only: anything else is shown with U+FFFD in its place.
std::string ValidText(const char* text);

// Paints `widget`'s window now, so that a text set just before blocking work
// is on screen while the work runs. Input that arrives meanwhile is held and
// delivered after the current handler returns, as a window that pumps no
// messages would see it.
void PaintNow(GtkWidget* widget);

} // namespace gui
