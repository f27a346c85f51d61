#include "app/schedule_list.h"

#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>
#include <numeric>

#include "common/errors.h"
#include "common/gbk.h"

namespace quilora {
namespace {

struct Column {
    const char* caption;
    int width;
};
constexpr Column kColumns[] = {
    {"日期", 120}, {"时间段", 50}, {"门诊类型", 100}, {"星期", 100}, {"状态", 278}};

class ScheduleItem : public QTreeWidgetItem {
public:
    explicit ScheduleItem(std::shared_ptr<const ScheduleSlot> slot) : slot_(std::move(slot)) {}
    const std::shared_ptr<const ScheduleSlot>& Slot() const { return slot_; }

private:
    std::shared_ptr<const ScheduleSlot> slot_;
};

// Qt's item views have no grid lines of their own.
class GridDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(option.palette.color(QPalette::Midlight));
        const QRect r = option.rect;
        painter->drawLine(r.topRight(), r.bottomRight());
        painter->drawLine(r.bottomLeft(), r.bottomRight());
        painter->restore();
    }
};

} // namespace

std::string ListSortKey(std::string_view utf8) {
    std::string key;
    try {
        key = Utf8ToCharset(utf8, "GBK");
    } catch (const std::exception&) {
        key.assign(utf8); // a text without a GBK form sorts by its UTF-8 bytes
    }
    for (char& c : key)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return key;
}

bool ListSortsBefore(const std::string& a, const std::string& b, bool ascending) {
    if (a.empty() || b.empty())
        return !a.empty() && b.empty();
    // std::string compares as unsigned bytes (char_traits<char>::lt)
    return ascending ? a < b : b < a;
}

ScheduleList::ScheduleList(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setItemDelegate(new GridDelegate(this));

    QStringList captions;
    for (const Column& c : kColumns)
        captions << QString::fromUtf8(c.caption);
    setHeaderLabels(captions);
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i)
        setColumnWidth(i, kColumns[i].width);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(false);
    connect(header(), &QHeaderView::sectionClicked, this, &ScheduleList::SortByColumn);

    // The chosen row stays marked when the list loses the focus.
    QPalette pal = palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(pal);
}

void ScheduleList::AddRow(std::shared_ptr<const ScheduleSlot> slot, const std::vector<std::string>& cells) {
    auto* item = new ScheduleItem(std::move(slot)); // owned by the list once added
    for (std::size_t i = 0; i < cells.size() && i < std::size(kColumns); ++i)
        item->setText(static_cast<int>(i), QString::fromStdString(cells[i]));
    addTopLevelItem(item);
}

void ScheduleList::Clear() {
    clear();
}

int ScheduleList::SelectedIndex() const {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? -1 : indexOfTopLevelItem(selected.first());
}

void ScheduleList::SelectRow(int index) {
    clearSelection();
    if (index < 0)
        return;
    QTreeWidgetItem* item = Row(index);
    setCurrentItem(item);
    item->setSelected(true);
}

std::shared_ptr<const ScheduleSlot> ScheduleList::SlotAt(int index) const {
    return static_cast<const ScheduleItem*>(Row(index))->Slot();
}

std::string ScheduleList::CellText(int index, int column) const {
    return Row(index)->text(column).toStdString();
}

void ScheduleList::SortByColumn(int column) {
    Sort(column, !(column == sortColumn_ && sortAscending_));
}

void ScheduleList::SortAscending(int column) {
    Sort(column, true);
}

void ScheduleList::Sort(int column, bool ascending) {
    QTreeWidgetItem* selected = SelectedIndex() >= 0 ? Row(SelectedIndex()) : nullptr;
    QList<QTreeWidgetItem*> rows = invisibleRootItem()->takeChildren();

    std::vector<std::string> keys;
    keys.reserve(rows.size());
    for (const QTreeWidgetItem* row : rows)
        keys.push_back(ListSortKey(row->text(column).toStdString()));
    std::vector<qsizetype> order(rows.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](qsizetype a, qsizetype b) { return ListSortsBefore(keys[a], keys[b], ascending); });
    QList<QTreeWidgetItem*> sorted;
    sorted.reserve(rows.size());
    for (qsizetype i : order)
        sorted.push_back(rows[i]);
    addTopLevelItems(sorted);

    if (selected) {
        setCurrentItem(selected);
        selected->setSelected(true);
    }
    sortColumn_ = column;
    sortAscending_ = ascending;
    header()->setSortIndicatorShown(true);
    header()->setSortIndicator(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

QTreeWidgetItem* ScheduleList::Row(int index) const {
    if (index < 0 || index >= topLevelItemCount())
        throw QuiloraError("List index out of bounds (" + std::to_string(index) + ")");
    return topLevelItem(index);
}

} // namespace quilora
