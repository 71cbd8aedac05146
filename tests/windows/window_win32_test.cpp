#include "app/window_win32.h"

#include <cstdint>
#include <new>
#include <vector>

#include <gtest/gtest.h>

#include "app/file_version_win32.h"
#include "window_test_support.h"

// A window that records the messages it handles.
class cProbeWindow : public cWindowImpl {
  public:
    LRESULT HandleMessage() override {
        handled.push_back(message);
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    int Count(UINT which) const {
        int count = 0;
        for (UINT m : handled)
            count += m == which;
        return count;
    }
    std::vector<UINT> handled;
};

namespace {

constexpr UINT kProbeMessage = WM_APP + 7;
constexpr cRect kPlacement = {10, 10, 200, 100};

class WindowFrameworkTest : public testing::Test {
  protected:
    void TearDown() override {
        for (cProbeWindow* probe : made)
            if (probe->hwnd)
                DestroyWindow(probe->hwnd);
        Pump(0);
    }
    cProbeWindow& Make() {
        owned.emplace_back(new cProbeWindow);
        made.push_back(owned.back().get());
        return *owned.back();
    }
    std::vector<std::unique_ptr<cProbeWindow>> owned;
    std::vector<cProbeWindow*> made;
};

TEST_F(WindowFrameworkTest, ClassIsNamedAfterTheMostDerivedClass) {
    cProbeWindow& probe = Make();
    ASSERT_TRUE(probe.Create(nullptr, kPlacement));
    char name[64] = "";
    GetClassNameA(probe.hwnd, name, sizeof name);
    EXPECT_STREQ(name, "cProbeWindow");
}

TEST_F(WindowFrameworkTest, SecondCreateKeepsTheOneWindow) {
    cProbeWindow& probe = Make();
    ASSERT_TRUE(probe.Create(nullptr, kPlacement));
    HWND first = probe.hwnd;
    EXPECT_TRUE(probe.Create(nullptr, kPlacement));
    EXPECT_EQ(probe.hwnd, first);
    EXPECT_EQ(probe.Count(WM_CREATE), 1);
}

TEST_F(WindowFrameworkTest, HandleIsNullFromDestroyOnAndLaterMessagesGoToTheDefault) {
    auto* probe = new cProbeWindow;
    cWindow face(probe);
    ASSERT_TRUE(probe->Create(nullptr, kPlacement));
    EXPECT_EQ(face.GetHandle(), probe->hwnd);
    DestroyWindow(probe->hwnd);
    EXPECT_EQ(face.GetHandle(), nullptr);
    EXPECT_EQ(probe->Count(WM_DESTROY), 1);
    EXPECT_EQ(probe->Count(WM_NCDESTROY), 0);
}

TEST_F(WindowFrameworkTest, MessagesForAnUnboundWindowOrAnotherObjectsWindowGoToTheDefault) {
    cProbeWindow& first = Make();
    cProbeWindow& second = Make();
    ASSERT_TRUE(first.Create(nullptr, kPlacement));
    ASSERT_TRUE(second.Create(nullptr, kPlacement));

    SetWindowLongPtrA(second.hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&first));
    SendMessageA(second.hwnd, kProbeMessage, 0, 0);
    SetWindowLongPtrA(second.hwnd, GWLP_USERDATA, 0);
    SendMessageA(second.hwnd, kProbeMessage, 0, 0);
    EXPECT_EQ(first.Count(kProbeMessage), 0);
    EXPECT_EQ(second.Count(kProbeMessage), 0);

    // The default handling still works for it.
    SendMessageA(second.hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("default"));
    EXPECT_EQ(WindowText(second.hwnd), "default");
}

TEST_F(WindowFrameworkTest, AnObjectAboveFourGigabytesIsStillReached) {
    // Window slots narrower than a pointer would cut this address.
    void* memory = VirtualAlloc(nullptr, sizeof(cProbeWindow),
                                MEM_RESERVE | MEM_COMMIT | MEM_TOP_DOWN, PAGE_READWRITE);
    ASSERT_NE(memory, nullptr);
    ASSERT_GT(reinterpret_cast<std::uintptr_t>(memory), std::uintptr_t(0xFFFFFFFFu));
    auto* probe = new (memory) cProbeWindow;
    ASSERT_TRUE(probe->Create(nullptr, kPlacement));
    SendMessageA(probe->hwnd, kProbeMessage, 0, 0);
    EXPECT_EQ(probe->Count(kProbeMessage), 1);
    DestroyWindow(probe->hwnd);
    probe->~cProbeWindow();
    VirtualFree(memory, 0, MEM_RELEASE);
}

TEST_F(WindowFrameworkTest, AFailedCreationLeavesNoObjectForTheNextWindowToBindTo) {
    cProbeWindow& failed = Make();
    // Not a window: creation fails before the window gets any message.
    EXPECT_FALSE(failed.Create(reinterpret_cast<HWND>(std::intptr_t(0x4321)), kPlacement));
    EXPECT_EQ(failed.hwnd, nullptr);

    HWND plain = CreateWindowExA(0, "cProbeWindow", "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                 nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(failed.hwnd, nullptr);
    EXPECT_TRUE(failed.handled.empty());
    DestroyWindow(plain);
}

TEST_F(WindowFrameworkTest, AnExistingClassIsReusedAndAMissingIconIsTheApplicationIcon) {
    cProbeWindow& first = Make();
    ASSERT_TRUE(first.Create(nullptr, kPlacement));
    cProbeWindow& second = Make();
    second.background = COLOR_BTNFACE + 1;
    ASSERT_TRUE(second.Create(nullptr, kPlacement));

    EXPECT_EQ(GetClassLongPtrA(second.hwnd, GCLP_HBRBACKGROUND), COLOR_WINDOW + 1);
    const auto application = reinterpret_cast<ULONG_PTR>(LoadIconA(nullptr, IDI_APPLICATION));
    EXPECT_EQ(GetClassLongPtrA(first.hwnd, GCLP_HICON), application);
    EXPECT_EQ(GetClassLongPtrA(first.hwnd, GCLP_HICONSM), application);
}

TEST_F(WindowFrameworkTest, StyleChangesReachAnExistingWindow) {
    cProbeWindow& probe = Make();
    ASSERT_TRUE(probe.Create(nullptr, kPlacement));
    probe.SetTitle("renamed");
    probe.SetExStyle(WS_EX_TOOLWINDOW);
    EXPECT_EQ(WindowText(probe.hwnd), "renamed");
    EXPECT_TRUE(GetWindowLongA(probe.hwnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
}

// The version resource of the shipped executable.
TEST(FileVersion, ReadsTheThreeStringsOfTheExecutable) {
    const cFileVersion version(WinePath(WENDREL_EXE));
    EXPECT_EQ(version.productName, "Wendrel");
    EXPECT_EQ(version.productVersion, "1.07");
    EXPECT_EQ(version.fileVersion, "1.7.0.20");
}

TEST(FileVersion, AnEmptyPathMeansTheRunningExecutable) {
    EXPECT_EQ(cFileVersion().productName, "Wendrel");
    EXPECT_NE(GetModulePath().find(".exe"), std::string::npos);
}

TEST(FileVersion, AFileWithoutAVersionResourceGivesEmptyStrings) {
    const std::string path = WinePath(WENDREL_SOURCE "/CMakeLists.txt");
    cFileVersion version(path);
    EXPECT_FALSE(version.Load(path));
    EXPECT_EQ(version.productName, "");
    EXPECT_EQ(version.productVersion, "");
    EXPECT_EQ(version.fileVersion, "");
}

} // namespace
