#include "window_fixture.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

class LayoutTest : public cWindowTest {};

GtkCellRenderer* TextRenderer(GtkTreeViewColumn* column) {
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(column));
    GtkCellRenderer* text = GTK_CELL_RENDERER(g_list_last(cells)->data);
    g_list_free(cells);
    return text;
}

int NaturalWidth(GtkWidget* widget) {
    int natural = 0;
    gtk_widget_get_preferred_width(widget, nullptr, &natural);
    return natural;
}

// Where a text shows shorter than it is, as "row r column c: room < needed".
std::vector<std::string> CutTexts(GtkTreeView* view, int columns) {
    std::vector<std::string> cut;
    GtkTreeModel* model = gtk_tree_view_get_model(view);
    for (int c = 0; c < columns; ++c) {
        GtkTreeViewColumn* column = gtk_tree_view_get_column(view, c);
        GtkWidget* header = gtk_tree_view_column_get_button(column);
        if (gtk_tree_view_column_get_width(column) < NaturalWidth(header))
            cut.push_back("header " + std::to_string(c));
        GtkCellRenderer* text = TextRenderer(column);
        GtkTreeIter iter;
        int r = 0;
        for (gboolean more = gtk_tree_model_get_iter_first(model, &iter); more;
             more = gtk_tree_model_iter_next(model, &iter), ++r) {
            gtk_tree_view_column_cell_set_cell_data(column, model, &iter, FALSE, FALSE);
            int needed = 0;
            gtk_cell_renderer_get_preferred_width(text, GTK_WIDGET(view), nullptr, &needed);
            int x = 0;
            int room = 0;
            gtk_tree_view_column_cell_get_position(column, text, &x, &room);
            if (room < needed)
                cut.push_back("row " + std::to_string(r) + " column " + std::to_string(c) + ": " +
                              std::to_string(room) + " < " + std::to_string(needed));
        }
    }
    return cut;
}

TEST_F(LayoutTest, TitleCarriesProductNameAndVersions) {
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(window->window)),
                 "Wendrel Version 1.07(1.7.0.20)");
}

TEST_F(LayoutTest, WindowIsCentredWithA600By550ClientArea) {
    int width = 0;
    int height = 0;
    gtk_window_get_size(GTK_WINDOW(window->window), &width, &height);
    EXPECT_EQ(width, 600);
    EXPECT_EQ(height, 550);

    GdkRectangle screen{};
    gdk_monitor_get_geometry(gdk_display_get_primary_monitor(gdk_display_get_default()), &screen);
    int x = 0;
    int y = 0;
    gtk_window_get_position(GTK_WINDOW(window->window), &x, &y);
    EXPECT_NEAR(x, (screen.width - width) / 2, 2);
    EXPECT_NEAR(y, (screen.height - height) / 2, 2);
}

TEST_F(LayoutTest, ColumnsHaveTheirTextsWidthsAndAlignment) {
    struct cExpected {
        const char* title;
        int width;
        float xalign;
    };
    const cExpected expected[] = {{"プロトコル", 80, 0.0f},
                                  {"ポート", 50, 1.0f},
                                  {"クライアント", 150, 0.0f},
                                  {"コメント", 260, 0.0f}};
    GtkTreeView* view = GTK_TREE_VIEW(Tree());
    // Four columns and an untitled one that takes the spare width.
    ASSERT_EQ(gtk_tree_view_get_n_columns(view), 5u);
    GtkTreeViewColumn* filler = gtk_tree_view_get_column(view, 4);
    EXPECT_STREQ(gtk_tree_view_column_get_title(filler), "");
    GList* fillerCells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(filler));
    EXPECT_EQ(fillerCells, nullptr);
    g_list_free(fillerCells);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        GtkTreeViewColumn* column = gtk_tree_view_get_column(view, i);
        EXPECT_STREQ(gtk_tree_view_column_get_title(column), expected[i].title);
        // The written width, unless the header needs more in GTK's font.
        EXPECT_EQ(
            gtk_tree_view_column_get_width(column),
            std::max(expected[i].width, NaturalWidth(gtk_tree_view_column_get_button(column))));
        EXPECT_EQ(gtk_tree_view_column_get_alignment(column), expected[i].xalign);
        EXPECT_FALSE(gtk_tree_view_column_get_clickable(column));
        GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(column));
        GtkCellRenderer* text = GTK_CELL_RENDERER(g_list_last(cells)->data);
        float xalign = -1;
        gtk_cell_renderer_get_alignment(text, &xalign, nullptr);
        EXPECT_EQ(xalign, expected[i].xalign);
        // One check box, leading the first column; none elsewhere.
        int toggles = 0;
        for (GList* cell = cells; cell; cell = cell->next)
            toggles += GTK_IS_CELL_RENDERER_TOGGLE(cell->data) ? 1 : 0;
        EXPECT_EQ(toggles, i == 0 ? 1 : 0);
        EXPECT_EQ(GTK_IS_CELL_RENDERER_TOGGLE(cells->data), i == 0);
        g_list_free(cells);
    }
    EXPECT_EQ(gtk_tree_view_get_grid_lines(view), GTK_TREE_VIEW_GRID_LINES_BOTH);
}

