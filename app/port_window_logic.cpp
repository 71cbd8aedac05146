#include "app/port_window_logic.h"

#include "mapping/failure.h"
#include "support/text.h"

namespace {

constexpr const char* kClientFormat = "%s(%d)";

constexpr const char* kTextSearching = "デバイス検索中...";
constexpr const char* kTextNotFound = "UPnP対応機器が見つかりませんでした";
constexpr const char* kTextQueryingAddresses = "アドレス調査中...";
constexpr const char* kTextRefreshing = "ポートマップを調査中...";
constexpr const char* kTextDone = "ＯＫ！";
constexpr const char* kTextAdding = "ポートマップ追加中...";
constexpr const char* kTextAddFailed = "追加失敗！";
constexpr const char* kTextDeleting = "ポートマップ削除中...";
constexpr const char* kTextDeleteFailed = "削除失敗！";

const char* OrEmpty(const char* text) {
    return text ? text : "";
}

bool IsReadable(const cUPnP::cEntry& entry) {
    return !entry.protocol.empty() && entry.externalPort != 0;
}

// A failure's status text followed by the gateway's reason, when one is known.
std::string WithReason(const char* text) {
    return text + JapaneseReasonSuffix(cUPnP::GetInstance().GetLastFailure());
}

} // namespace

bool cPortWindowLogic::CreateControls(gui::tHandle parent) {
    if (!listView.Create(parent, {0, 0, kClientWidth, kClientHeight}, "", 0))
        return false;
    listView.EnableCheckBoxes();
    for (const cColumnSpec& column : kColumns)
        listView.AddColumn(column.text, column.width, column.alignment);
    if (!statusBar.Create(parent, {0, 0, 0, 0}, "", 0))
        return false;
    statusBar.SetParts(kStatusPartEdges, kStatusPartCount);
    return true;
}

void cPortWindowLogic::OnTimer() {
    KillStartupTimer();
    SetStatus(kTextSearching);
    if (!cUPnP::GetInstance().Discover(kDiscoverTimeoutMs)) {
        SetStatus(kTextNotFound);
        return;
    }
    statusBar.SetText(kStatusPartModel, OrEmpty(cUPnP::GetInstance().GetModelName()));
    SetStatus(kTextQueryingAddresses);

    std::string external;
    std::string local;
    if (cUPnP::GetInstance().GetExternalAddress(external) &&
        cUPnP::GetInstance().GetLocalAddress(local)) {
        statusBar.SetText(kStatusPartAddress, (external + " (" + local + ")").c_str());
    }
    RefreshMappings();
}

void cPortWindowLogic::SetStatus(const char* text) {
    statusBar.SetText(kStatusPartMessage, text);
}

bool cPortWindowLogic::RefreshMappings() {
    SetStatus(kTextRefreshing);
    listView.DeleteAllItems();
    cUPnP::cEntry entry;
    for (int index = 0; index < kMaxMappingEntries; ++index) {
        if (!cUPnP::GetInstance().GetPortMappingEntry(index, entry))
            break;
        // An answer without protocol or port could not be read: no row of zeros.
        if (!entry.enabled || !IsReadable(entry))
            continue;
        listView.InsertItem(entry.protocol.c_str(), 0);
        const int row = listView.GetItemCount() - 1;
        listView.SetItemText(row, 1, DecimalText(entry.externalPort).c_str());
        listView.SetItemText(
            row, 2,
            FormatString(kClientFormat, entry.internalClient.c_str(), entry.internalPort).c_str());
        listView.SetItemText(row, 3, entry.description.c_str());
    }
    SetStatus(kTextDone);
    return true;
}

bool cPortWindowLogic::AddMapping() {
    cUPnP::cEntry entry;
    if (!ShowAddPortDialog(entry))
        return false;
    SetStatus(kTextAdding);
    if (!cUPnP::GetInstance().AddPortMapping(entry)) {
        SetStatus(WithReason(kTextAddFailed).c_str());
        return false;
    }
    RefreshMappings();
    return true;
}

bool cPortWindowLogic::DeleteMappings() {
    // Rows stay as they are until the refresh, so the indices hold.
    const int count = listView.GetItemCount();
    bool any = false;
    std::string failed;
    for (int row = 0; row < count; ++row) {
        if (!listView.IsChecked(row))
            continue;
        any = true;
        SetStatus(kTextDeleting);
        cUPnP::cEntry entry;
        entry.protocol = listView.GetItemText(row, 0);
        entry.externalPort = ReadInt(listView.GetItemText(row, 1));
        if (!cUPnP::GetInstance().DeletePortMapping(entry))
            failed = WithReason(kTextDeleteFailed);
    }
    if (any)
        RefreshMappings();
    // The refresh shows what the gateway kept; the reason outlives it.
    if (!failed.empty())
        SetStatus(failed.c_str());
    return true;
}
