#include "gui/list_view.h"

#include "gui/widgets_gtk.h"

#include <vector>

namespace gui {

namespace {

// Store layout: column 0 holds the check mark, column n + 1 the text of list
// column n. Rows carry no parameter: nothing reads it back.
constexpr int kCheckColumn = 0;
constexpr int kFirstTextColumn = 1;
constexpr const char* kCheckBoxesKey = "wendrel-check-boxes";

GtkTreeView* View(tHandle handle) {
    return GTK_TREE_VIEW(handle);
}

GtkListStore* Store(tHandle handle) {
    return GTK_LIST_STORE(gtk_tree_view_get_model(View(handle)));
}

bool RowIter(tHandle handle, int row, GtkTreeIter& iter) {
    return row >= 0 &&
           gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(Store(handle)), &iter, nullptr, row);
}

void OnToggled(GtkCellRendererToggle*, gchar* path, gpointer data) {
    GtkListStore* store = Store(data);
    GtkTreeIter iter;
    if (!gtk_tree_model_get_iter_from_string(GTK_TREE_MODEL(store), &iter, path))
        return;
    gboolean checked = FALSE;
    gtk_tree_model_get(GTK_TREE_MODEL(store), &iter, kCheckColumn, &checked, -1);
    gtk_list_store_set(store, &iter, kCheckColumn, !checked, -1);
}

// The check box sits in the first column, before its text, as in a Win32 list.
void AddCheckBox(GtkTreeView* view, GtkTreeViewColumn* column) {
    GtkCellRenderer* toggle = gtk_cell_renderer_toggle_new();
    gtk_cell_renderer_toggle_set_activatable(GTK_CELL_RENDERER_TOGGLE(toggle), TRUE);
    g_signal_connect(toggle, "toggled", G_CALLBACK(OnToggled), view);
    gtk_tree_view_column_pack_start(column, toggle, FALSE);
    gtk_cell_layout_reorder(GTK_CELL_LAYOUT(column), toggle, 0);
    gtk_tree_view_column_add_attribute(column, toggle, "active", kCheckColumn);
}

// A store's column types are fixed, so adding a column means a wider store.
void WidenStore(GtkTreeView* view, int textColumns) {
    GtkTreeModel* old = gtk_tree_view_get_model(view);
    std::vector<GType> types(kFirstTextColumn + textColumns, G_TYPE_STRING);
    types[kCheckColumn] = G_TYPE_BOOLEAN;
    GtkListStore* store = gtk_list_store_newv(static_cast<gint>(types.size()), types.data());
    const int oldColumns = gtk_tree_model_get_n_columns(old);
    GtkTreeIter from;
    for (gboolean more = gtk_tree_model_get_iter_first(old, &from); more;
         more = gtk_tree_model_iter_next(old, &from)) {
        GtkTreeIter to;
        gtk_list_store_append(store, &to);
        for (int column = 0; column < oldColumns; ++column) {
            GValue value = G_VALUE_INIT;
            gtk_tree_model_get_value(old, &from, column, &value);
            gtk_list_store_set_value(store, &to, column, &value);
            g_value_unset(&value);
        }
    }
    gtk_tree_view_set_model(view, GTK_TREE_MODEL(store));
    g_object_unref(store);
}

} // namespace

cListView::cListView() : cControl(kListViewClass, 0x00028001, 0x200) {}

void cListView::OnCreated() {
    GtkTreeView* view = View(handle);
    // The tree view gives spare width to its last column; a Win32 list keeps
    // every column's width and leaves the rest blank. An empty last column
    // that takes the spare width does the same.
    GtkTreeViewColumn* filler = gtk_tree_view_column_new();
    gtk_tree_view_column_set_expand(filler, TRUE);
    gtk_tree_view_append_column(view, filler);
    gtk_tree_view_set_grid_lines(view, GTK_TREE_VIEW_GRID_LINES_BOTH);
    gtk_tree_view_set_headers_clickable(view, FALSE);
    gtk_tree_view_set_enable_search(view, FALSE);
    gtk_tree_selection_set_mode(gtk_tree_view_get_selection(view), GTK_SELECTION_MULTIPLE);
}

