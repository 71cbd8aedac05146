#include "gui_harness.h"

#include <cstdio>

namespace {

constexpr guint kPollMs = 20;
constexpr guint kIdleSleepUs = 1000;

std::vector<std::string> warnings;

GLogWriterOutput RecordWarnings(GLogLevelFlags level, const GLogField* fields, gsize count,
                                gpointer) {
    if (level & (G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_ERROR)) {
        std::string text;
        for (gsize i = 0; i < count; ++i) {
            if (g_strcmp0(fields[i].key, "MESSAGE") == 0 && fields[i].length < 0)
                text = static_cast<const char*>(fields[i].value);
            if (g_strcmp0(fields[i].key, "GLIB_DOMAIN") == 0 && fields[i].length < 0)
                text = std::string(static_cast<const char*>(fields[i].value)) + ": " + text;
        }
        warnings.push_back(text);
        std::fprintf(stderr, "logged: %s\n", text.c_str());
    }
    return g_log_writer_default(level, fields, count, nullptr);
}

std::vector<GtkWidget*> Children(GtkWidget* container) {
    std::vector<GtkWidget*> result;
    GList* children = gtk_container_get_children(GTK_CONTAINER(container));
    for (GList* item = children; item; item = item->next)
        result.push_back(GTK_WIDGET(item->data));
    g_list_free(children);
    return result;
}

} // namespace

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    const gint64 deadline = g_get_monotonic_time() + gint64(timeoutMs) * 1000;
    while (!done()) {
        if (g_get_monotonic_time() > deadline)
            return false;
        if (!g_main_context_iteration(nullptr, FALSE))
            g_usleep(kIdleSleepUs);
    }
    return true;
}

void Pump(int ms) {
    WaitUntil([] { return false; }, ms);
}

void InstallWarningRecorder() {
    g_log_set_writer_func(RecordWarnings, nullptr, nullptr);
}

std::vector<std::string> TakeWarnings() {
    std::vector<std::string> taken;
    taken.swap(warnings);
    return taken;
}

std::vector<GtkWidget*> StatusFrames(GtkWidget* bar) {
    return Children(bar);
}

std::vector<GtkWidget*> StatusLabels(GtkWidget* bar) {
    std::vector<GtkWidget*> labels;
    for (GtkWidget* frame : Children(bar))
        labels.push_back(gtk_bin_get_child(GTK_BIN(frame)));
    return labels;
}

cTextLog::cTextLog(GtkWidget* label) : label(label) {
    handler = g_signal_connect(label, "notify::label", G_CALLBACK(OnNotify), this);
}

cTextLog::~cTextLog() {
    g_signal_handler_disconnect(label, handler);
}

void cTextLog::OnNotify(GObject* label, GParamSpec*, gpointer self) {
    static_cast<cTextLog*>(self)->texts.push_back(gtk_label_get_text(GTK_LABEL(label)));
}

std::vector<cRow> ReadRows(GtkWidget* treeView) {
    GtkTreeModel* model = gtk_tree_view_get_model(GTK_TREE_VIEW(treeView));
    const int columns = gtk_tree_model_get_n_columns(model);
    std::vector<cRow> rows;
    GtkTreeIter iter;
    for (gboolean more = gtk_tree_model_get_iter_first(model, &iter); more;
         more = gtk_tree_model_iter_next(model, &iter)) {
        cRow row;
        gboolean checked = FALSE;
        gtk_tree_model_get(model, &iter, 0, &checked, -1);
        row.checked = checked;
        for (int column = 1; column < columns; ++column) {
            gchar* text = nullptr;
            gtk_tree_model_get(model, &iter, column, &text, -1);
            row.texts.push_back(text ? text : "");
            g_free(text);
        }
        rows.push_back(row);
    }
    return rows;
}

void ToggleRow(GtkWidget* treeView, int row) {
    GtkTreeViewColumn* first = gtk_tree_view_get_column(GTK_TREE_VIEW(treeView), 0);
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(first));
    for (GList* item = cells; item; item = item->next) {
        if (GTK_IS_CELL_RENDERER_TOGGLE(item->data)) {
            const std::string path = std::to_string(row);
            g_signal_emit_by_name(item->data, "toggled", path.c_str());
        }
    }
    g_list_free(cells);
}

GtkWindow* FindWindow(const char* title) {
    GtkWindow* found = nullptr;
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item; item = item->next) {
        GtkWindow* window = GTK_WINDOW(item->data);
        if (gtk_widget_get_visible(GTK_WIDGET(window)) &&
            g_strcmp0(gtk_window_get_title(window), title) == 0)
            found = window;
    }
    g_list_free(windows);
    return found;
}

GtkWidget* FindByName(GtkWidget* root, const std::string& name) {
    if (name == gtk_widget_get_name(root))
        return root;
    if (!GTK_IS_CONTAINER(root))
        return nullptr;
    for (GtkWidget* child : Children(root)) {
        if (GtkWidget* found = FindByName(child, name))
            return found;
    }
    return nullptr;
}

void SetEntryText(GtkWidget* dialog, int fieldId, const char* text) {
    GtkWidget* field = FindByName(dialog, std::to_string(fieldId));
    if (field && GTK_IS_ENTRY(field))
        gtk_entry_set_text(GTK_ENTRY(field), text);
}

std::string GetEntryText(GtkWidget* dialog, int fieldId) {
    GtkWidget* field = FindByName(dialog, std::to_string(fieldId));
    if (!field)
        return "<missing>";
    if (GTK_IS_COMBO_BOX_TEXT(field)) {
        gchar* text = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(field));
        std::string result = text ? text : "";
        g_free(text);
        return result;
    }
    return gtk_entry_get_text(GTK_ENTRY(field));
}

void ClickResponse(GtkWidget* dialog, int response) {
    GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), response);
    if (button)
        gtk_button_clicked(GTK_BUTTON(button));
}

void SendKey(GtkWidget* widget, guint keyval, GdkModifierType modifiers) {
    // The press alone: a release would reach a dialog the press has closed.
    gdk_test_simulate_key(gtk_widget_get_window(widget), -1, -1, keyval, modifiers, GDK_KEY_PRESS);
}

void SendDelete(GtkWidget* window) {
    GdkEvent* event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
    event->any.send_event = TRUE;
    gdk_event_put(event);
    gdk_event_free(event);
}

cDialogScript::cDialogScript() {
    source = g_timeout_add(kPollMs, OnPoll, this);
}

cDialogScript::~cDialogScript() {
    if (source)
        g_source_remove(source);
}

cDialogScript& cDialogScript::Then(const char* title, tAction action) {
    steps.push_back({title, std::move(action)});
    return *this;
}

gboolean cDialogScript::OnPoll(gpointer self) {
    cDialogScript* script = static_cast<cDialogScript*>(self);
    if (script->Finished())
        return G_SOURCE_CONTINUE;
    const cStep& step = script->steps[script->next];
    GtkWindow* window = FindWindow(step.title.c_str());
    if (window && gtk_widget_get_mapped(GTK_WIDGET(window))) {
        ++script->next;
        step.action(GTK_WIDGET(window));
    }
    return G_SOURCE_CONTINUE;
}
