#include "app/port_window_win32.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <commctrl.h>

#include "app/add_port_input.h"
#include "window_test_support.h"

// The main window in this process under Wine, against the fake gateway process
// that run-window-test starts in the same private network namespace: three
// mappings (TCP 10000, UDP 10001 disabled, TCP 10002) for 192.0.2.10.
namespace {

using tTexts = std::vector<std::string>;
using tRows = std::vector<tTexts>;
using tPartText = std::pair<int, std::string>;

constexpr const char* kSearching = "デバイス検索中...";
constexpr const char* kNotFound = "UPnP対応機器が見つかりませんでした";
constexpr const char* kQueryingAddresses = "アドレス調査中...";
constexpr const char* kRefreshing = "ポートマップを調査中...";
constexpr const char* kDone = "ＯＫ！";
constexpr const char* kAdding = "ポートマップ追加中...";
constexpr const char* kDeleting = "ポートマップ削除中...";
constexpr const char* kModel = "Wendrel Test Gateway";
constexpr const char* kAddresses = "203.0.113.7 (192.0.2.10)";
constexpr const char* kLocalAddress = "192.0.2.10";
constexpr int kStartupTimeoutMs = 20000;
constexpr int kMessageBoxTextId = 0xFFFF;

const tRows kEnabledRows = {{"TCP", "10000", "192.0.2.10(20000)", "mapping 0"},
                            {"TCP", "10002", "192.0.2.10(20002)", "mapping 2"}};

// Every SB_SETTEXTA the status bar receives, in order.
class cStatusRecorder {
  public:
    explicit cStatusRecorder(HWND bar) : bar(bar) {
        recorder = this;
        original = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Proc)));
    }
    ~cStatusRecorder() {
        if (IsWindow(bar))
            SetWindowLongPtrA(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        recorder = nullptr;
    }
    std::vector<tPartText> texts;
    // "text" for each SB_SETTEXTA, "paint" for each WM_PAINT.
    std::vector<std::string> events;

  private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == SB_SETTEXTA && recorder) {
            recorder->texts.emplace_back(static_cast<int>(wParam & 0xFF),
                                         reinterpret_cast<const char*>(lParam));
            recorder->events.push_back("text");
        }
        if (message == WM_PAINT && recorder)
            recorder->events.push_back("paint");
        return CallWindowProcA(recorder ? recorder->original : DefWindowProcA, window, message,
                               wParam, lParam);
    }
    static cStatusRecorder* recorder;
    HWND bar;
    WNDPROC original = nullptr;
};
cStatusRecorder* cStatusRecorder::recorder = nullptr;

