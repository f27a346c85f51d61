// The auto-booking list and the booking record through the real window
// (offscreen) against the in-process demo portal: adding slots, two doctors
// watched at once, a restart with the list armed, and the record's page.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/combo_sink.h"
#include "app/dialogs.h"
#include "app/radio_group.h"
#include "app/schedule_list.h"
#include "app/tmain.h"
#include "catalogue/schema.h"
#include "portal/demo_portal.h"
#include "support/crawled_catalogue.h"
#include "support/later_slots.h"
#include "workflow/watch_list.h"

namespace quilora {
namespace {

using portal::DemoPortal;
using portal::PortalOptions;
namespace state = portal::state;

constexpr int kTestTickMs = 40;
constexpr int kWaitMs = 15000;

PortalOptions Options() {
    PortalOptions o;
    o.port = o.scriptPort = 0;
    o.releaseAfterPolls = 0;
    return o;
}

const QString& CrawledCatalogue() {
    static QTemporaryDir dir;
    static const QString path = [] {
        DemoPortal source(Options());
        source.Start();
        test::CrawlIntoSqlite(source, dir.path().toStdString(), "template.db");
        return dir.filePath(QStringLiteral("template.db"));
    }();
    return path;
}

class WindowWatchList : public ::testing::Test {
protected:
    void SetUp() override {
        portal = std::make_unique<DemoPortal>(Options());
        portal->Start();
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QFile::copy(CrawledCatalogue(), dir.filePath(QStringLiteral("cat.db"))));
        OpenWindow();
    }
    void TearDown() override {
        window.reset();
        portal.reset();
    }
    // A new window on the same Config.ini and catalogue (a restart).
    void OpenWindow(const std::string& passwd = {}) {
        window.reset();
        if (!configWritten_ || !passwd.empty()) {
            std::ofstream ini(dir.filePath(QStringLiteral("Config.ini")).toStdString());
            ini << "[Data]\nConnect=Provider=SQLite;Data Source=cat.db\nCardNo=" << account().cardNumber
                << "\nPortalUrl=" << portal->BaseUrl() << "\nScriptUrl=" << portal->ScriptUrl() << "\n"
                << (passwd.empty() ? "" : "Passwd=" + passwd + "\n");
            configWritten_ = true;
        }
        window = std::make_unique<TMain>(dir.path());
        window->tmrOrder->setInterval(kTestTickMs);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    const portal::Account& account() const { return portal->DemoAccount(); }

    void Click(QPushButton* button) {
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([this] { return !window->Waiting(); }, kWaitMs));
    }
    void SignIn() {
        window->edtPasswd->clear();
        QTest::keyClicks(window->edtPasswd, QString::fromStdString(account().password));
        Click(window->btnLogin);
        ASSERT_FALSE(window->loginCardNo.empty());
    }
    void Choose(QComboBox* box, int tag) {
        const int index = FindTag(*box, tag);
        ASSERT_GE(index, 0) << "no entry with tag " << tag;
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
    // The doctor's schedule listed, the row of this slot selected.
    void SelectSlot(const portal::Doctor& doctor, int sn) {
        const portal::Hospital* hospital = portal->GetCatalogue().FindHospital(doctor.hospitalId);
        ASSERT_NE(hospital, nullptr);
        Choose(window->cbxArea, hospital->cityId);
        Choose(window->cbxHospital, doctor.hospitalId);
        Choose(window->cbxClass, doctor.departmentId);
        Choose(window->cbxDoctor, doctor.id);
        Click(window->btnRefreshData);
        for (int i = 0; i < window->lvLog->RowCount(); ++i)
            if (window->lvLog->SlotAt(i)->sn == sn)
                return window->lvLog->SelectRow(i);
        ADD_FAILURE() << "no row of slot " << sn;
    }
    // A not-released slot of each of n doctors with names.
    std::vector<portal::SlotOfDoctor> LaterSlots(std::size_t n) const {
        return test::LaterSlotsOfDoctors(*portal, n);
    }
    // Both slots in the list, neither released on its own.
    void AddTwoDoctors(const std::vector<portal::SlotOfDoctor>& later) {
        SignIn();
        for (const auto& s : later) {
            portal->ReleaseAfterPolls(s.slot.sn, 1000000);
            SelectSlot(s.doctor, s.slot.sn);
            Click(window->btnAddWatch);
        }
        ASSERT_EQ(window->tblWatch->rowCount(), 2) << Texts();
    }
    int Polls(int sn) const {
        int n = 0;
        for (const auto& e : portal->RequestLog())
            n += e.path == "/Action/NumberWater.ashx" && e.Param("sn") == std::to_string(sn);
        return n;
    }
    std::string Cell(QTableWidget* t, int row, int column) const {
        const QTableWidgetItem* item = t->item(row, column);
        return item ? item->text().toStdString() : std::string();
    }
    std::string Texts() const {
        std::string all;
        for (const auto& r : shown)
            all += r.text + " | ";
        return all;
    }
    int Count(const std::string& part) const {
        return int(std::count_if(shown.begin(), shown.end(), [&](const MessageRequest& r) {
            return r.text.find(part) != std::string::npos;
        }));
    }
    bool WaitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, kWaitMs); }

