// The window and quilora-book on one booking of an open slot: the same
// requests in the same order with the same values, and the same slot texts.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <map>
#include <set>
#include <tuple>

#include "app/combo_sink.h"
#include "app/dialogs.h"
#include "app/schedule_list.h"
#include "app/tmain.h"
#include "book_fixture.h"

namespace quilora::test {
namespace {

namespace state = portal::state;

// A request as compared: host, path and decoded parameters without the d
// stamp; the drawn number (id) is random in both, so only its presence counts.
std::vector<std::string> Comparable(const std::vector<portal::RequestLogEntry>& log) {
    std::vector<std::string> out;
    for (const auto& e : log) {
        std::string line = e.host + " " + e.path;
        const bool drawn = e.path == "/Action/RegCheck.ashx" || e.path == "/Action/Register.ashx";
        for (const auto& [key, value] : e.params) {
            if (key == "d")
                continue;
            line += " " + key + "=" + (drawn && key == "id" ? std::string("<drawn>") : value);
        }
        out.push_back(line);
    }
    return out;
}

class BookBesideWindow : public BookToolTest {
protected:
    // Drives the window on its own fresh portal and catalogue to book this slot.
    void BookInWindow(const portal::SlotOfDoctor& target) {
        ASSERT_TRUE(windowDir.isValid());
        ASSERT_TRUE(QFile::copy(CrawledCatalogue(), windowDir.filePath(QStringLiteral("cat.db"))));
        std::ofstream(windowDir.filePath(QStringLiteral("Config.ini")).toStdString())
            << "[Data]\nConnect=Provider=SQLite;Data Source=cat.db\nCardNo=" << account().cardNumber
            << "\nPortalUrl=" << windowPortal->BaseUrl() << "\nScriptUrl=" << windowPortal->ScriptUrl()
            << "\n";
        window = std::make_unique<TMain>(windowDir.path());
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));

        QTest::keyClicks(window->edtPasswd, QString::fromStdString(account().password));
        Click(window->btnLogin);
        const portal::Hospital* hospital =
            windowPortal->GetCatalogue().FindHospital(target.doctor.hospitalId);
        ASSERT_NE(hospital, nullptr);
        Choose(window->cbxArea, hospital->cityId);
        Choose(window->cbxHospital, target.doctor.hospitalId);
        Choose(window->cbxClass, target.doctor.departmentId);
        Choose(window->cbxDoctor, target.doctor.id);
        Click(window->btnRefreshData);
        int row = -1;
        for (int i = 0; i < window->lvLog->RowCount(); ++i)
            if (window->lvLog->SlotAt(i)->sn == target.slot.sn)
                row = i;
        ASSERT_GE(row, 0);
        window->lvLog->SelectRow(row);
        Click(window->btnOrder);
    }

    // A click; the job it starts runs to its end before the test goes on.
    void Click(QPushButton* button) {
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([this] { return !window->Waiting(); }, 30000));
    }

    void Choose(QComboBox* box, int tag) {
        const int index = FindTag(*box, tag);
        ASSERT_GE(index, 0) << "no entry with tag " << tag;
        box->setCurrentIndex(index);
        emit box->activated(index);
    }

    QTemporaryDir windowDir;
    std::unique_ptr<portal::DemoPortal> windowPortal;
    std::unique_ptr<TMain> window;
    std::vector<std::string> hints;
    ScopedResponder responder{[this](const MessageRequest& r) {
        hints.push_back(r.text);
        return kIdYes;
    }};
};

TEST_F(BookBesideWindow, OneBookingSendsWhatTheWindowSends) {
    windowPortal = std::make_unique<portal::DemoPortal>(BookPortalOptions());
    windowPortal->Start();
    const auto open = windowPortal->FindSlot(state::kOpen);
    ASSERT_TRUE(open);
    ASSERT_EQ(portal->FindSlot(state::kOpen)->slot.sn, open->slot.sn) << "both portals alike";

    BookInWindow(*open);
    ASSERT_FALSE(hints.empty());
    EXPECT_EQ(hints.back(), "预约成功, 请进入网页查看！");
    const ToolRun r = Run({"book", "--doctor", Arg(open->doctor.id), "--slot", Arg(open->slot.sn)});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;

    const std::vector<std::string> windowRequests = Comparable(windowPortal->RequestLog());
    EXPECT_EQ(Comparable(portal->RequestLog()), windowRequests);
    ASSERT_EQ(windowRequests.size(), 6u) << ::testing::PrintToString(windowRequests);
    ASSERT_EQ(portal->Bookings().size(), 1u);
    EXPECT_EQ(portal->Bookings()[0].sn, windowPortal->Bookings()[0].sn);
    EXPECT_EQ(portal->Bookings()[0].clinicNumber, windowPortal->Bookings()[0].clinicNumber);

    // The schedule carries the doctor and hospital as the window's rows do.
    std::set<std::tuple<int, std::string, std::string>> rows, listed;
    for (int i = 0; i < window->lvLog->RowCount(); ++i) {
        const auto slot = window->lvLog->SlotAt(i);
        rows.insert({slot->sn, slot->doctorName, slot->hospitalName});
    }
    const ToolRun schedule = Run({"--json", "schedule", "--doctor", Arg(open->doctor.id)});
    for (const auto& e : schedule.EventsNamed("slot"))
        listed.insert(
            {e["sn"].get<int>(), e["doctorName"].get<std::string>(), e["hospitalName"].get<std::string>()});
    EXPECT_EQ(listed, rows);
}

} // namespace
} // namespace quilora::test