class PortWindowTest : public testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<cPortWindow::impl>();
        ASSERT_NE(window->hwnd, nullptr);
        recorder = std::make_unique<cStatusRecorder>(Bar());
        ShowWindow(window->hwnd, SW_SHOW);
    }
    void TearDown() override {
        recorder.reset();
        if (window->hwnd)
            DestroyWindow(window->hwnd);
        // WM_DESTROY posted the quit message; it must not end a later loop.
        MSG quit;
        PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    }

    HWND List() { return static_cast<HWND>(window->listView.GetHandle()); }
    HWND Bar() { return static_cast<HWND>(window->statusBar.GetHandle()); }

    std::string Part(int part) { return window->statusBar.GetText(part); }
    tRows Rows() {
        tRows rows;
        const int count = static_cast<int>(SendMessageA(List(), LVM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < count; ++row) {
            tTexts cells;
            for (int column = 0; column < kColumnCount; ++column) {
                char text[256] = "";
                LVITEMA item{};
                item.iSubItem = column;
                item.pszText = text;
                item.cchTextMax = sizeof text;
                SendMessageA(List(), LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
                cells.push_back(text);
            }
            rows.push_back(cells);
        }
        return rows;
    }
    void Tick(int row) {
        LVITEMA item{};
        item.stateMask = LVIS_STATEIMAGEMASK;
        item.state = INDEXTOSTATEIMAGEMASK(2);
        SendMessageA(List(), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    }
    tTexts MessageTexts(std::size_t from = 0) {
        tTexts texts;
        for (std::size_t i = from; i < recorder->texts.size(); ++i)
            if (recorder->texts[i].first == kStatusPartMessage)
                texts.push_back(recorder->texts[i].second);
        return texts;
    }
    void WaitForStartup() {
        ASSERT_TRUE(
            PumpUntil([&] { return Part(0) == kDone || Part(0) == kNotFound; }, kStartupTimeoutMs))
            << "status: " << Part(0);
    }
    void Command(int id) { SendMessageA(window->hwnd, WM_COMMAND, id, 0); }

    // The fake's log lines from line `from` on, once there are at least `count`.
    tTexts Requests(std::size_t from, std::size_t count) {
        const std::string path = WinePath(std::getenv("WENDREL_FAKE_LOG"));
        tTexts lines;
        PumpUntil(
            [&] {
                lines = ReadLines(path);
                return lines.size() >= from + count;
            },
            3000);
        return tTexts(lines.begin() + std::min(from, lines.size()), lines.end());
    }
    // The fake writes its log every 100 ms: the count once it stopped growing.
    std::size_t RequestCount() {
        const std::string path = WinePath(std::getenv("WENDREL_FAKE_LOG"));
        std::size_t count = ReadLines(path).size();
        for (int quiet = 0; quiet < 3;) {
            Pump(100);
            const std::size_t now = ReadLines(path).size();
            quiet = now == count ? quiet + 1 : 0;
            count = now;
        }
        return count;
    }
    // The SOAP requests among the fake's log lines, without method and path.
    static tTexts Actions(const tTexts& lines) {
        tTexts actions;
        for (const std::string& line : lines) {
            const std::size_t action = line.find(' ', line.find(' ') + 1);
            if (line.rfind("POST ", 0) == 0 && action != std::string::npos)
                actions.push_back(line.substr(action + 1));
        }
        return actions;
    }

    std::unique_ptr<cPortWindow::impl> window;
    std::unique_ptr<cStatusRecorder> recorder;
};

TEST_F(PortWindowTest, StartupShowsModelAddressesAndTheEnabledRowsInIndexOrder) {
    WaitForStartup();
    EXPECT_EQ(recorder->texts, (std::vector<tPartText>{{0, kSearching},
                                                       {2, kModel},
                                                       {0, kQueryingAddresses},
                                                       {1, kAddresses},
                                                       {0, kRefreshing},
                                                       {0, kDone}}));
    EXPECT_EQ(Part(1), kAddresses);
    EXPECT_EQ(Part(2), kModel);
    EXPECT_EQ(Part(0), "\x82\x6e\x82\x6a\x81\x49") << "not Shift-JIS";
    EXPECT_EQ(Rows(), kEnabledRows);

    // The start-up timer fired once only.
    const std::size_t requests = RequestCount();
    Pump(400);
    EXPECT_EQ(recorder->texts.size(), 6u);
    EXPECT_EQ(RequestCount(), requests);
}

TEST_F(PortWindowTest, EveryStatusTextIsPaintedBeforeTheWorkThatFollowsIt) {
    WaitForStartup();
    ASSERT_EQ(recorder->texts.size(), 6u);
    // The work blocks the only thread: a text not painted at once is never seen.
    const std::vector<std::string>& events = recorder->events;
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i] != "text")
            continue;
        EXPECT_TRUE(i + 1 < events.size() && events[i + 1] == "paint")
            << "status text at event " << i << " not painted";
    }
}

TEST_F(PortWindowTest, StartupWithNoGatewayShowsNotFoundAndNothingElse) {
    WaitForStartup();
    EXPECT_EQ(MessageTexts(), (tTexts{kSearching, kNotFound}));
    EXPECT_EQ(Part(1), "");
    EXPECT_EQ(Part(2), "");
    EXPECT_TRUE(Rows().empty());
}

TEST_F(PortWindowTest, RefreshRebuildsTheListFromTheGateway) {
    WaitForStartup();
    SendMessageA(List(), LVM_DELETEALLITEMS, 0, 0);
    const std::size_t texts = recorder->texts.size();
    const std::size_t requests = RequestCount();
    Command(kCommandRefresh);

    EXPECT_EQ(MessageTexts(texts), (tTexts{kRefreshing, kDone}));
    EXPECT_EQ(Rows(), kEnabledRows);
    EXPECT_EQ(Actions(Requests(requests, 4)),
              (tTexts{"GetGenericPortMappingEntry 0", "GetGenericPortMappingEntry 1",
                      "GetGenericPortMappingEntry 2", "GetGenericPortMappingEntry 3"}));
}

