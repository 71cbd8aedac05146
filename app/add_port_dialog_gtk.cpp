#include "app/add_port_dialog.h"

#include <string>

#include <gtk/gtk.h>

#include "app/add_port_input.h"
#include "support/text.h"

namespace {

constexpr int kGridSpacing = 6;
constexpr int kBorder = 8;
constexpr int kFieldChars = 16;

struct cField {
    const char* label;
    int id;
};

// Screen order, which is also the tab order.
constexpr cField kFields[] = {
    {kLabelProtocol, kFieldProtocol},
    {kLabelExternalPort, kFieldExternalPort},
    {kLabelInternalClient, kFieldInternalClient},
    {kLabelInternalPort, kFieldInternalPort},
    {kLabelDescription, kFieldDescription},
};

// Fields carry their control id as widget name, so that the dialog's text can
// be read by id as on Windows.
std::string FieldName(int id) {
    return DecimalText(id);
}

GtkWidget* MakeField(int id, const cAddPortInput& input) {
    if (id == kFieldProtocol) {
        GtkWidget* combo = gtk_combo_box_text_new();
        for (const char* protocol : kProtocols)
            gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo), protocol);
        gtk_combo_box_set_active(GTK_COMBO_BOX(combo), 0);
        return combo;
    }
    const std::string* text = id == kFieldExternalPort     ? &input.externalPort
                              : id == kFieldInternalClient ? &input.internalClient
                              : id == kFieldInternalPort   ? &input.internalPort
                                                           : &input.description;
    GtkWidget* entry = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(entry), MakeValidUtf8(*text).c_str());
    gtk_entry_set_width_chars(GTK_ENTRY(entry), kFieldChars);
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    return entry;
}

GtkWidget* FindField(GtkWidget* grid, int id) {
    const std::string name = FieldName(id);
    GtkWidget* found = nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(grid));
    for (GList* item = children; item && !found; item = item->next) {
        if (name == gtk_widget_get_name(GTK_WIDGET(item->data)))
            found = GTK_WIDGET(item->data);
    }
    g_list_free(children);
    return found;
}

// The field's current text; empty when the dialog has no such field.
std::string GetControlText(GtkWidget* grid, int id) {
    GtkWidget* field = FindField(grid, id);
    if (!field)
        return std::string();
    if (GTK_IS_COMBO_BOX_TEXT(field)) {
        gchar* text = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(field));
        std::string result = text ? text : "";
        g_free(text);
        return result;
    }
    return gtk_entry_get_text(GTK_ENTRY(field));
}

void ShowInvalidInput(GtkWidget* dialog) {
    GtkWidget* box = gtk_message_dialog_new(GTK_WINDOW(dialog), GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                            GTK_BUTTONS_OK, "%s", kInvalidInputText);
    gtk_window_set_title(GTK_WINDOW(box), kInvalidInputCaption);
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
}

// At the top-left corner of the owner's client area, below its menu bar.
void PlaceOver(GtkWidget* dialog, GtkWidget* owner) {
    GdkWindow* ownerWindow = owner ? gtk_widget_get_window(owner) : nullptr;
    if (!ownerWindow)
        return;
    int x = 0;
    int y = 0;
    gdk_window_get_origin(ownerWindow, &x, &y);
    if (GtkWidget* box = gtk_bin_get_child(GTK_BIN(owner))) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(box));
        if (children && GTK_IS_MENU_BAR(children->data))
            y += gtk_widget_get_allocated_height(GTK_WIDGET(children->data));
        g_list_free(children);
    }
    gtk_window_move(GTK_WINDOW(dialog), x, y);
}

} // namespace

bool ShowAddPortDialog(gui::tHandle owner, cUPnP::cEntry& entry) {
    GtkWidget* ownerWidget = static_cast<GtkWidget*>(owner);
    GtkWidget* dialog = gtk_dialog_new_with_buttons(
        kAddPortDialogTitle, ownerWidget ? GTK_WINDOW(ownerWidget) : nullptr,
        static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), kButtonOk,
        GTK_RESPONSE_OK, kButtonCancel, GTK_RESPONSE_CANCEL, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);

    const cAddPortInput defaults = DefaultAddPortInput();
    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), kGridSpacing);
    gtk_grid_set_column_spacing(GTK_GRID(grid), kGridSpacing);
    gtk_container_set_border_width(GTK_CONTAINER(grid), kBorder);
    int row = 0;
    GtkWidget* first = nullptr;
    for (const cField& fieldSpec : kFields) {
        GtkWidget* label = gtk_label_new(fieldSpec.label);
        gtk_label_set_xalign(GTK_LABEL(label), 1.0f);
        GtkWidget* field = MakeField(fieldSpec.id, defaults);
        gtk_widget_set_name(field, FieldName(fieldSpec.id).c_str());
        gtk_grid_attach(GTK_GRID(grid), label, 0, row, 1, 1);
        gtk_grid_attach(GTK_GRID(grid), field, 1, row, 1, 1);
        if (!first)
            first = field;
        ++row;
    }
    gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), grid);
    gtk_widget_show_all(grid);
    PlaceOver(dialog, ownerWidget);
    gtk_widget_grab_focus(first);

    bool confirmed = false;
    for (;;) {
        // Escape and the close box answer GTK_RESPONSE_DELETE_EVENT: a cancel.
        if (gtk_dialog_run(GTK_DIALOG(dialog)) != GTK_RESPONSE_OK)
            break;
        const cAddPortInput input =
            ReadAddPortInput([grid](int id) { return GetControlText(grid, id); });
        cUPnP::cEntry record;
        if (ValidateAddPortInput(input, record)) {
            entry = record;
            confirmed = true;
            break;
        }
        ShowInvalidInput(dialog);
    }
    gtk_widget_destroy(dialog);
    return confirmed;
}
