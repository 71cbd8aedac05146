#include "window_fixture.h"

#include "app/add_port_input.h"

namespace {

using tTexts = std::vector<std::string>;

class AddDialogTest : public cWindowTest {};

// A field by its control id, a button by its label; the focus inside a combo
// box sits on a part of it, so the nearest named ancestor counts.
std::string NameOf(GtkWidget* widget) {
    for (; widget; widget = gtk_widget_get_parent(widget)) {
        const gchar* name = gtk_widget_get_name(widget);
        if (name && g_ascii_isdigit(name[0]))
            return name;
        if (GTK_IS_BUTTON(widget) && gtk_button_get_label(GTK_BUTTON(widget)))
            return gtk_button_get_label(GTK_BUTTON(widget));
    }
    return "<none>";
}

TEST_F(AddDialogTest, FieldsStandInScreenOrderWithRightAlignedLabelsAndTabThatWay) {
    tTexts labels;
    std::vector<float> alignments;
    tTexts fieldsByRow;
    tTexts focusOrder;
    cDialogScript script;
    script.Then(kAddPortDialogTitle, [&](GtkWidget* dialog) {
        GtkWidget* grid = gtk_widget_get_parent(FindByName(dialog, "1001"));
        for (int row = 0; row < 5; ++row) {
            GtkWidget* label = gtk_grid_get_child_at(GTK_GRID(grid), 0, row);
            labels.push_back(gtk_label_get_text(GTK_LABEL(label)));
            alignments.push_back(gtk_label_get_xalign(GTK_LABEL(label)));
            fieldsByRow.push_back(NameOf(gtk_grid_get_child_at(GTK_GRID(grid), 1, row)));
        }
        // What the Tab key walks through, from the first field on.
        GtkWindow* window = GTK_WINDOW(dialog);
        focusOrder.push_back(NameOf(gtk_window_get_focus(window)));
        for (int step = 0; step < 6; ++step) {
            const std::string before = NameOf(gtk_window_get_focus(window));
            SendKey(dialog, GDK_KEY_Tab);
            WaitUntil([&] { return NameOf(gtk_window_get_focus(window)) != before; }, 1000);
            focusOrder.push_back(NameOf(gtk_window_get_focus(window)));
        }
        ClickResponse(dialog, GTK_RESPONSE_CANCEL);
    });
    Command(kCommandAdd);

    ASSERT_TRUE(script.Finished());
    EXPECT_EQ(labels,
              (tTexts{"プロトコル", "ポート/WAN側", "アドレス/LAN側", "ポート/LAN側", "コメント"}));
    EXPECT_EQ(alignments, (std::vector<float>(5, 1.0f)));
    EXPECT_EQ(fieldsByRow, (tTexts{"1001", "1002", "1004", "1003", "1005"}));
    EXPECT_EQ(focusOrder, (tTexts{"1001", "1002", "1004", "1003", "1005", "ＯＫ", "キャンセル"}));
}

// The window pumps no input while it works: a close request that arrives
// during a command is handled once the command has returned.
TEST_F(AddDialogTest, CloseRequestDuringWorkIsHandledAfterIt) {
    SendDelete(window->window);
    window->SetStatus("busy");
    EXPECT_NE(window->window, nullptr) << "the close request was handled mid-command";
    EXPECT_TRUE(WaitUntil([this] { return window->window == nullptr; }));
}

} // namespace
