#include "gui/list_view.h"

#include <windows.h>

#include <commctrl.h>

namespace gui {

namespace {

// The longest cell text read back, terminator included.
constexpr int kTextLimit = 4096;
// State image 1 is the unticked box; 0 (no box) and 2 (ticked) count as ticked.
constexpr UINT kUncheckedImage = 1;

HWND Window(tHandle handle) {
    return static_cast<HWND>(handle);
}

// Extended styles are added to, never replaced.
void AddExtendedStyle(tHandle handle, DWORD bits) {
    const LRESULT current = SendMessageA(Window(handle), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
    SendMessageA(Window(handle), LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 static_cast<LPARAM>(current) | static_cast<LPARAM>(bits));
}

} // namespace

cListView::cListView()
    : cControl(WC_LISTVIEWA, LVS_REPORT | LVS_NOSORTHEADER | WS_GROUP, WS_EX_CLIENTEDGE) {}

void cListView::OnCreated() {
    AddExtendedStyle(handle, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
}

void cListView::AddColumn(const char* text, int width, int alignment) {
    if (!handle)
        return;
    LVCOLUMNA column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.fmt = alignment;
    column.cx = width;
    column.pszText = const_cast<char*>(text);
    SendMessageA(Window(handle), LVM_INSERTCOLUMNA, GetColumnCount(),
                 reinterpret_cast<LPARAM>(&column));
}

int cListView::GetColumnCount() {
    if (!handle)
        return 0;
    HWND header = reinterpret_cast<HWND>(SendMessageA(Window(handle), LVM_GETHEADER, 0, 0));
    if (!header)
        return 0;
    const int count = static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
    return count < 0 ? 0 : count;
}

int cListView::InsertItem(const char* text, std::intptr_t param) {
    if (!handle)
        return 0;
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = GetItemCount();
    item.iSubItem = 0;
    item.pszText = const_cast<char*>(text);
    item.lParam = param;
    return static_cast<int>(
        SendMessageA(Window(handle), LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

void cListView::SetItemText(int row, int column, const char* text) {
    if (!handle)
        return;
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text);
    SendMessageA(Window(handle), LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

std::string cListView::GetItemText(int row, int column) {
    if (!handle)
        return std::string();
    char buffer[kTextLimit] = "";
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = kTextLimit;
    if (!SendMessageA(Window(handle), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)))
        return std::string();
    // The control may point pszText at its own copy instead of filling ours.
    return item.pszText ? std::string(item.pszText) : std::string();
}

int cListView::GetItemCount() {
    if (!handle)
        return 0;
    return static_cast<int>(SendMessageA(Window(handle), LVM_GETITEMCOUNT, 0, 0));
}

void cListView::DeleteAllItems() {
    if (handle)
        SendMessageA(Window(handle), LVM_DELETEALLITEMS, 0, 0);
}

void cListView::EnableCheckBoxes() {
    if (handle)
        AddExtendedStyle(handle, LVS_EX_CHECKBOXES);
}

bool cListView::IsChecked(int row) {
    if (!handle)
        return false;
    const UINT state =
        static_cast<UINT>(SendMessageA(Window(handle), LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK));
    return (state >> 12) != kUncheckedImage;
}

} // namespace gui
