#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/port_window_gtk.h"
#include "fake_gateway.h"
#include "fake_ssdp.h"
#include "gui_harness.h"

// A shown main window, and a fake gateway that answers the window's search on
// the namespace's test interface. The start-up sequence is run by the tests.
class cWindowTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the fake gateway with these mappings (and its SSDP answers).
    void StartGateway(const std::vector<cFakeGateway::cMapping>& mappings);
    // Runs the start-up sequence to its end.
    void RunStartup() { window->OnTimer(); }
    void Command(int id);

    GtkWidget* Tree() { return static_cast<GtkWidget*>(window->listView.GetHandle()); }
    GtkWidget* Bar() { return static_cast<GtkWidget*>(window->statusBar.GetHandle()); }
    std::string Part(int part);
    std::vector<std::vector<std::string>> RowTexts();
    // The SOAP actions the gateway received since the last ClearRequests.
    std::vector<std::string> Actions();

    std::unique_ptr<cFakeGateway> gateway;
    std::unique_ptr<cFakeSsdp> ssdp;
    std::unique_ptr<cPortWindow::impl> window;
};

cFakeGateway::cMapping Mapping(const char* protocol, int externalPort, const char* client,
                               int internalPort, const char* description, bool enabled = true);
