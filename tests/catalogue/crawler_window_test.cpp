// The maintenance page's buttons: crawls into the window's catalogue against
// the in-process demo portal, their progress, failures and the test button.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include "app/application.h"
#include "catalogue_fixture.h"
#include "common/stamp.h"
#include "net/fetcher.h"
#include "portal/demo_portal.h"
#include "window_fixture.h"

namespace quilora::test {
namespace {

portal::PortalOptions DemoOptions() {
    portal::PortalOptions o;
    o.port = o.scriptPort = 0;
    o.firstDay = portal::Date{2024, 3, 4};
    return o;
}

QStringList Lines(const QPlainTextEdit& memo) {
    const QString text = memo.toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

// A 10 ms timer on the window's thread: it fires only while the window's
// event loop runs.
class Heartbeat {
public:
    Heartbeat() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { ++beats; });
        timer_.start();
    }
    int beats = 0;

private:
    QTimer timer_;
};

class CrawlButtons : public WindowFixture {
protected:
    void SetUp() override { portal.Start(); }

    std::unique_ptr<TMain> StartOn(const std::string& base, const std::string& script,
                                   const std::vector<std::string>& rows = {}) {
        Seed(rows);
        WriteConfig("PortalUrl=" + base + "\nScriptUrl=" + script + "\n");
        auto w = Start();
        EXPECT_TRUE(boxes.empty()) << BoxTexts();
        return w;
    }

    // Clicks and waits until the crawl it starts has ended.
    static void Crawl(TMain& w, QPushButton* button) {
        button->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !w.Crawling(); }, 60000));
    }

    portal::DemoPortal portal{DemoOptions()};
};

TEST_F(CrawlButtons, TheFourButtonsFillTheCatalogueWhileTheWindowRuns) {
    auto w = StartOn(portal.BaseUrl(), portal.ScriptUrl());
    w->show();
    QCoreApplication::processEvents();
    const auto& cat = portal.GetCatalogue();
    w->mmo->clear();

    QStringList seen; // the status bar's progress lines
    QObject::connect(w->statusBar(), &QStatusBar::messageChanged, w.get(), [&](const QString& m) {
        if (!m.isEmpty())
            seen.push_back(m);
    });
    Heartbeat heartbeat;
    for (QPushButton* b : {w->btnGetData, w->btnGetHospital, w->btnKeshi, w->btnGetDoctor}) {
        b->click();
        for (QPushButton* other : {w->btnGetData, w->btnGetHospital, w->btnKeshi, w->btnGetDoctor})
            EXPECT_FALSE(other->isEnabled()) << "one crawl at a time";
        EXPECT_TRUE(w->crawlProgress->isVisible());
        EXPECT_TRUE(w->btnStopCrawl->isVisible());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !w->Crawling(); }, 60000));
    }
    EXPECT_GT(heartbeat.beats, 0) << "the window's event loop ran during the crawls";
    EXPECT_TRUE(boxes.empty()) << BoxTexts();

    const ExpectedTables want = Expected(cat);
    EXPECT_EQ(CityRows(w->ADOC), want.cities);
    EXPECT_EQ(HospitalRows(w->ADOC), want.hospitals);
    EXPECT_EQ(ClassRows(w->ADOC), want.classes);
    EXPECT_EQ(DoctorRows(w->ADOC), want.doctors);

    const QStringList lines = Lines(*w->mmo);
    ASSERT_EQ(lines.size(), qsizetype(2 + cat.Hospitals().size() + cat.Departments().size()));
    EXPECT_EQ(lines[0], QString::fromStdString(portal.ScriptUrl() + "/js/City.js"));
    EXPECT_EQ(lines[1], QString::fromStdString(portal.ScriptUrl() + "/js/Index.js"));
    EXPECT_EQ(lines[2], QString::fromStdString(portal.BaseUrl() + "/Action/GHTHosdept.ashx?hid=" +
                                               std::to_string(cat.Hospitals()[0].id)));
    EXPECT_EQ(lines.back(), QString::fromStdString(portal.BaseUrl() + "/Action/DoctorByHosdept.ashx?id=" +
                                                   std::to_string(cat.Departments().back().id)));

    // The progress named the table, the pages and the rows, and is gone now.
    EXPECT_TRUE(seen.contains(QStringLiteral("获取科室: 医院 0/%1, 已取得 0 行").arg(cat.Hospitals().size())))
        << seen.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(seen.contains(QStringLiteral("获取医生: 科室 %1/%1, 已取得 %2 行")
                                  .arg(cat.Departments().size())
                                  .arg(want.doctors.size())))
        << seen.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(w->statusBar()->currentMessage().isEmpty());
    EXPECT_TRUE(w->crawlProgress->isHidden());
    EXPECT_TRUE(w->btnStopCrawl->isHidden());

    // The area list is built at start-up only; the lists below read the new rows.
    EXPECT_EQ(w->cbxArea->count(), 0);
}

