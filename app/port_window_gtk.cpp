#include "app/port_window_gtk.h"

#include "app/add_port_dialog.h"
#include "app/version.h"

namespace {

constexpr const char* kIconName = "wendrel";
constexpr const char* kCommandKey = "wendrel-command";
constexpr int kSeparator = 0;

struct cMenuItemSpec {
    const char* text; // GTK mnemonic syntax: "_A" underlines A
    int id;           // kSeparator for a separator
};

constexpr cMenuItemSpec kPortMapMenu[] = {
    {"追加(_A)", kCommandAdd},
    {"削除(_D)", kCommandDelete},
    {nullptr, kSeparator},
    {"終了(_X)", kCommandExit},
};
constexpr cMenuItemSpec kViewMenu[] = {
    {"更新(_R)", kCommandRefresh},
};

} // namespace

cPortWindow& cPortWindow::GetInstance() {
    static cPortWindow instance;
    return instance;
}

cPortWindow::cPortWindow() : pimpl(new impl) {}

gui::tHandle cPortWindow::GetHandle() {
    return pimpl.Get() ? pimpl->window : nullptr;
}

cPortWindow::impl::impl() {
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window),
                         MakeWindowTitle(kProductName, kProductVersion, kFileVersion).c_str());
    gtk_window_set_icon_name(GTK_WINDOW(window), kIconName);
    gtk_window_set_default_size(GTK_WINDOW(window), kClientWidth, kClientHeight);
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    g_signal_connect(window, "destroy", G_CALLBACK(OnDestroy), this);

    content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(window), content);
    gtk_widget_show(content);
    BuildMenu();
    // Without its controls the window stays up, empty, and never searches.
    if (CreateControls(content))
        g_signal_connect(window, "map", G_CALLBACK(OnMap), this);
}

cPortWindow::impl::~impl() {
    KillStartupTimer();
    if (window) {
        g_signal_handlers_disconnect_by_data(window, this);
        gtk_widget_destroy(window);
    }
}

void cPortWindow::impl::BuildMenu() {
    menuBar = gtk_menu_bar_new();
    struct cPopup {
        const char* text;
        const cMenuItemSpec* items;
        size_t count;
    };
    const cPopup popups[] = {
        {"ポートマップ(_P)", kPortMapMenu, std::size(kPortMapMenu)},
        {"表示(_D)", kViewMenu, std::size(kViewMenu)},
    };
    for (const cPopup& popup : popups) {
        GtkWidget* menu = gtk_menu_new();
        for (size_t i = 0; i < popup.count; ++i) {
            const cMenuItemSpec& menuItem = popup.items[i];
            if (menuItem.id == kSeparator) {
                gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
                continue;
            }
            GtkWidget* item = gtk_menu_item_new_with_mnemonic(menuItem.text);
            g_object_set_data(G_OBJECT(item), kCommandKey, GINT_TO_POINTER(menuItem.id));
            g_signal_connect(item, "activate", G_CALLBACK(OnMenuActivate), this);
            gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
            menuItems[menuItem.id] = item;
        }
        GtkWidget* top = gtk_menu_item_new_with_mnemonic(popup.text);
        gtk_menu_item_set_submenu(GTK_MENU_ITEM(top), menu);
        gtk_menu_shell_append(GTK_MENU_SHELL(menuBar), top);
    }
    gtk_box_pack_start(GTK_BOX(content), menuBar, FALSE, FALSE, 0);
    gtk_widget_show_all(menuBar);
}

void cPortWindow::impl::OnCommand(int id) {
    switch (id) {
    case kCommandAdd:
        AddMapping();
        break;
    case kCommandDelete:
        DeleteMappings();
        break;
    case kCommandRefresh:
        RefreshMappings();
        break;
    case kCommandExit:
        // As the close box: the window goes once this handler has returned.
        if (window)
            gtk_window_close(GTK_WINDOW(window));
        break;
    default:
        break;
    }
}

GtkWidget* cPortWindow::impl::GetMenuItem(int id) const {
    const auto found = menuItems.find(id);
    return found == menuItems.end() ? nullptr : found->second;
}

void cPortWindow::impl::KillStartupTimer() {
    if (timerId != 0)
        g_source_remove(timerId);
    timerId = 0;
}

bool cPortWindow::impl::ShowAddPortDialog(cUPnP::cEntry& entry) {
    return ::ShowAddPortDialog(window, entry);
}

// One shot, once the window is on screen and the main loop runs.
void cPortWindow::impl::ArmStartupTimer() {
    if (timerArmed)
        return;
    timerArmed = true;
    timerId = g_timeout_add(kStartupDelayMs, OnStartupTimer, this);
}

void cPortWindow::impl::OnMap(GtkWidget*, gpointer self) {
    static_cast<impl*>(self)->ArmStartupTimer();
}

gboolean cPortWindow::impl::OnStartupTimer(gpointer self) {
    static_cast<impl*>(self)->OnTimer();
    return G_SOURCE_REMOVE;
}

void cPortWindow::impl::OnMenuActivate(GtkMenuItem* item, gpointer self) {
    static_cast<impl*>(self)->OnCommand(
        GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), kCommandKey)));
}

void cPortWindow::impl::OnDestroy(GtkWidget*, gpointer self) {
    impl* window = static_cast<impl*>(self);
    window->KillStartupTimer();
    window->window = nullptr;
    if (gtk_main_level() > 0)
        gtk_main_quit();
}
