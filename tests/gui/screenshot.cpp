// Saves the whole X screen as a PNG after a delay: the demo's picture of the
// window running under Xvfb.
//   screenshot OUT.png [DELAY_MS]
#include <cstdio>
#include <cstdlib>

#include <gtk/gtk.h>

namespace {

constexpr int kDefaultDelayMs = 3000;

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT.png [DELAY_MS]\n", argv[0]);
        return 2;
    }
    const int delayMs = argc > 2 ? std::atoi(argv[2]) : kDefaultDelayMs;
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "screenshot: cannot open the display\n");
        return 1;
    }
    g_usleep(gulong(delayMs) * 1000);
    GdkWindow* root = gdk_get_default_root_window();
    GdkPixbuf* picture = gdk_pixbuf_get_from_window(root, 0, 0, gdk_window_get_width(root),
                                                    gdk_window_get_height(root));
    GError* error = nullptr;
    if (!picture || !gdk_pixbuf_save(picture, argv[1], "png", &error, nullptr)) {
        std::fprintf(stderr, "screenshot: %s\n", error ? error->message : "cannot grab the screen");
        return 1;
    }
    g_object_unref(picture);
    return 0;
}
