#pragma once

#include <windows.h>

#include "app/port_window_logic.h"
#include "app/window_win32.h"

// The main window: menu, list of port mappings and a three-part status bar.
class cPortWindow : public cWindow {
  public:
    // The process-wide window, created (hidden) on the first call.
    static cPortWindow& GetInstance();

    class impl;

  private:
    cPortWindow();
};

class cPortWindow::impl : public cWindowImpl, public cPortWindowLogic {
  public:
    // Creates the window, hidden, centred on the work area.
    impl();
    ~impl() override = default;

    LRESULT HandleMessage() override;
    LRESULT OnCreate();
    LRESULT OnSize();

    UINT_PTR timerId = 0;

  protected:
    void KillStartupTimer() override;
    bool ShowAddPortDialog(cUPnP::cEntry& entry) override;
};
