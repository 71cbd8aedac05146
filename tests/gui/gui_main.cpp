#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "gui_harness.h"
#include "private_netns.h"

// The window searches the network, so its tests run only inside the private
// namespace of tests/in-private-netns, and under Xvfb (tests/gui/run-gui-test).
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();

    std::string why;
    if (!InPrivateTestNetns(why)) {
        std::printf("SKIP: %s; run this test through tests/gui/run-gui-test\n", why.c_str());
        return 77;
    }
    // No accessibility bus under Xvfb; core events so that sent keys arrive.
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("GDK_CORE_DEVICE_EVENTS", "1", 1);
    InstallWarningRecorder();
    if (!gtk_init_check(nullptr, nullptr)) {
        std::printf("FAIL: no display; run this test under xvfb-run\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
