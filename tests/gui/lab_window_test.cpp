// The window against the real miniupnpd of the lab: start-up, add through the
// dialog, delete through the check boxes.
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/add_port_input.h"
#include "app/port_window_gtk.h"
#include "gui_harness.h"

namespace {

using tRow = std::vector<std::string>;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

class LabWindowTest : public testing::Test {
  protected:
    void SetUp() override {
        TakeWarnings();
        window = std::make_unique<cPortWindow::impl>();
        window->timerArmed = true;
        gtk_widget_show(window->window);
        ASSERT_TRUE(WaitUntil([this] { return gtk_widget_get_mapped(window->window); }));
    }
    void TearDown() override {
        window.reset();
        Pump(20);
        EXPECT_EQ(TakeWarnings(), std::vector<std::string>());
    }

    GtkWidget* Tree() { return static_cast<GtkWidget*>(window->listView.GetHandle()); }
    std::string Part(int part) { return window->statusBar.GetText(part); }
    std::vector<tRow> Rows() {
        std::vector<tRow> rows;
        for (const cRow& row : ReadRows(Tree()))
            rows.push_back(row.texts);
        return rows;
    }
    int RowOf(const std::string& port) {
        const std::vector<tRow> rows = Rows();
        for (size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].at(1) == port)
                return static_cast<int>(i);
        }
        return -1;
    }

    std::unique_ptr<cPortWindow::impl> window;
};

TEST_F(LabWindowTest, FindsTheGatewayThenAddsAndDeletesThroughTheWindow) {
    const std::string client = Env("LAB_CLIENT_ADDRESS");
    window->OnTimer();
    EXPECT_EQ(Part(0), "ＯＫ！");
    EXPECT_EQ(Part(2), Env("LAB_MODEL_NAME"));
    EXPECT_EQ(Part(1), Env("LAB_EXTERNAL_ADDRESS") + " (" + client + ")");
    // Added by upnpc before the window started.
    EXPECT_EQ(Rows(), (std::vector<tRow>{{"UDP", "27015", client + "(27016)", "from upnpc"}}));

    std::string defaultClient;
    cDialogScript script;
    script.Then(kAddPortDialogTitle, [&](GtkWidget* dialog) {
        defaultClient = GetEntryText(dialog, kFieldInternalClient);
        SetEntryText(dialog, kFieldExternalPort, "18080");
        SetEntryText(dialog, kFieldInternalPort, "18081");
        SetEntryText(dialog, kFieldDescription, "窓 & <GUI>");
        ClickResponse(dialog, GTK_RESPONSE_OK);
    });
    gtk_menu_item_activate(GTK_MENU_ITEM(window->GetMenuItem(kCommandAdd)));
    ASSERT_TRUE(script.Finished());
    EXPECT_EQ(defaultClient, client);
    EXPECT_EQ(Part(0), "ＯＫ！");
    ASSERT_NE(RowOf("18080"), -1);
    EXPECT_EQ(Rows().at(RowOf("18080")), (tRow{"TCP", "18080", client + "(18081)", "窓 & <GUI>"}));

    // Outside the gateway's allowed range (1024-65535): refused.
    cDialogScript refused;
    refused.Then(kAddPortDialogTitle, [](GtkWidget* dialog) {
        SetEntryText(dialog, kFieldExternalPort, "80");
        ClickResponse(dialog, GTK_RESPONSE_OK);
    });
    gtk_menu_item_activate(GTK_MENU_ITEM(window->GetMenuItem(kCommandAdd)));
    EXPECT_EQ(Part(0), "追加失敗！ (606 この操作は許可されていません)");
    EXPECT_EQ(Rows().size(), 2u);

    ToggleRow(Tree(), RowOf("18080"));
    gtk_menu_item_activate(GTK_MENU_ITEM(window->GetMenuItem(kCommandDelete)));
    EXPECT_EQ(RowOf("18080"), -1);
    EXPECT_EQ(RowOf("27015"), 0);
    EXPECT_EQ(Part(0), "ＯＫ！");
}

// On a client with two gateways (gui_multi_lab_test.sh): the window takes the
// one that answers first, and shows that one's model, addresses and table.
TEST_F(LabWindowTest, MultiHomedClientFindsAGatewayAndListsItsMappings) {
    if (Env("LAB_MODEL2_NAME").empty())
        GTEST_SKIP() << "a single-gateway lab";
    window->OnTimer();
    EXPECT_EQ(Part(0), "ＯＫ！");
    const bool second = Part(2) == Env("LAB_MODEL2_NAME");
    if (!second) {
        EXPECT_EQ(Part(2), Env("LAB_MODEL_NAME"));
    }
    const std::string client = Env(second ? "LAB_CLIENT2_ADDRESS" : "LAB_CLIENT_ADDRESS");
    EXPECT_EQ(Part(1),
              Env(second ? "LAB_EXTERNAL2_ADDRESS" : "LAB_EXTERNAL_ADDRESS") + " (" + client + ")");
    // Each gateway holds one mapping of its own, added by upnpc.
    const tRow expected = second ? tRow{"UDP", "27025", client + "(27026)", "second gateway"}
                                 : tRow{"UDP", "27015", client + "(27016)", "first gateway"};
    EXPECT_EQ(Rows(), std::vector<tRow>{expected});
}

} // namespace
