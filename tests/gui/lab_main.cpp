#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "gui_harness.h"

// Runs on the lab's client host under Xvfb (gui_lab_test.sh), next to a real
// miniupnpd; the script passes what the lab is in LAB_* variables.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    if (!std::getenv("LAB_CLIENT_ADDRESS")) {
        std::printf("SKIP: no lab; run this test through tests/gui/gui_lab_test.sh\n");
        return 77;
    }
    setenv("NO_AT_BRIDGE", "1", 1);
    InstallWarningRecorder();
    if (!gtk_init_check(nullptr, nullptr)) {
        std::printf("FAIL: no display; run this test under xvfb-run\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
