// The real wendrel binary, driven from outside through the X server only:
// keyboard mnemonics for refresh and exit, and its exit code.
#include <sys/types.h>
#include <sys/wait.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "fake_gateway.h"
#include "fake_ssdp.h"
#include "gui_harness.h"

// Xlib's macros (None, Bool) clash with GoogleTest's names: Xlib comes last.
#include <gdk/gdkx.h>

namespace {

constexpr const char* kTitle = "Wendrel Version 1.07(1.7.0.20)";

// The top-level X window whose name is the title, or 0.
Window FindTopLevel(Display* display) {
    Window rootReturn = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &rootReturn, &parent, &children, &count))
        return 0;
    for (unsigned i = 0; i < count && !found; ++i) {
        char* name = nullptr;
        if (XFetchName(display, children[i], &name) && name) {
            if (std::strcmp(name, kTitle) == 0)
                found = children[i];
            XFree(name);
        }
    }
    XFree(children);
    return found;
}

void PressKey(GdkWindow* window, guint keyval, GdkModifierType modifiers) {
    gdk_test_simulate_key(window, -1, -1, keyval, modifiers, GDK_KEY_PRESS);
    gdk_test_simulate_key(window, -1, -1, keyval, modifiers, GDK_KEY_RELEASE);
    gdk_display_flush(gdk_display_get_default());
}

int CountActions(const cFakeGateway& gateway, const char* action) {
    int count = 0;
    for (const cFakeGateway::cRequest& request : gateway.Requests())
        count += request.Action() == action ? 1 : 0;
    return count;
}

TEST(Binary, RefreshesAndExitsWithZeroThroughKeyboardMnemonicsWithoutWarnings) {
    cFakeGateway::cOptions options;
    options.address = kTestInterfaceAddress;
    cFakeGateway gateway(options);
    cFakeGateway::cMapping mapping;
    mapping.externalPort = 8080;
    mapping.internalPort = 80;
    mapping.internalClient = "192.0.2.20";
    gateway.SetMappings({mapping});
    cFakeSsdp ssdp;
    ssdp.EchoSearches(gateway.GetDescriptionUrl());

    GPid pid = 0;
    char* argv[] = {const_cast<char*>(WENDREL_BINARY), nullptr};
    // Any GTK warning or critical aborts the window, and the exit code shows it.
    gchar** env = g_environ_setenv(g_get_environ(), "G_DEBUG", "fatal-warnings", TRUE);
    const bool spawned = g_spawn_async(nullptr, argv, env, G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                                       nullptr, &pid, nullptr);
    g_strfreev(env);
    ASSERT_TRUE(spawned);
    int status = -1;
    bool exited = false;
    auto Reap = [&] {
        exited = exited || waitpid(pid, &status, WNOHANG) == pid;
        return exited;
    };

    Display* display = gdk_x11_get_default_xdisplay();
    Window xid = 0;
    EXPECT_TRUE(WaitUntil([&] { return (xid = FindTopLevel(display)) != 0 || Reap(); }));
    // The start-up sequence ends with the index past the end of the table.
    EXPECT_TRUE(
        WaitUntil([&] { return CountActions(gateway, "GetGenericPortMappingEntry") >= 2; }));
    if (xid != 0 && !Reap()) {
        GdkWindow* window = gdk_x11_window_foreign_new_for_display(gdk_display_get_default(), xid);
        gateway.ClearRequests();
        PressKey(window, GDK_KEY_d, GDK_MOD1_MASK);
        Pump(200);
        PressKey(window, GDK_KEY_r, GdkModifierType(0));
        EXPECT_TRUE(WaitUntil([&] {
            return CountActions(gateway, "GetGenericPortMappingEntry") >= 2;
        })) << "表示(D) 更新(R) did not refresh";

        PressKey(window, GDK_KEY_p, GDK_MOD1_MASK);
        Pump(200);
        PressKey(window, GDK_KEY_x, GdkModifierType(0));
        EXPECT_TRUE(WaitUntil(Reap)) << "ポートマップ(P) 終了(X) did not end the process";
        g_object_unref(window);
    }
    if (!Reap()) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "wendrel had to be killed";
    }
    g_spawn_close_pid(pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