// 停止 half way through a crawl: its transaction rolls back, every table keeps
// what it had, and the log says so without a box.
TEST_F(CrawlButtons, ACrawlStoppedHalfWayKeepsEveryTable) {
    portal::PortalOptions o = DemoOptions();
    o.faults.latencyMs = 5; // pages slow enough to stop between them
    portal::DemoPortal slow(o);
    slow.Start();
    auto w = StartOn(slow.BaseUrl(), slow.ScriptUrl());
    for (QPushButton* b : {w->btnGetData, w->btnGetHospital, w->btnKeshi, w->btnGetDoctor})
        Crawl(*w, b);
    ASSERT_TRUE(boxes.empty()) << BoxTexts();
    const Rows cities = CityRows(w->ADOC), hospitals = HospitalRows(w->ADOC), classes = ClassRows(w->ADOC),
               doctors = DoctorRows(w->ADOC);
    ASSERT_FALSE(doctors.empty());

    const struct {
        QPushButton* button;
        std::string logLine;
    } cases[] = {
        {w->btnKeshi, "已停止：获取科室，原有数据未变"},
        {w->btnGetDoctor, "已停止：获取医生，原有数据未变"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logLine);
        c.button->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return w->crawlProgress->value() >= 2; }, 30000));
        EXPECT_LT(w->crawlProgress->value(), w->crawlProgress->maximum()) << "stopped half way";
        w->btnStopCrawl->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !w->Crawling(); }, 10000)) << "the stop took effect";
        EXPECT_TRUE(boxes.empty()) << BoxTexts();
        EXPECT_EQ(Lines(*w->mmo).back().toStdString(), c.logLine);
        EXPECT_TRUE(w->crawlProgress->isHidden());
        EXPECT_TRUE(w->btnGetDoctor->isEnabled());
        EXPECT_EQ(CityRows(w->ADOC), cities);
        EXPECT_EQ(HospitalRows(w->ADOC), hospitals);
        EXPECT_EQ(ClassRows(w->ADOC), classes);
        EXPECT_EQ(DoctorRows(w->ADOC), doctors);
    }
}

TEST_F(CrawlButtons, DepartmentsAfterAnEmptiedHospitalTableMakeNoRequest) {
    auto w = StartOn(portal.BaseUrl(), portal.ScriptUrl(),
                     {"Insert into TClass (ClassID, HospitalID, ClassName) values(1, 2, 'old')"});
    const QStringList before = Lines(*w->mmo);
    Crawl(*w, w->btnKeshi);
    EXPECT_TRUE(boxes.empty()) << BoxTexts();
    EXPECT_EQ(Lines(*w->mmo), before);
    EXPECT_TRUE(ClassRows(w->ADOC).empty());
    EXPECT_TRUE(portal.RequestLog().empty());
}

TEST_F(CrawlButtons, APortalThatStopsAnsweringIsReportedAndTheTableKeepsItsRows) {
    auto w = StartOn(portal.BaseUrl(), portal.ScriptUrl());
    Crawl(*w, w->btnGetHospital);
    const Rows hospitals = HospitalRows(w->ADOC);
    ASSERT_FALSE(hospitals.empty());
    portal.Stop();

    Crawl(*w, w->btnGetHospital);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].flags, kMbIconError | kMbOk);
    EXPECT_NE(boxes[0].text.find("无法连接到Quilora服务器"), std::string::npos) << boxes[0].text;
    EXPECT_EQ(HospitalRows(w->ADOC), hospitals);
}

// A ScriptUrl that names the main host gets 404 pages: not a catalogue.
TEST_F(CrawlButtons, AnErrorPageIsReportedAndTheTableKeepsItsRows) {
    auto w = StartOn(portal.BaseUrl(), portal.ScriptUrl());
    Crawl(*w, w->btnGetData);
    Crawl(*w, w->btnGetHospital);
    const Rows cities = CityRows(w->ADOC), hospitals = HospitalRows(w->ADOC);
    ASSERT_FALSE(cities.empty());
    ASSERT_FALSE(hospitals.empty());
    w.reset();

    WriteConfig("PortalUrl=" + portal.BaseUrl() + "\nScriptUrl=" + portal.BaseUrl() + "\n");
    auto wrong = Start();
    for (QPushButton* button : {wrong->btnGetData, wrong->btnGetHospital}) {
        SCOPED_TRACE(button->text().toStdString());
        boxes.clear();
        Crawl(*wrong, button);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].flags, kMbIconError | kMbOk);
        EXPECT_NE(boxes[0].text.find("（服务器返回错误 404）"), std::string::npos) << boxes[0].text;
    }
    EXPECT_EQ(CityRows(wrong->ADOC), cities);
    EXPECT_EQ(HospitalRows(wrong->ADOC), hospitals);
}

TEST_F(CrawlButtons, WithoutAnHttpClientACrawlIsAnErrorNotACrash) {
    auto w = StartOn(portal.BaseUrl(), portal.ScriptUrl());
    w->crawler = nullptr; // as a start-up that failed before creating it leaves the window
    w->btnGetData->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].flags, kMbIconError | kMbOk);
    EXPECT_TRUE(portal.RequestLog().empty());
}

TEST_F(CrawlButtons, TheTestButtonShowsAFreshStampInAPlainBox) {
    auto w = StartOn(portal.BaseUrl(), portal.ScriptUrl());
    const long long before = std::stoll(EpochMillis());
    w->btnTest->click();
    const long long after = std::stoll(EpochMillis());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, kApplicationTitle);
    EXPECT_EQ(boxes[0].flags, kMbOk); // no icon, one OK button
    EXPECT_TRUE(boxes[0].centreOnScreen);
    ASSERT_FALSE(boxes[0].text.empty());
    EXPECT_EQ(boxes[0].text.find_first_not_of("0123456789"), std::string::npos) << boxes[0].text;
    const long long shown = std::stoll(boxes[0].text);
    EXPECT_GE(shown, before);
    EXPECT_LE(shown, after);
}

} // namespace
} // namespace quilora::test
