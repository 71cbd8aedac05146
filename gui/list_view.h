#pragma once

#include <cstdint>
#include <string>

#include "gui/control.h"

namespace gui {

// Column alignments (the Win32 LVCFMT_ values).
constexpr int kAlignLeft = 0;
constexpr int kAlignRight = 1;

// A report-style list: columns of text, one optional check box per row, no
// sortable headers, grid lines, full-row selection. Every operation does
// nothing, or returns 0, false or an empty text, before Create succeeded.
// Texts are the platform's byte strings (UTF-8 with GTK, which shows invalid
// sequences as U+FFFD; the ANSI code page on Windows).
class cListView : public cControl {
  public:
    cListView();

    // Appends a column at index GetColumnCount().
    void AddColumn(const char* text, int width, int alignment);
    int GetColumnCount();
    // Appends a row whose column 0 reads `text`; returns its index.
    int InsertItem(const char* text, std::intptr_t param);
    void SetItemText(int row, int column, const char* text);
    // Empty for a row or column that does not exist.
    std::string GetItemText(int row, int column);
    int GetItemCount();
    void DeleteAllItems();
    // Gives every row a check box, unticked for new rows.
    void EnableCheckBoxes();
    bool IsChecked(int row);

  protected:
    void OnCreated() override;
};

} // namespace gui
