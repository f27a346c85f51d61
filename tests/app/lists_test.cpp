// The window's list widgets: schedule list sorting and row data, the patient
// radio group and the tagged drop-down lists.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QHeaderView>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

#include "app/combo_sink.h"
#include "app/radio_group.h"
#include "app/schedule_list.h"
#include "common/errors.h"

namespace quilora::testing {
namespace {

std::vector<std::string> Column(const ScheduleList& list, int column) {
    std::vector<std::string> out;
    for (int i = 0; i < list.RowCount(); ++i)
        out.push_back(list.CellText(i, column));
    return out;
}

// Clinic types in GBK order differ from their Unicode order: 平 < 特 < 专.
ScheduleList& Filled(ScheduleList& list) {
    const char* types[] = {"专家诊", "平诊", "", "特诊", "abd", "ABC"};
    int sn = 0;
    for (const char* type : types) {
        auto slot = std::make_shared<ScheduleSlot>();
        slot->sn = ++sn;
        slot->date = "2024-03-0" + std::to_string(7 - sn);
        list.AddRow(slot, {slot->date, "上午", type, "星期一", "正常"});
    }
    return list;
}

using Texts = std::vector<std::string>;

TEST(ScheduleList, ShowsItsFiveColumnsAtTheirWidthsAsAReadOnlyRowList) {
    ScheduleList list;
    const struct {
        const char* caption;
        int width;
    } columns[] = {{"日期", 120}, {"时间段", 50}, {"门诊类型", 100}, {"星期", 100}, {"状态", 278}};
    ASSERT_EQ(list.columnCount(), static_cast<int>(std::size(columns)));
    for (int i = 0; i < list.columnCount(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(list.headerItem()->text(i).toStdString(), columns[i].caption);
        EXPECT_EQ(list.columnWidth(i), columns[i].width);
    }
    EXPECT_EQ(list.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list.editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_FALSE(list.rootIsDecorated());
}

TEST(ScheduleList, HeaderClicksSortAscendingThenToggleWithEmptyTextsLast) {
    ScheduleList list;
    Filled(list);
    const Texts ascending = {"ABC", "abd", "平诊", "特诊", "专家诊", ""};
    const Texts descending = {"专家诊", "特诊", "平诊", "abd", "ABC", ""};

    list.SortByColumn(2);
    EXPECT_EQ(Column(list, 2), ascending);
    list.SortByColumn(2);
    EXPECT_EQ(Column(list, 2), descending);
    EXPECT_EQ(list.header()->sortIndicatorSection(), 2);
    EXPECT_EQ(list.header()->sortIndicatorOrder(), Qt::DescendingOrder);
    list.SortByColumn(2);
    EXPECT_EQ(Column(list, 2), ascending);

    // Another column starts ascending; the refresh's sort makes the next click descend.
    list.SortByColumn(0);
    EXPECT_EQ(Column(list, 0).front(), "2024-03-01");
    list.SortByColumn(2);
    list.SortByColumn(2);
    list.SortAscending(0);
    EXPECT_EQ(Column(list, 0).front(), "2024-03-01");
    list.SortByColumn(0);
    EXPECT_EQ(Column(list, 0).front(), "2024-03-06");
}

TEST(ScheduleList, ClickingTheHeaderSortsAndRowsKeepTheirSlotsAndSelection) {
    ScheduleList list;
    Filled(list);
    list.resize(700, 200);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    EXPECT_EQ(list.SelectedIndex(), -1);
    list.SelectRow(1); // sn 2, "平诊"

    QHeaderView* header = list.header();
    const QPoint middleOfType(header->sectionViewportPosition(2) + header->sectionSize(2) / 2,
                              header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, middleOfType);

    EXPECT_EQ(Column(list, 2).front(), "ABC");
    for (int i = 0; i < list.RowCount(); ++i)
        EXPECT_EQ(list.SlotAt(i)->date, list.CellText(i, 0));
    ASSERT_EQ(list.SelectedIndex(), 2);
    EXPECT_EQ(list.SlotAt(list.SelectedIndex())->sn, 2);
    EXPECT_TRUE(header->isSortIndicatorShown());
}

TEST(ScheduleList, ClearingKeepsSlotsHeldElsewhereAndBadRowsThrow) {
    ScheduleList list;
    Filled(list);
    std::shared_ptr<const ScheduleSlot> held = list.SlotAt(0);
    list.Clear();
    EXPECT_EQ(list.RowCount(), 0);
    EXPECT_EQ(held->sn, 1);
    EXPECT_THROW(list.SlotAt(0), QuiloraError);
    EXPECT_THROW(list.CellText(-1, 0), QuiloraError);
}

TEST(ScheduleList, SortKeysFoldAsciiCaseOnly) {
    EXPECT_EQ(ListSortKey("aBc"), ListSortKey("AbC"));
    EXPECT_NE(ListSortKey("平诊"), ListSortKey("特诊"));
    EXPECT_TRUE(ListSortsBefore(ListSortKey("平诊"), ListSortKey("专家诊"), true));
    EXPECT_FALSE(ListSortsBefore(ListSortKey(""), ListSortKey("a"), false));
    EXPECT_TRUE(ListSortsBefore(ListSortKey("a"), ListSortKey(""), false));
}

TEST(RadioGroup, ItemsCarryTagsAndOneSelection) {
    RadioGroup group(QStringLiteral("请选择就诊人"));
    EXPECT_EQ(group.ItemIndex(), -1);
    group.AddItem("张三", 1001);
    group.AddItem("李四", 1002);
    group.AddItem("王五", -7);
    EXPECT_EQ(group.Count(), 3);
    EXPECT_EQ(group.ItemIndex(), -1);

    group.SetItemIndex(0);
    group.SetItemIndex(2);
    EXPECT_EQ(group.ItemIndex(), 2);
    EXPECT_EQ(group.Tag(2), -7);
    EXPECT_EQ(group.Caption(1), "李四");

    group.show();
    auto buttons = group.findChildren<QRadioButton*>();
    ASSERT_EQ(buttons.size(), 3);
    QTest::mouseClick(buttons[1], Qt::LeftButton);
    EXPECT_EQ(group.ItemIndex(), 1);

    group.SetItemIndex(-1);
    EXPECT_EQ(group.ItemIndex(), -1);
    EXPECT_THROW(group.Tag(3), QuiloraError);

    group.Clear();
    EXPECT_EQ(group.Count(), 0);
    EXPECT_EQ(group.ItemIndex(), -1);
    group.AddItem("赵六", 9);
    group.SetItemIndex(0);
    EXPECT_EQ(group.Tag(group.ItemIndex()), 9);
}

TEST(ComboSink, EntriesCarryTagsOrIdentifierTextsAndCodeSelectsSilently) {
    QComboBox box;
    QSignalSpy chosen(&box, &QComboBox::activated);
    ComboBoxSink sink(box);
    EXPECT_THROW(SelectedTag(box), QuiloraError);
    EXPECT_EQ(SelectedText(box), "");

    sink.AddInteger("北京", 0);
    sink.AddInteger("  朝阳", 110105);
    sink.AddText("医保卡", "2");
    sink.Select(1);
    EXPECT_EQ(SelectedTag(box), 110105);
    EXPECT_EQ(SelectedText(box), "  朝阳");
    EXPECT_EQ(FindTag(box, 0), 0);
    EXPECT_EQ(FindTag(box, 2), -1); // an identifier text is no tag
    EXPECT_EQ(FindIdText(box, "2"), 2);
    EXPECT_EQ(ItemIdText(box, 2), "2");
    EXPECT_EQ(ItemIdText(box, 0), "");
    EXPECT_EQ(chosen.count(), 0);

    // The user's choice is what runs a change handler.
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    QTest::keyClick(&box, Qt::Key_Up);
    EXPECT_EQ(chosen.count(), 1);
    EXPECT_EQ(SelectedTag(box), 0);

    sink.Clear();
    EXPECT_EQ(sink.Count(), 0);
    EXPECT_FALSE(HasSelection(box));
    // Adding to an empty list selects nothing: only Select does.
    sink.AddInteger("上海", 20);
    sink.AddText("就诊卡", "1");
    EXPECT_FALSE(HasSelection(box));
}

} // namespace
} // namespace quilora::testing