TEST_F(PortWindowTest, AddThroughTheDialogSendsTheMappingAndRefreshes) {
    WaitForStartup();
    const std::size_t texts = recorder->texts.size();
    const std::size_t requests = RequestCount();
    tTexts defaults;
    cModalDriver driver({[&] {
        HWND dialog = FindDialog(kAddPortDialogTitle);
        if (!dialog)
            return false;
        for (int id : {kFieldProtocol, kFieldExternalPort, kFieldInternalClient, kFieldInternalPort,
                       kFieldDescription})
            defaults.push_back(ControlText(dialog, id));
        SendDlgItemMessageA(dialog, kFieldProtocol, CB_SETCURSEL, 1, 0);
        SetDlgItemTextA(dialog, kFieldExternalPort, "15000");
        SetDlgItemTextA(dialog, kFieldInternalPort, "15001");
        SetDlgItemTextA(dialog, kFieldDescription, "from the dialog");
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        return true;
    }});
    Command(kCommandAdd);

    ASSERT_TRUE(driver.Done());
    EXPECT_EQ(defaults, (tTexts{"TCP", "1234", kLocalAddress, "1234", ""}));
    EXPECT_EQ(MessageTexts(texts), (tTexts{kAdding, kRefreshing, kDone}));
    const tTexts actions = Actions(Requests(requests, 1));
    ASSERT_FALSE(actions.empty());
    EXPECT_EQ(actions.front(), "AddPortMapping UDP 15000");
    const tRows rows = Rows();
    EXPECT_EQ(rows.size(), 3u);
    EXPECT_NE(std::find(rows.begin(), rows.end(),
                        tTexts{"UDP", "15000", "192.0.2.10(15001)", "from the dialog"}),
              rows.end());
}

TEST_F(PortWindowTest, RefusingGatewayAddShowsTheReasonAfterTheFailureText) {
    WaitForStartup();
    const std::size_t texts = recorder->texts.size();
    const tRows before = Rows();
    cModalDriver driver({[&] {
        HWND dialog = FindDialog(kAddPortDialogTitle);
        if (!dialog)
            return false;
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        return true;
    }});
    Command(kCommandAdd);

    ASSERT_TRUE(driver.Done());
    EXPECT_EQ(MessageTexts(texts), (tTexts{kAdding, "追加失敗！ (402 引数が不正です)"}));
    EXPECT_EQ(Rows(), before);
}

TEST_F(PortWindowTest, InvalidInputShowsTheMessageAndKeepsTheDialogOpenThenCancelChangesNothing) {
    WaitForStartup();
    const std::size_t texts = recorder->texts.size();
    const std::size_t requests = RequestCount();
    HWND dialog = nullptr;
    std::string boxText;
    std::string boxOwnerTitle;
    std::string keptPort;
    cModalDriver driver({[&] {
                             dialog = FindDialog(kAddPortDialogTitle);
                             if (!dialog)
                                 return false;
                             SetDlgItemTextA(dialog, kFieldExternalPort, "0");
                             PostMessageA(dialog, WM_COMMAND, IDOK, 0);
                             return true;
                         },
                         [&] {
                             HWND box = FindDialog(kInvalidInputCaption);
                             if (!box)
                                 return false;
                             boxText = ControlText(box, kMessageBoxTextId);
                             boxOwnerTitle = WindowText(GetWindow(box, GW_OWNER));
                             PostMessageA(box, WM_COMMAND, IDOK, 0);
                             return true;
                         },
                         [&] {
                             if (FindDialog(kInvalidInputCaption))
                                 return false;
                             keptPort = ControlText(dialog, kFieldExternalPort);
                             PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
                             return true;
                         }});
    Command(kCommandAdd);

    ASSERT_TRUE(driver.Done());
    EXPECT_EQ(boxText, kInvalidInputText);
    EXPECT_EQ(boxOwnerTitle, kAddPortDialogTitle);
    EXPECT_EQ(keptPort, "0");
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(recorder->texts.size(), texts) << "the status bar changed";
    Pump(300);
    EXPECT_EQ(RequestCount(), requests) << "the gateway was asked";
    EXPECT_EQ(Rows(), kEnabledRows);
}