    QTemporaryDir dir;
    std::vector<MessageRequest> shown;
    int answer = kIdYes;
    ScopedResponder responder{[this](const MessageRequest& r) {
        shown.push_back(r);
        return (r.flags & kMbButtonMask) == kMbOk ? kIdOk : answer;
    }};
    std::unique_ptr<DemoPortal> portal;
    std::unique_ptr<TMain> window;
    bool configWritten_ = false;
};

TEST_F(WindowWatchList, AddingTakesTheSelectedRowPatientAndReleaseTimeAndRefusesWhatCannotJoin) {
    const auto later = LaterSlots(1)[0];
    SignIn();
    window->rgpUser->SetItemIndex(1);
    window->edtReleaseTime->setText(QStringLiteral("08:00"));
    SelectSlot(later.doctor, later.slot.sn);
    Click(window->btnAddWatch);
    ASSERT_EQ(window->tblWatch->rowCount(), 1) << Texts();
    EXPECT_EQ(Cell(window->tblWatch, 0, 0), window->rgpUser->Caption(1));
    EXPECT_EQ(Cell(window->tblWatch, 0, 3), later.slot.date);
    EXPECT_EQ(Cell(window->tblWatch, 0, 5), "08:00");
    EXPECT_EQ(Cell(window->tblWatch, 0, 6), "等待中");
    EXPECT_EQ(window->tblWatch->objectName(), QStringLiteral("自动预约列表"));

    Click(window->btnAddWatch);
    EXPECT_EQ(Count("已在自动预约列表中"), 1) << Texts();
    for (const int refused : {state::kSuspended, state::kClosed, state::kFull}) {
        const auto s = portal->FindSlot(refused);
        ASSERT_TRUE(s);
        SelectSlot(s->doctor, s->slot.sn);
        Click(window->btnAddWatch);
    }
    EXPECT_EQ(Count("对不起，不能预约此内容"), 3) << Texts();
    EXPECT_EQ(window->tblWatch->rowCount(), 1);
    EXPECT_TRUE(portal->RequestLog().size() > 0);
    EXPECT_EQ(Polls(later.slot.sn), 0) << "adding polls nothing";
}

TEST_F(WindowWatchList, TwoDoctorsTheSecondOpensFirstAndIsBookedOnceAndRecorded) {
    const auto later = LaterSlots(2);
    AddTwoDoctors(later);
    Click(window->btnStartWatch);
    ASSERT_TRUE(WaitFor([&] { return Polls(later[0].slot.sn) >= 2 && Polls(later[1].slot.sn) >= 2; }));
    portal->ReleaseAt(later[1].slot.sn, portal->Now());
    ASSERT_TRUE(WaitFor([&] { return Count("预约成功") > 0; })) << Texts();
    const int pollsOfFirst = Polls(later[0].slot.sn);
    QTest::qWait(5 * kTestTickMs);
    EXPECT_EQ(Polls(later[0].slot.sn), pollsOfFirst) << "the first is no longer polled";
    ASSERT_EQ(portal->Bookings().size(), 1u);
    EXPECT_EQ(portal->Bookings()[0].sn, later[1].slot.sn);
    EXPECT_EQ(Cell(window->tblWatch, 0, 6), "已停止");
    EXPECT_EQ(Cell(window->tblWatch, 1, 6), "已预约");

    ASSERT_GE(window->tblRecord->rowCount(), 1);
    EXPECT_EQ(window->tblRecord->objectName(), QStringLiteral("预约记录"));
    EXPECT_EQ(Cell(window->tblRecord, 0, 1), "列表");
    EXPECT_EQ(Cell(window->tblRecord, 0, 2), "已预约");
    window->tblRecord->selectRow(0);
    EXPECT_NE(window->mmoRecordAnswer->toPlainText().toStdString().find("预约成功"), std::string::npos);
}

