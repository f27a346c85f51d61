#pragma once
// The schedule list: a report view whose rows each carry the slot they show.
// A header click sorts by that column's text: ascending, or descending when
// the same column was last sorted ascending; texts compare byte by byte in
// GBK with ASCII letters folded to one case, and empty texts always sort last.
#include <QTreeWidget>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "workflow/schedule_slot.h"

namespace quilora {

// The bytes that a cell text sorts by (GBK, ASCII letters upper-cased).
std::string ListSortKey(std::string_view utf8);
// Whether a row with key a goes before one with key b; empty keys go last
// in either direction.
bool ListSortsBefore(const std::string& a, const std::string& b, bool ascending);

class ScheduleList : public QTreeWidget {
    Q_OBJECT
public:
    explicit ScheduleList(QWidget* parent = nullptr);

    // cells: the texts of the columns, the first being the row's caption.
    void AddRow(std::shared_ptr<const ScheduleSlot> slot, const std::vector<std::string>& cells);
    void Clear(); // the rows go; a slot held elsewhere stays valid
    int RowCount() const { return topLevelItemCount(); }
    int SelectedIndex() const; // -1 when no row is selected
    void SelectRow(int index); // -1 selects nothing
    std::shared_ptr<const ScheduleSlot> SlotAt(int index) const;
    std::string CellText(int index, int column) const;

    // The header click.
    void SortByColumn(int column);
    // Sorts ascending whatever sort was in force (the end of a refresh).
    void SortAscending(int column);

    int SortColumn() const { return sortColumn_; }
    bool SortedAscending() const { return sortAscending_; }

private:
    void Sort(int column, bool ascending);
    QTreeWidgetItem* Row(int index) const;

    int sortColumn_ = -1;
    bool sortAscending_ = false;
};

} // namespace quilora
