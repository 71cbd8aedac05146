#include "window_fixture.h"

void cWindowTest::SetUp() {
    TakeWarnings();
    window = std::make_unique<cPortWindow::impl>();
    window->timerArmed = true;
    gtk_widget_show(window->window);
    ASSERT_TRUE(WaitUntil([this] { return gtk_widget_get_mapped(window->window); }));
    Pump(50);
}

void cWindowTest::TearDown() {
    window.reset();
    ssdp.reset();
    gateway.reset();
    Pump(20);
    EXPECT_EQ(TakeWarnings(), std::vector<std::string>());
}

void cWindowTest::StartGateway(const std::vector<cFakeGateway::cMapping>& mappings) {
    cFakeGateway::cOptions options;
    options.address = kTestInterfaceAddress;
    gateway = std::make_unique<cFakeGateway>(options);
    ASSERT_TRUE(gateway->IsRunning());
    gateway->SetMappings(mappings);
    ssdp = std::make_unique<cFakeSsdp>();
    ASSERT_TRUE(ssdp->IsRunning());
    ssdp->EchoSearches(gateway->GetDescriptionUrl());
}

void cWindowTest::Command(int id) {
    gtk_menu_item_activate(GTK_MENU_ITEM(window->GetMenuItem(id)));
}

std::string cWindowTest::Part(int part) {
    const std::vector<GtkWidget*> labels = StatusLabels(Bar());
    return part < static_cast<int>(labels.size()) ? gtk_label_get_text(GTK_LABEL(labels[part]))
                                                  : "<missing>";
}

std::vector<std::vector<std::string>> cWindowTest::RowTexts() {
    std::vector<std::vector<std::string>> texts;
    for (const cRow& row : ReadRows(Tree()))
        texts.push_back(row.texts);
    return texts;
}

std::vector<std::string> cWindowTest::Actions() {
    std::vector<std::string> actions;
    for (const cFakeGateway::cRequest& request : gateway->Requests()) {
        if (request.method == "POST")
            actions.push_back(request.Action());
    }
    return actions;
}

cFakeGateway::cMapping Mapping(const char* protocol, int externalPort, const char* client,
                               int internalPort, const char* description, bool enabled) {
    cFakeGateway::cMapping mapping;
    mapping.protocol = protocol;
    mapping.externalPort = externalPort;
    mapping.internalClient = client;
    mapping.internalPort = internalPort;
    mapping.description = description;
    mapping.enabled = enabled;
    return mapping;
}