// "2、立刻预约" books as before, and its attempt is in the record too.
TEST_F(WindowWatchList, AnImmediateBookingIsRecordedToo) {
    SignIn();
    const auto open = portal->FindSlot(state::kOpen);
    ASSERT_TRUE(open);
    SelectSlot(open->doctor, open->slot.sn);
    Click(window->btnOrder);
    ASSERT_TRUE(WaitFor([&] { return Count("预约成功") > 0; })) << Texts();
    ASSERT_TRUE(WaitFor([&] { return window->tblRecord->rowCount() == 1; }));
    EXPECT_EQ(Cell(window->tblRecord, 0, 1), "立刻预约");
    EXPECT_EQ(Cell(window->tblRecord, 0, 2), "已预约");
    EXPECT_EQ(window->tblWatch->rowCount(), 0) << "the list is not touched";
}

// The list is kept armed across an exit; the next start asks, and only Yes
// arms it again (after signing in with the saved password).
TEST_F(WindowWatchList, ARestartAsksAndOnlyYesArmsTheListAgain) {
    const auto later = LaterSlots(2);
    AddTwoDoctors(later);
    Click(window->btnStartWatch);
    ASSERT_TRUE(WaitFor([&] { return Polls(later[0].slot.sn) >= 1; }));
    for (const int reply : {kIdNo, kIdYes}) {
        SCOPED_TRACE(reply == kIdYes ? "Yes" : "No");
        if (reply == kIdNo) {
            answer = kIdNo;
            shown.clear();
            OpenWindow(account().password);
            EXPECT_EQ(Count("上次的自动预约列表中还有 2 个时段，是否继续自动预约？"), 1) << Texts();
            const int before = Polls(later[0].slot.sn);
            QTest::qWait(5 * kTestTickMs);
            EXPECT_EQ(Polls(later[0].slot.sn), before);
            EXPECT_FALSE(window->tmrOrder->isActive());
            // Unarmed now: the next start does not ask; arm it again for the Yes round.
            OpenWindow();
            EXPECT_EQ(Count("上次的自动预约列表"), 1) << "asked once only";
            SignIn();
            Click(window->btnStartWatch);
            continue;
        }
        answer = kIdYes;
        shown.clear();
        OpenWindow(account().password);
        EXPECT_EQ(Count("上次的自动预约列表中还有 2 个时段"), 1) << Texts();
        ASSERT_TRUE(WaitFor([&] { return window->tmrOrder->isActive(); })) << Texts();
        const int before = Polls(later[1].slot.sn);
        ASSERT_TRUE(WaitFor([&] { return Polls(later[1].slot.sn) > before; }));
        portal->ReleaseAt(later[1].slot.sn, portal->Now());
        ASSERT_TRUE(WaitFor([&] { return Count("预约成功") > 0; })) << Texts();
        ASSERT_EQ(portal->Bookings().size(), 1u);
        EXPECT_EQ(portal->Bookings()[0].sn, later[1].slot.sn);
    }
}

// A slot whose date has passed is marked and never asked about nor armed.
TEST_F(WindowWatchList, APassedDateIsMarkedAndNotArmed) {
    const auto later = LaterSlots(1)[0];
    {
        db::Connection c(QStringLiteral("passed"));
        c.SetOnOpened(catalogue::PrepareCatalogue);
        c.SetConnectionString("Provider=SQLite;Data Source=cat.db", dir.path().toStdString());
        c.Open();
        WatchList list(c, account().cardNumber);
        WatchedSlot w;
        w.patient = {"张晓燕", account().patients.front().clinicNumber};
        w.slot.sn = later.slot.sn;
        w.slot.date = "2020-01-01";
        w.slot.doctorId = later.doctor.id;
        w.slot.state = 2;
        ASSERT_FALSE(list.Add(w, "2019-12-31"));
        list.SetArmed(true);
    }
    shown.clear();
    OpenWindow(account().password);
    EXPECT_EQ(Count("上次的自动预约列表"), 0) << Texts();
    ASSERT_EQ(window->tblWatch->rowCount(), 1);
    EXPECT_EQ(Cell(window->tblWatch, 0, 6), "已过期");
    SignIn();
    Click(window->btnStartWatch);
    EXPECT_EQ(Count("没有可以开始的时段"), 1) << Texts();
    EXPECT_EQ(Polls(later.slot.sn), 0);
}

} // namespace
} // namespace quilora