TEST_F(PortWindowTest, ClosingTheDialogChangesNothing) {
    WaitForStartup();
    const std::size_t texts = recorder->texts.size();
    cModalDriver driver({[&] {
        HWND dialog = FindDialog(kAddPortDialogTitle);
        if (dialog)
            PostMessageA(dialog, WM_CLOSE, 0, 0);
        return dialog != nullptr;
    }});
    Command(kCommandAdd);
    ASSERT_TRUE(driver.Done());
    EXPECT_EQ(recorder->texts.size(), texts);
    EXPECT_EQ(Rows(), kEnabledRows);
}

TEST_F(PortWindowTest, DeleteSendsOneRequestPerTickedRowInRowOrderThenRefreshesOnce) {
    WaitForStartup();
    std::size_t texts = recorder->texts.size();
    std::size_t requests = RequestCount();
    Command(kCommandDelete);
    EXPECT_EQ(recorder->texts.size(), texts) << "nothing ticked, yet the status changed";
    Pump(300);
    EXPECT_EQ(RequestCount(), requests);

    Tick(1);
    Tick(0);
    Command(kCommandDelete);
    EXPECT_EQ(MessageTexts(texts), (tTexts{kDeleting, kDeleting, kRefreshing, kDone}));
    const tTexts actions = Actions(Requests(requests, 4));
    EXPECT_EQ(actions, (tTexts{"DeletePortMapping TCP 10000", "DeletePortMapping TCP 10002",
                               "GetGenericPortMappingEntry 0", "GetGenericPortMappingEntry 1"}));
    EXPECT_TRUE(Rows().empty()) << "only the disabled mapping is left";
}

