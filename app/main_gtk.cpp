#include <cstdio>

#include <gtk/gtk.h>

#include "app/port_window_gtk.h"

// The command line is ignored; the exit code is 0 once the window was closed.
int main() {
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "wendrel: cannot open the display\n");
        return 1;
    }
    gtk_widget_show(GTK_WIDGET(cPortWindow::GetInstance().GetHandle()));
    gtk_main();
    return 0;
}