void cListView::AddColumn(const char* text, int width, int alignment) {
    if (!handle)
        return;
    GtkTreeView* view = View(handle);
    const int index = GetColumnCount();
    WidenStore(view, index + 1);

    // The written width is a floor: GTK's font is wider than the one the
    // widths were chosen for, so a column grows to its widest cell and its
    // header. The tree view measures with its own font; the text must not
    // ellipsize, or its measured minimum is three characters.
    const float xalign = alignment == kAlignRight ? 1.0f : 0.0f;
    GtkCellRenderer* renderer = gtk_cell_renderer_text_new();
    g_object_set(renderer, "xalign", xalign, nullptr);
    GtkTreeViewColumn* column = gtk_tree_view_column_new_with_attributes(
        ValidText(text).c_str(), renderer, "text", kFirstTextColumn + index, nullptr);
    gtk_tree_view_column_set_resizable(column, TRUE);
    gtk_tree_view_column_set_sizing(column, GTK_TREE_VIEW_COLUMN_GROW_ONLY);
    gtk_tree_view_column_set_min_width(column, width);
    gtk_tree_view_column_set_alignment(column, xalign);
    if (index == 0 && g_object_get_data(G_OBJECT(view), kCheckBoxesKey))
        AddCheckBox(view, column);
    gtk_tree_view_insert_column(view, column, index);
}

int cListView::GetColumnCount() {
    return handle ? static_cast<int>(gtk_tree_view_get_n_columns(View(handle))) - 1 : 0;
}

int cListView::InsertItem(const char* text, std::intptr_t) {
    if (!handle)
        return 0;
    GtkTreeIter iter;
    gtk_list_store_append(Store(handle), &iter);
    gtk_list_store_set(Store(handle), &iter, kCheckColumn, FALSE, -1);
    const int row = GetItemCount() - 1;
    SetItemText(row, 0, text);
    return row;
}

void cListView::SetItemText(int row, int column, const char* text) {
    GtkTreeIter iter;
    if (!handle || column < 0 || column >= GetColumnCount() || !RowIter(handle, row, iter))
        return;
    gtk_list_store_set(Store(handle), &iter, kFirstTextColumn + column, ValidText(text).c_str(),
                       -1);
}

std::string cListView::GetItemText(int row, int column) {
    GtkTreeIter iter;
    if (!handle || column < 0 || column >= GetColumnCount() || !RowIter(handle, row, iter))
        return std::string();
    gchar* text = nullptr;
    gtk_tree_model_get(GTK_TREE_MODEL(Store(handle)), &iter, kFirstTextColumn + column, &text, -1);
    std::string result = text ? text : "";
    g_free(text);
    return result;
}

int cListView::GetItemCount() {
    return handle ? gtk_tree_model_iter_n_children(GTK_TREE_MODEL(Store(handle)), nullptr) : 0;
}

void cListView::DeleteAllItems() {
    if (handle)
        gtk_list_store_clear(Store(handle));
}

void cListView::EnableCheckBoxes() {
    if (!handle)
        return;
    GtkTreeView* view = View(handle);
    if (g_object_get_data(G_OBJECT(view), kCheckBoxesKey))
        return;
    g_object_set_data(G_OBJECT(view), kCheckBoxesKey, GINT_TO_POINTER(1));
    if (GetColumnCount() > 0)
        AddCheckBox(view, gtk_tree_view_get_column(view, 0));
}

bool cListView::IsChecked(int row) {
    GtkTreeIter iter;
    if (!handle || !RowIter(handle, row, iter))
        return false;
    gboolean checked = FALSE;
    gtk_tree_model_get(GTK_TREE_MODEL(Store(handle)), &iter, kCheckColumn, &checked, -1);
    return checked;
}

} // namespace gui
