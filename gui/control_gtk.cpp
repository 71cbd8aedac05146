#include "gui/control.h"

#include <cstring>

#include "gui/widgets_gtk.h"
#include "support/text.h"

namespace gui {

namespace {

// The longest a status text may wait for its paint; the frame clock normally
// paints within one frame (16 ms).
constexpr guint kPaintGuardMs = 500;

bool holdingInput = false;
GQueue heldEvents = G_QUEUE_INIT;

bool IsInput(const GdkEvent* event) {
    switch (event->type) {
    case GDK_BUTTON_PRESS:
    case GDK_2BUTTON_PRESS:
    case GDK_3BUTTON_PRESS:
    case GDK_BUTTON_RELEASE:
    case GDK_KEY_PRESS:
    case GDK_KEY_RELEASE:
    case GDK_SCROLL:
    case GDK_DELETE:
    case GDK_TOUCH_BEGIN:
    case GDK_TOUCH_UPDATE:
    case GDK_TOUCH_END:
    case GDK_TOUCH_CANCEL:
        return true;
    default:
        return false;
    }
}

void FilterEvent(GdkEvent* event, gpointer) {
    if (holdingInput && IsInput(event)) {
        g_queue_push_tail(&heldEvents, gdk_event_copy(event));
        return;
    }
    gtk_main_do_event(event);
}

void ReleaseHeldInput() {
    while (GdkEvent* event = static_cast<GdkEvent*>(g_queue_pop_head(&heldEvents))) {
        gdk_event_put(event);
        gdk_event_free(event);
    }
}

struct cPaintWait {
    bool painted = false;
    bool timedOut = false;
};

void OnAfterPaint(GdkFrameClock*, gpointer data) {
    static_cast<cPaintWait*>(data)->painted = true;
}

gboolean OnPaintGuard(gpointer data) {
    static_cast<cPaintWait*>(data)->timedOut = true;
    return G_SOURCE_REMOVE;
}

GtkWidget* BuildListView(GtkBox* parent) {
    GtkListStore* store = gtk_list_store_new(1, G_TYPE_BOOLEAN);
    GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
    g_object_unref(store);
    GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_IN);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_AUTOMATIC,
                                   GTK_POLICY_AUTOMATIC);
    gtk_container_add(GTK_CONTAINER(scroller), view);
    gtk_box_pack_start(parent, scroller, TRUE, TRUE, 0);
    gtk_widget_show_all(scroller);
    return view;
}

GtkWidget* BuildStatusBar(GtkBox* parent) {
    GtkWidget* bar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_pack_end(parent, bar, FALSE, FALSE, 0);
    gtk_widget_show(bar);
    return bar;
}

} // namespace

GtkWidget* BuildControl(const char* className, GtkBox* parent) {
    if (std::strcmp(className, kListViewClass) == 0)
        return BuildListView(parent);
    if (std::strcmp(className, kStatusBarClass) == 0)
        return BuildStatusBar(parent);
    return nullptr;
}

std::string ValidText(const char* text) {
    return text ? MakeValidUtf8(text) : std::string();
}

void PaintNow(GtkWidget* widget) {
    GtkWidget* top = gtk_widget_get_toplevel(widget);
    if (!top || !gtk_widget_get_mapped(top))
        return;
    GdkFrameClock* clock = gtk_widget_get_frame_clock(top);
    if (!clock)
        return;

    static bool filterInstalled = false;
    if (!filterInstalled) {
        gdk_event_handler_set(FilterEvent, nullptr, nullptr);
        filterInstalled = true;
    }

    cPaintWait wait;
    const gulong handler = g_signal_connect(clock, "after-paint", G_CALLBACK(OnAfterPaint), &wait);
    const guint guard = g_timeout_add(kPaintGuardMs, OnPaintGuard, &wait);
    gdk_frame_clock_request_phase(clock, GDK_FRAME_CLOCK_PHASE_PAINT);

    const bool wasHolding = holdingInput;
    holdingInput = true;
    while (!wait.painted && !wait.timedOut)
        g_main_context_iteration(nullptr, TRUE);
    holdingInput = wasHolding;

    g_signal_handler_disconnect(clock, handler);
    if (!wait.timedOut)
        g_source_remove(guard);
    gdk_display_flush(gtk_widget_get_display(top));
    if (!holdingInput)
        ReleaseHeldInput();
}

cControl::cControl(const char* className, unsigned long style, unsigned long exStyle)
    : className(className), style(style), exStyle(exStyle) {}

bool cControl::Create(tHandle parent, const cRect&, const char*, int) {
    GtkWidget* container = static_cast<GtkWidget*>(parent);
    if (!container || !GTK_IS_BOX(container))
        return false;
    GtkWidget* widget = BuildControl(className, GTK_BOX(container));
    if (!widget)
        return false;
    handle = widget;
    OnCreated();
    return true;
}

} // namespace gui
