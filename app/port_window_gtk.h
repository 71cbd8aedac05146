#pragma once

#include <map>

#include <gtk/gtk.h>

#include "app/port_window_logic.h"
#include "gui/window_base.h"
#include "support/no_copy.h"
#include "support/smart_ptr.h"

// The main window with GTK: menu bar, list and status bar in one vertical box.
class cPortWindow : public cWindowBase, no_copy {
  public:
    // The process-wide window, made (hidden) on the first call.
    static cPortWindow& GetInstance();
    // The GtkWindow, or null once it was destroyed.
    gui::tHandle GetHandle() override;

    class impl;

  private:
    cPortWindow();
    smart_ptr<impl> pimpl;
};

class cPortWindow::impl : public cPortWindowLogic {
  public:
    // Makes the window hidden; the start-up timer is armed when it is shown.
    impl();
    ~impl() override;

    // The menu commands: kCommandAdd … kCommandExit.
    void OnCommand(int id);
    // The menu item of a command id, or null.
    GtkWidget* GetMenuItem(int id) const;

    GtkWidget* window = nullptr;
    GtkWidget* content = nullptr;
    GtkWidget* menuBar = nullptr;
    guint timerId = 0;
    bool timerArmed = false;
    std::map<int, GtkWidget*> menuItems;

  protected:
    void KillStartupTimer() override;
    bool ShowAddPortDialog(cUPnP::cEntry& entry) override;

  private:
    void BuildMenu();
    void ArmStartupTimer();
    static void OnMap(GtkWidget* widget, gpointer self);
    static gboolean OnStartupTimer(gpointer self);
    static void OnMenuActivate(GtkMenuItem* item, gpointer self);
    static void OnDestroy(GtkWidget* widget, gpointer self);
};
