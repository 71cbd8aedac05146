#include "window_fixture.h"

namespace {

class LayoutTest : public cWindowTest {};

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
        EXPECT_EQ(gtk_tree_view_column_get_width(column), expected[i].width);
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