// GTK's font is wider than the one the written widths were chosen for: a
// client with a five-digit port did not fit 150 pixels and ended in "...".
TEST_F(LayoutTest, ColumnsGrowUntilEveryTextShowsWhole) {
    const char* const rows[][4] = {
        {"TCP", "65535", "192.168.177.200(65535)", "ゲームサーバー (demo)"},
        {"UDP", "8080", "192.168.77.20(27015)", "Web server (demo)"},
    };
    for (const auto& texts : rows) {
        const int row = window->listView.InsertItem(texts[0], 0);
        for (int column = 1; column < 4; ++column)
            window->listView.SetItemText(row, column, texts[column]);
    }
    GtkTreeView* view = GTK_TREE_VIEW(Tree());
    WaitUntil([view] { return CutTexts(view, 4).empty(); });
    EXPECT_EQ(CutTexts(view, 4), std::vector<std::string>());
    // Texts that fit leave a column at its written width.
    EXPECT_EQ(gtk_tree_view_column_get_width(gtk_tree_view_get_column(view, 3)), 260);
}

TEST_F(LayoutTest, StatusPartsKeepTheirEdgesWhateverTheText) {
    const std::string longText(300, 'W');
    for (int part = 0; part < 3; ++part)
        window->statusBar.SetText(part, longText.c_str());
    Pump(50);
    const std::vector<GtkWidget*> frames = StatusFrames(Bar());
    ASSERT_EQ(frames.size(), 3u);
    GtkAllocation allocation[3];
    for (int i = 0; i < 3; ++i)
        gtk_widget_get_allocation(frames[i], &allocation[i]);
    EXPECT_EQ(allocation[0].x + allocation[0].width, 200);
    EXPECT_EQ(allocation[1].x + allocation[1].width, 400);
    EXPECT_EQ(allocation[2].x + allocation[2].width, gtk_widget_get_allocated_width(Bar()));
    EXPECT_EQ(window->statusBar.GetText(1), longText);
}

TEST_F(LayoutTest, MenuHoldsTheCommandsWithTheirMnemonics) {
    auto Labels = [](GtkWidget* shell) {
        std::vector<std::string> labels;
        GList* items = gtk_container_get_children(GTK_CONTAINER(shell));
        for (GList* item = items; item; item = item->next) {
            const gchar* label = GTK_IS_SEPARATOR_MENU_ITEM(item->data)
                                     ? "-"
                                     : gtk_menu_item_get_label(GTK_MENU_ITEM(item->data));
            labels.push_back(label);
        }
        g_list_free(items);
        return labels;
    };
    using tTexts = std::vector<std::string>;
    EXPECT_EQ(Labels(window->menuBar), (tTexts{"ポートマップ(_P)", "表示(_D)"}));
    GtkWidget* portMenu = gtk_widget_get_parent(window->GetMenuItem(kCommandAdd));
    EXPECT_EQ(Labels(portMenu), (tTexts{"追加(_A)", "削除(_D)", "-", "終了(_X)"}));
    EXPECT_EQ(gtk_widget_get_parent(window->GetMenuItem(kCommandDelete)), portMenu);
    EXPECT_EQ(gtk_widget_get_parent(window->GetMenuItem(kCommandExit)), portMenu);
    EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(window->GetMenuItem(kCommandRefresh))),
                 "更新(_R)");
    EXPECT_TRUE(gtk_menu_item_get_use_underline(GTK_MENU_ITEM(window->GetMenuItem(kCommandAdd))));
}

// Both ways out end the main loop, which main() follows with exit code 0.
struct cExitCase {
    const char* name;
    void (*leave)(cPortWindow::impl& window);
};

void PrintTo(const cExitCase& value, std::ostream* out) {
    *out << value.name;
}

class ExitTest : public cWindowTest, public testing::WithParamInterface<cExitCase> {};

TEST_P(ExitTest, EndsTheMainLoopAndDestroysTheWindow) {
    g_idle_add(
        [](gpointer data) {
            GetParam().leave(*static_cast<cPortWindow::impl*>(data));
            return G_SOURCE_REMOVE;
        },
        window.get());
    const guint guard = g_timeout_add(
        5000,
        [](gpointer) {
            gtk_main_quit();
            ADD_FAILURE() << "the main loop did not end";
            return G_SOURCE_REMOVE;
        },
        nullptr);
    gtk_main();
    g_source_remove(guard);
    EXPECT_EQ(window->window, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, ExitTest,
    testing::Values(cExitCase{"ExitCommand",
                              [](cPortWindow::impl& w) {
                                  gtk_menu_item_activate(
                                      GTK_MENU_ITEM(w.GetMenuItem(kCommandExit)));
                              }},
                    cExitCase{"CloseBox", [](cPortWindow::impl& w) { SendDelete(w.window); }}),
    [](const testing::TestParamInfo<cExitCase>& info) { return info.param.name; });

} // namespace
