#include "window_fixture.h"

#include "app/add_port_input.h"

namespace {

using tRows = std::vector<std::vector<std::string>>;
using tTexts = std::vector<std::string>;

const char* const kSearching = "デバイス検索中...";
const char* const kQueryingAddresses = "アドレス調査中...";
const char* const kRefreshing = "ポートマップを調査中...";
const char* const kDone = "ＯＫ！";
const char* const kAdding = "ポートマップ追加中...";
const char* const kDeleting = "ポートマップ削除中...";

std::vector<cFakeGateway::cMapping> ThreeMappings() {
    return {Mapping("TCP", 8080, "192.0.2.20", 80, "web"),
            Mapping("UDP", 5000, "192.0.2.21", 5000, "off", false),
            Mapping("UDP", 27015, "192.0.2.21", 27016, "ゲーム")};
}

class StartupTest : public cWindowTest {};

TEST_F(StartupTest, ShowsModelAddressesAndEnabledRowsInIndexOrder) {
    StartGateway(ThreeMappings());
    cTextLog log(StatusLabels(Bar()).at(0));
    RunStartup();

    EXPECT_EQ(log.Texts(), (tTexts{kSearching, kQueryingAddresses, kRefreshing, kDone}));
    EXPECT_EQ(Part(2), "Wendrel Test Gateway");
    EXPECT_EQ(Part(1), "203.0.113.7 (192.0.2.10)");
    EXPECT_EQ(RowTexts(), (tRows{{"TCP", "8080", "192.0.2.20(80)", "web"},
                                 {"UDP", "27015", "192.0.2.21(27016)", "ゲーム"}}));
}

TEST_F(StartupTest, WithoutGatewayShowsNotFoundAndLeavesTheRestEmpty) {
    cTextLog log(StatusLabels(Bar()).at(0));
    RunStartup();

    EXPECT_EQ(log.Texts(), (tTexts{kSearching, "UPnP対応機器が見つかりませんでした"}));
    EXPECT_EQ(Part(1), "");
    EXPECT_EQ(Part(2), "");
    EXPECT_TRUE(RowTexts().empty());
}

TEST_F(StartupTest, FailingControlActionsLeaveTheAddressEmptyAndStillEndWithTheRefresh) {
    StartGateway(ThreeMappings());
    gateway->SetControlMode(cFakeGateway::eMode::kServerError);
    cTextLog log(StatusLabels(Bar()).at(0));
    RunStartup();

    EXPECT_EQ(log.Texts(), (tTexts{kSearching, kQueryingAddresses, kRefreshing, kDone}));
    EXPECT_EQ(Part(2), "Wendrel Test Gateway");
    EXPECT_EQ(Part(1), "");
    EXPECT_TRUE(RowTexts().empty());
}

TEST_F(StartupTest, RunsOnceByItselfShortlyAfterTheWindowIsShown) {
    StartGateway(ThreeMappings());
    window = std::make_unique<cPortWindow::impl>();
    EXPECT_EQ(window->timerId, 0u) << "armed before the window is shown";
    const gint64 shown = g_get_monotonic_time();
    gtk_widget_show(window->window);
    gint64 started = 0;
    ASSERT_TRUE(WaitUntil([&] {
        if (!started && !Part(0).empty())
            started = g_get_monotonic_time();
        return Part(0) == kDone;
    }));
    EXPECT_GE(started - shown, kStartupDelayMs * 1000);
    EXPECT_EQ(window->timerId, 0u);
    EXPECT_EQ(RowTexts().size(), 2u);

    gateway->ClearRequests();
    Pump(300);
    EXPECT_EQ(gateway->RequestCount(), 0u) << "the start-up timer fired again";
}

TEST_F(StartupTest, GatewayTextThatIsNotUtf8IsShownMadeValid) {
    cFakeGateway::cOptions options;
    options.address = kTestInterfaceAddress;
    options.modelName = "Router \xFF";
    gateway = std::make_unique<cFakeGateway>(options);
    gateway->SetMappings({Mapping("TCP", 8080, "192.0.2.20", 80, "caf\xE9")});
    ssdp = std::make_unique<cFakeSsdp>();
    ssdp->EchoSearches(gateway->GetDescriptionUrl());
    RunStartup();

    EXPECT_EQ(Part(2), "Router \xEF\xBF\xBD");
    ASSERT_EQ(RowTexts().size(), 1u);
    EXPECT_EQ(RowTexts()[0][3], "caf\xEF\xBF\xBD");
}

// A status text set right before blocking work must be on screen during it.
TEST_F(StartupTest, StatusTextIsPaintedBeforeSetStatusReturns) {
    GtkWidget* label = StatusLabels(Bar()).at(0);
    std::vector<std::string> painted;
    const gulong handler = g_signal_connect(
        label, "draw", G_CALLBACK(+[](GtkWidget* widget, cairo_t*, gpointer texts) {
            static_cast<std::vector<std::string>*>(texts)->push_back(
                gtk_label_get_text(GTK_LABEL(widget)));
            return FALSE;
        }),
        &painted);
    window->SetStatus(kSearching);
    const std::vector<std::string> atReturn = painted;
    g_signal_handler_disconnect(label, handler);

    ASSERT_FALSE(atReturn.empty());
    EXPECT_EQ(atReturn.back(), kSearching);
}

class CommandTest : public cWindowTest {
  protected:
    void SetUp() override {
        cWindowTest::SetUp();
        StartGateway(ThreeMappings());
        RunStartup();
        ASSERT_EQ(Part(0), kDone);
        gateway->ClearRequests();
    }
};

TEST_F(CommandTest, RefreshRereadsTheTable) {
    gateway->SetMappings({Mapping("TCP", 443, "192.0.2.22", 8443, "")});
    cTextLog log(StatusLabels(Bar()).at(0));
    Command(kCommandRefresh);

    EXPECT_EQ(log.Texts(), (tTexts{kRefreshing, kDone}));
    EXPECT_EQ(RowTexts(), (tRows{{"TCP", "443", "192.0.2.22(8443)", ""}}));
}

TEST_F(CommandTest, RefreshWhoseFirstRequestFailsEmptiesTheListAndSaysOk) {
    gateway->SetControlMode(cFakeGateway::eMode::kServerError);
    Command(kCommandRefresh);

    EXPECT_TRUE(RowTexts().empty());
    EXPECT_EQ(Part(0), kDone);
}

TEST_F(CommandTest, DeleteSendsOneRequestPerTickedRowInRowOrderThenRefreshesOnce) {
    gateway->SetMappings({Mapping("TCP", 8080, "192.0.2.20", 80, "a"),
                          Mapping("UDP", 5000, "192.0.2.21", 5000, "b"),
                          Mapping("TCP", 9000, "192.0.2.22", 90, "c")});
    Command(kCommandRefresh);
    gateway->ClearRequests();
    ToggleRow(Tree(), 0);
    ToggleRow(Tree(), 2);
    cTextLog log(StatusLabels(Bar()).at(0));
    Command(kCommandDelete);

    EXPECT_EQ(log.Texts(), (tTexts{kDeleting, kDeleting, kRefreshing, kDone}));
    const std::vector<cFakeGateway::cRequest> requests = gateway->Requests();
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(requests[0].Action(), "DeletePortMapping");
    EXPECT_NE(requests[0].body.find("<NewExternalPort>8080</NewExternalPort>"), std::string::npos);
    EXPECT_NE(requests[0].body.find("<NewProtocol>TCP</NewProtocol>"), std::string::npos);
    EXPECT_EQ(requests[1].Action(), "DeletePortMapping");
    EXPECT_NE(requests[1].body.find("<NewExternalPort>9000</NewExternalPort>"), std::string::npos);
    for (size_t i = 2; i < requests.size(); ++i)
        EXPECT_EQ(requests[i].Action(), "GetGenericPortMappingEntry");
    EXPECT_EQ(RowTexts(), (tRows{{"UDP", "5000", "192.0.2.21(5000)", "b"}}));
    EXPECT_FALSE(ReadRows(Tree()).at(0).checked);
}

TEST_F(CommandTest, DeleteWithNothingTickedChangesNothing) {
    const tRows before = RowTexts();
    cTextLog log(StatusLabels(Bar()).at(0));
    Command(kCommandDelete);

    EXPECT_TRUE(log.Texts().empty());
    EXPECT_EQ(gateway->RequestCount(), 0u);
    EXPECT_EQ(RowTexts(), before);
}

// The three ways out of the dialog without adding.
struct cCancelCase {
    const char* name;
    void (*leave)(GtkWidget* dialog);
};

void PrintTo(const cCancelCase& value, std::ostream* out) {
    *out << value.name;
}

class AddCancelTest : public CommandTest, public testing::WithParamInterface<cCancelCase> {};

TEST_P(AddCancelTest, ChangesNothingNotEvenTheStatusBar) {
    const tRows before = RowTexts();
    cTextLog log(StatusLabels(Bar()).at(0));
    cDialogScript script;
    script.Then(kAddPortDialogTitle, GetParam().leave);
    Command(kCommandAdd);

    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(FindWindow(kAddPortDialogTitle), nullptr);
    EXPECT_TRUE(log.Texts().empty());
    EXPECT_EQ(Part(0), kDone);
    EXPECT_EQ(gateway->RequestCount(), 0u);
    EXPECT_EQ(RowTexts(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, AddCancelTest,
    testing::Values(cCancelCase{"CancelButton",
                                [](GtkWidget* d) { ClickResponse(d, GTK_RESPONSE_CANCEL); }},
                    cCancelCase{"Escape", [](GtkWidget* d) { SendKey(d, GDK_KEY_Escape); }},
                    cCancelCase{"CloseBox", [](GtkWidget* d) { SendDelete(d); }}),
    [](const testing::TestParamInfo<cCancelCase>& info) { return info.param.name; });

TEST_F(CommandTest, AddWithInvalidInputKeepsTheDialogOpenThenAddsAndRefreshes) {
    tTexts defaults;
    std::string boxText;
    std::string externalAfterBox;
    cDialogScript script;
    script
        .Then(kAddPortDialogTitle,
              [&](GtkWidget* dialog) {
                  for (int id : {kFieldProtocol, kFieldExternalPort, kFieldInternalClient,
                                 kFieldInternalPort, kFieldDescription})
                      defaults.push_back(GetEntryText(dialog, id));
                  SetEntryText(dialog, kFieldExternalPort, "0");
                  ClickResponse(dialog, GTK_RESPONSE_OK);
              })
        .Then(kInvalidInputCaption,
              [&](GtkWidget* box) {
                  gchar* text = nullptr;
                  g_object_get(box, "text", &text, nullptr);
                  boxText = text ? text : "";
                  g_free(text);
                  ClickResponse(box, GTK_RESPONSE_OK);
              })
        .Then(kAddPortDialogTitle, [&](GtkWidget* dialog) {
            externalAfterBox = GetEntryText(dialog, kFieldExternalPort);
            SetEntryText(dialog, kFieldExternalPort, " 8081x");
            SetEntryText(dialog, kFieldInternalClient, "192.0.2.30");
            SetEntryText(dialog, kFieldInternalPort, "+81");
            SetEntryText(dialog, kFieldDescription, "テスト & co");
            ClickResponse(dialog, GTK_RESPONSE_OK);
        });
    cTextLog log(StatusLabels(Bar()).at(0));
    Command(kCommandAdd);

    ASSERT_TRUE(script.Finished()) << script.StepsDone();
    EXPECT_EQ(defaults, (tTexts{"TCP", "1234", "192.0.2.10", "1234", ""}));
    EXPECT_EQ(boxText, kInvalidInputText);
    EXPECT_EQ(externalAfterBox, "0");
    EXPECT_EQ(log.Texts(), (tTexts{kAdding, kRefreshing, kDone}));
    EXPECT_EQ(Actions().at(0), "AddPortMapping");
    EXPECT_EQ(RowTexts().back(), (tTexts{"TCP", "8081", "192.0.2.30(81)", "テスト & co"}));
}

TEST_F(CommandTest, DialogOpensWithItsDefaultsAgainAfterEarlierInput) {
    std::string external;
    cDialogScript script;
    script.Then(kAddPortDialogTitle, [](GtkWidget* dialog) {
        SetEntryText(dialog, kFieldExternalPort, "9999");
        ClickResponse(dialog, GTK_RESPONSE_CANCEL);
    });
    Command(kCommandAdd);
    cDialogScript again;
    again.Then(kAddPortDialogTitle, [&](GtkWidget* dialog) {
        external = GetEntryText(dialog, kFieldExternalPort);
        ClickResponse(dialog, GTK_RESPONSE_CANCEL);
    });
    Command(kCommandAdd);

    EXPECT_EQ(external, "1234");
}

TEST_F(CommandTest, RefusedAddSaysSoAndKeepsTheList) {
    const tRows before = RowTexts();
    gateway->SetControlMode(cFakeGateway::eMode::kServerError);
    cDialogScript script;
    script.Then(kAddPortDialogTitle,
                [](GtkWidget* dialog) { ClickResponse(dialog, GTK_RESPONSE_OK); });
    cTextLog log(StatusLabels(Bar()).at(0));
    Command(kCommandAdd);

    EXPECT_EQ(log.Texts(), (tTexts{kAdding, "追加失敗！ (501 ルーターが処理に失敗しました)"}));
    EXPECT_EQ(Actions(), (tTexts{"AddPortMapping"}));
    EXPECT_EQ(RowTexts(), before);
}

TEST_F(CommandTest, AFailedAddOrDeleteShowsTheReasonAfterTheWrittenText) {
    cFakeGateway::cAddPolicy refusing;
    refusing.maxLease = 3600; // a lease of 0 is refused as an invalid argument
    gateway->SetAddPolicy(refusing);
    cDialogScript script;
    script.Then(kAddPortDialogTitle,
                [](GtkWidget* dialog) { ClickResponse(dialog, GTK_RESPONSE_OK); });
    Command(kCommandAdd);
    EXPECT_EQ(Part(0), "追加失敗！ (402 引数が不正です)");

    gateway->SetControlMode(cFakeGateway::eMode::kCloseWithoutData);
    cDialogScript again;
    again.Then(kAddPortDialogTitle,
               [](GtkWidget* dialog) { ClickResponse(dialog, GTK_RESPONSE_OK); });
    Command(kCommandAdd);
    EXPECT_EQ(Part(0), "追加失敗！ (ルーターが応答せずに切断しました)");
    gateway->SetControlMode(cFakeGateway::eMode::kNormal);

    // The mapping goes away before the delete: the gateway answers 714.
    ToggleRow(Tree(), 0);
    gateway->SetMappings({});
    cTextLog log(StatusLabels(Bar()).at(0));
    Command(kCommandDelete);
    EXPECT_EQ(log.Texts(), (tTexts{kDeleting, kRefreshing, kDone,
                                   "削除失敗！ (714 該当するポートマップはありません)"}));
    EXPECT_TRUE(RowTexts().empty());
}

TEST_F(CommandTest, AnEntryThatCouldNotBeReadIsSkippedNotShownAsZeros) {
    cFakeGateway::cMapping unreadable = Mapping("", 0, "", 0, "");
    gateway->SetMappings({Mapping("TCP", 8080, "192.0.2.20", 80, "a"), unreadable,
                          Mapping("UDP", 5000, "192.0.2.21", 5000, "b")});
    Command(kCommandRefresh);
    EXPECT_EQ(RowTexts(), (tRows{{"TCP", "8080", "192.0.2.20(80)", "a"},
                                 {"UDP", "5000", "192.0.2.21(5000)", "b"}}));
    EXPECT_EQ(Part(0), kDone);
}

} // namespace