TEST_F(PortWindowTest, ColumnsHaveTheirWidthsTextsAndOnlyThePortIsRightAligned) {
    ASSERT_EQ(Header_GetItemCount(ListView_GetHeader(List())), kColumnCount);
    const tTexts names = {"プロトコル", "ポート", "クライアント", "コメント"};
    const int widths[] = {80, 50, 150, 260};
    for (int column = 0; column < kColumnCount; ++column) {
        char text[64] = "";
        LVCOLUMNA info{};
        info.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        info.pszText = text;
        info.cchTextMax = sizeof text;
        ASSERT_TRUE(SendMessageA(List(), LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(&info)));
        EXPECT_EQ(text, names[column]);
        EXPECT_EQ(info.cx, widths[column]);
        EXPECT_EQ(info.fmt & LVCFMT_JUSTIFYMASK, column == 1 ? LVCFMT_RIGHT : LVCFMT_LEFT);
    }
    const DWORD extended =
        static_cast<DWORD>(SendMessageA(List(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_EQ(extended & 0x25u, DWORD(LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT));
    EXPECT_EQ(GetWindowLongA(List(), GWL_STYLE) & 0x00028003, 0x00028001);
}

TEST_F(PortWindowTest, WindowHasItsClassTitleMenuStylesAndStatusParts) {
    char name[64] = "";
    GetClassNameA(window->hwnd, name, sizeof name);
    EXPECT_STREQ(name, "cPortWindow::impl");
    EXPECT_EQ(WindowText(window->hwnd), "Wendrel Version 1.07(1.7.0.20)");
    EXPECT_EQ(GetWindowLongA(window->hwnd, GWL_EXSTYLE) & 0x00010010, 0x00010010);
    HMENU menu = GetMenu(window->hwnd);
    ASSERT_NE(menu, nullptr);
    char item[64] = "";
    GetMenuStringA(menu, kCommandExit, item, sizeof item, MF_BYCOMMAND);
    EXPECT_STREQ(item, "終了(&X)");

    int edges[4] = {};
    EXPECT_EQ(SendMessageA(Bar(), SB_GETPARTS, 4, reinterpret_cast<LPARAM>(edges)), 3);
    EXPECT_EQ(edges[0], 200);
    EXPECT_EQ(edges[1], 400);
    EXPECT_EQ(Part(0), "") << "the search started before the loop ran";
}

TEST_F(PortWindowTest, ListFillsTheClientAreaAboveTheStatusBarAtAnySize) {
    RECT client;
    GetClientRect(window->hwnd, &client);
    RECT list;
    RECT bar;
    GetWindowRect(List(), &list);
    GetWindowRect(Bar(), &bar);
    MapWindowPoints(nullptr, window->hwnd, reinterpret_cast<POINT*>(&list), 2);
    MapWindowPoints(nullptr, window->hwnd, reinterpret_cast<POINT*>(&bar), 2);
    const int barHeight = bar.bottom - bar.top;
    EXPECT_EQ(list.top, 0);
    EXPECT_EQ(list.right - list.left, client.right);
    EXPECT_EQ(list.bottom, client.bottom - barHeight);
    EXPECT_EQ(bar.top, client.bottom - barHeight);
    EXPECT_EQ(bar.right - bar.left, client.right);

    // Lower than the status bar: the bar still ends at the client height.
    RECT frame;
    GetWindowRect(window->hwnd, &frame);
    const int frameHeight = frame.bottom - frame.top - client.bottom;
    SetWindowPos(window->hwnd, nullptr, 0, 0, 300, frameHeight + barHeight / 2,
                 SWP_NOMOVE | SWP_NOZORDER);
    GetClientRect(window->hwnd, &client);
    ASSERT_LT(client.bottom, barHeight);
    GetWindowRect(Bar(), &bar);
    MapWindowPoints(nullptr, window->hwnd, reinterpret_cast<POINT*>(&bar), 2);
    EXPECT_EQ(bar.top, client.bottom - barHeight);
    EXPECT_EQ(bar.right - bar.left, client.right);
}

TEST_F(PortWindowTest, AnUnknownCommandGoesToTheDefaultHandling) {
    const std::size_t texts = recorder->texts.size();
    EXPECT_EQ(SendMessageA(window->hwnd, WM_COMMAND, 199, 0), 0);
    EXPECT_TRUE(IsWindow(window->hwnd));
    EXPECT_EQ(recorder->texts.size(), texts);
}

// wendrel.exe itself: the exit command and the close box both end it with 0.
class ProgramTest : public testing::TestWithParam<UINT> {};

struct cProcessWindow {
    DWORD process;
    HWND found;
};

BOOL CALLBACK MatchMainWindow(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<cProcessWindow*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    if (process == search->process && std::string(name) == "cPortWindow::impl") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

TEST_P(ProgramTest, EndsWithExitCodeZero) {
    std::string command = "\"" + WinePath(WENDREL_EXE) + "\" ignored arguments";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
    cProcessWindow search{process.dwProcessId, nullptr};
    ASSERT_TRUE(PumpUntil(
        [&] {
            EnumWindows(MatchMainWindow, reinterpret_cast<LPARAM>(&search));
            return search.found && IsWindowVisible(search.found);
        },
        kStartupTimeoutMs));
    EXPECT_FALSE(IsIconic(search.found));
    if (GetParam() == WM_CLOSE)
        PostMessageA(search.found, WM_CLOSE, 0, 0);
    else
        PostMessageA(search.found, WM_COMMAND, kCommandExit, 0);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, kStartupTimeoutMs), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

INSTANTIATE_TEST_SUITE_P(Wendrel, ProgramTest, testing::Values(UINT(WM_COMMAND), UINT(WM_CLOSE)),
                         [](const testing::TestParamInfo<UINT>& info) {
                             return info.param == WM_CLOSE ? "CloseBox" : "ExitCommand";
                         });

TEST(PortWindowInstance, IsOneProcessWideWindowOfItsOwnClass) {
    cPortWindow& window = cPortWindow::GetInstance();
    EXPECT_EQ(&window, &cPortWindow::GetInstance());
    HWND handle = static_cast<HWND>(window.GetHandle());
    ASSERT_NE(handle, nullptr);
    EXPECT_FALSE(IsWindowVisible(handle)) << "shown before the entry shows it";
    DestroyWindow(handle);
    EXPECT_EQ(window.GetHandle(), nullptr);
    MSG quit;
    EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 0u);
}

} // namespace
