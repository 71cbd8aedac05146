#include "gui/status_bar.h"

#include "gui/widgets_gtk.h"

#include <algorithm>
#include <vector>

namespace gui {

namespace {

// Parts are framed labels side by side. A label asks for one character of
// natural width and ellipsizes, so the frames' size requests alone decide the
// edges and a long text never pushes them.
constexpr int kLabelNaturalChars = 1;
constexpr int kLabelPadding = 2;

std::vector<GtkWidget*> Labels(tHandle handle) {
    std::vector<GtkWidget*> labels;
    GList* frames = gtk_container_get_children(GTK_CONTAINER(handle));
    for (GList* item = frames; item; item = item->next)
        labels.push_back(gtk_bin_get_child(GTK_BIN(item->data)));
    g_list_free(frames);
    return labels;
}

GtkWidget* Label(tHandle handle, int part) {
    if (!handle || part < 0)
        return nullptr;
    const std::vector<GtkWidget*> labels = Labels(handle);
    return part < static_cast<int>(labels.size()) ? labels[part] : nullptr;
}

} // namespace

cStatusBar::cStatusBar() : cControl(kStatusBarClass, 0x10, 0) {}

void cStatusBar::SetParts(const int* rightEdges, int count) {
    if (!handle)
        return;
    GtkContainer* bar = GTK_CONTAINER(handle);
    GList* old = gtk_container_get_children(bar);
    for (GList* item = old; item; item = item->next)
        gtk_widget_destroy(GTK_WIDGET(item->data));
    g_list_free(old);

    int left = 0;
    for (int part = 0; part < count; ++part) {
        GtkWidget* label = gtk_label_new("");
        gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
        gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
        gtk_label_set_max_width_chars(GTK_LABEL(label), kLabelNaturalChars);
        gtk_label_set_single_line_mode(GTK_LABEL(label), TRUE);
        gtk_widget_set_margin_start(label, kLabelPadding);
        gtk_widget_set_margin_end(label, kLabelPadding);
        GtkWidget* frame = gtk_frame_new(nullptr);
        gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_IN);
        gtk_container_add(GTK_CONTAINER(frame), label);
        // The last part takes the rest of the width, as a Win32 status bar
        // does with an edge beyond the window.
        const bool last = part == count - 1;
        if (!last)
            gtk_widget_set_size_request(frame, std::max(0, rightEdges[part] - left), -1);
        gtk_box_pack_start(GTK_BOX(bar), frame, last, TRUE, 0);
        gtk_widget_show_all(frame);
        left = rightEdges[part];
    }
}

void cStatusBar::SetText(int part, const char* text) {
    GtkWidget* label = Label(handle, part);
    if (!label)
        return;
    gtk_label_set_text(GTK_LABEL(label), ValidText(text).c_str());
    PaintNow(label);
}

std::string cStatusBar::GetText(int part) {
    GtkWidget* label = Label(handle, part);
    return label ? gtk_label_get_text(GTK_LABEL(label)) : std::string();
}

} // namespace gui
