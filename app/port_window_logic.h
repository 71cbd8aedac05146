#pragma once

#include <string>

#include "gui/list_view.h"
#include "gui/status_bar.h"
#include "support/no_copy.h"
#include "upnp/upnp.h"

// Menu command ids of the main window.
constexpr int kCommandAdd = 102;
constexpr int kCommandDelete = 103;
constexpr int kCommandRefresh = 104;
constexpr int kCommandExit = 105;

// The one-shot timer that starts the gateway search once the window is up.
constexpr int kStartupTimerId = 101;
constexpr int kStartupDelayMs = 100;
constexpr int kDiscoverTimeoutMs = 5000;

// Client area the window is sized for, and the status-bar parts' right edges.
constexpr int kClientWidth = 600;
constexpr int kClientHeight = 550;
constexpr int kStatusPartEdges[] = {200, 400, 9999};
constexpr int kStatusPartCount = 3;

// Status-bar parts.
constexpr int kStatusPartMessage = 0;
constexpr int kStatusPartAddress = 1;
constexpr int kStatusPartModel = 2;

// List columns, left to right.
struct cColumnSpec {
    const char* text;
    int width;
    int alignment;
};
constexpr cColumnSpec kColumns[] = {
    {"プロトコル", 80, gui::kAlignLeft},
    {"ポート", 50, gui::kAlignRight},
    {"クライアント", 150, gui::kAlignLeft},
    {"コメント", 260, gui::kAlignLeft},
};
constexpr int kColumnCount = 4;

// The window title from the product name and versions, e.g.
// "Wendrel Version 1.07(1.7.0.20)"; empty parts stay empty.
std::string MakeWindowTitle(const char* productName, const char* productVersion,
                            const char* fileVersion);

// What the main window shows and does, written once for every front end. It
// reaches the platform only through the list, the status bar and the two
// hooks; the gateway only through cUPnP::GetInstance(). Each front end's
// cPortWindow::impl derives from it and implements the hooks.
class cPortWindowLogic : no_copy {
  public:
    // Makes the list (check boxes, the four columns) and the status bar with
    // its three parts inside `parent`. False at the first control that could
    // not be made; nothing after it is made then (and no timer should be armed).
    bool CreateControls(gui::tHandle parent);

    // The start-up sequence: search, model name, addresses, list.
    void OnTimer();
    // Part 0 of the status bar.
    void SetStatus(const char* text);
    // Always true.
    bool RefreshMappings();
    // True when the gateway accepted the new mapping.
    bool AddMapping();
    // Always true.
    bool DeleteMappings();

    gui::cListView listView;
    gui::cStatusBar statusBar;

  protected:
    cPortWindowLogic() = default;
    virtual ~cPortWindowLogic() = default;

    // Stops the start-up timer so that it fires once only.
    virtual void KillStartupTimer() = 0;
    // Runs the modal add-port dialog; true and `entry` filled when the user
    // confirmed valid input, false (entry untouched) when cancelled or closed.
    virtual bool ShowAddPortDialog(cUPnP::cEntry& entry) = 0;
};
