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

// Sits between the fetcher and the window: sees what the status bar shows
// while each request goes out.
class StatusAtEachRequest : public LogTarget {
public:
    explicit StatusAtEachRequest(TMain& w) : w_(w), previous_(w.Http().LogWindow()) {
        w.Http().SetLogWindow(this);
    }
    ~StatusAtEachRequest() override { w_.Http().SetLogWindow(previous_); }
    StatusAtEachRequest(const StatusAtEachRequest&) = delete;
    StatusAtEachRequest& operator=(const StatusAtEachRequest&) = delete;
    void LogUrl(std::string_view line) override {
        const QStatusBar* status = w_.statusBar();
        seen.push_back(status->currentMessage());
        // On screen, not merely set: nothing runs the queued show and layout events.
        const auto* bar = status->findChild<QProgressBar*>(QStringLiteral("crawlProgress"));
        if (!status->isVisible() || status->height() <= 0 || !bar || !bar->isVisible() || bar->width() <= 0)
            ++offScreen;
        w_.LogUrl(line);
    }
    QStringList seen;
    int offScreen = 0;

private:
    TMain& w_;
    LogTarget* previous_;
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

    portal::DemoPortal portal{DemoOptions()};
};

TEST_F(CrawlButtons, TheFourButtonsFillTheCatalogueLoggingEachAddressWithoutRunningTheEventLoop) {
    auto w = StartOn(portal.BaseUrl(), portal.ScriptUrl());
    w->show();
    QCoreApplication::processEvents();
    const auto& cat = portal.GetCatalogue();
    w->mmo->clear();

    bool timerFired = false;
    QTimer::singleShot(0, [&] { timerFired = true; });
    StatusAtEachRequest status(*w);
    for (QPushButton* b : {w->btnGetData, w->btnGetHospital, w->btnKeshi, w->btnGetDoctor})
        b->click();
    EXPECT_FALSE(timerFired) << "a crawl dispatched a timer event";
    QCoreApplication::processEvents();
    EXPECT_TRUE(timerFired);
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

    // The progress was on show while the pages were read, and is gone now.
    ASSERT_EQ(status.seen.size(), lines.size());
    EXPECT_EQ(status.offScreen, 0);
    EXPECT_TRUE(status.seen[2].startsWith(QStringLiteral("获取科室: 医院 0/%1").arg(cat.Hospitals().size())))
        << status.seen[2].toStdString();
    EXPECT_TRUE(status.seen.back().startsWith(QStringLiteral("获取医生: 科室 ")))
        << status.seen.back().toStdString();
    EXPECT_TRUE(w->statusBar()->currentMessage().isEmpty());
    const auto* bar = w->statusBar()->findChild<QProgressBar*>(QStringLiteral("crawlProgress"));
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->isHidden());

    // The area list is built at start-up only; the lists below read the new rows.
    EXPECT_EQ(w->cbxArea->count(), 0);
}

TEST_F(CrawlButtons, DepartmentsAfterAnEmptiedHospitalTableMakeNoRequest) {
    auto w = StartOn(portal.BaseUrl(), portal.ScriptUrl(),
                     {"Insert into TClass (ClassID, HospitalID, ClassName) values(1, 2, 'old')"});
    const QStringList before = Lines(*w->mmo);
    w->btnKeshi->click();
    EXPECT_TRUE(boxes.empty()) << BoxTexts();
    EXPECT_EQ(Lines(*w->mmo), before);
    EXPECT_TRUE(ClassRows(w->ADOC).empty());
    EXPECT_TRUE(portal.RequestLog().empty());
}

TEST_F(CrawlButtons, APortalThatStopsAnsweringIsReportedAndTheTableKeepsItsRows) {
    auto w = StartOn(portal.BaseUrl(), portal.ScriptUrl());
    w->btnGetHospital->click();
    const Rows hospitals = HospitalRows(w->ADOC);
    ASSERT_FALSE(hospitals.empty());
    portal.Stop();

    w->btnGetHospital->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].flags, kMbIconError | kMbOk);
    EXPECT_NE(boxes[0].text.find("无法连接到Quilora服务器"), std::string::npos) << boxes[0].text;
    EXPECT_EQ(HospitalRows(w->ADOC), hospitals);
}

// A ScriptUrl that names the main host gets 404 pages: not a catalogue.
TEST_F(CrawlButtons, AnErrorPageIsReportedAndTheTableKeepsItsRows) {
    auto w = StartOn(portal.BaseUrl(), portal.ScriptUrl());
    w->btnGetData->click();
    w->btnGetHospital->click();
    const Rows cities = CityRows(w->ADOC), hospitals = HospitalRows(w->ADOC);
    ASSERT_FALSE(cities.empty());
    ASSERT_FALSE(hospitals.empty());
    w.reset();

    WriteConfig("PortalUrl=" + portal.BaseUrl() + "\nScriptUrl=" + portal.BaseUrl() + "\n");
    auto wrong = Start();
    for (QPushButton* button : {wrong->btnGetData, wrong->btnGetHospital}) {
        SCOPED_TRACE(button->text().toStdString());
        boxes.clear();
        button->click();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].flags, kMbIconError | kMbOk);
        EXPECT_NE(boxes[0].text.find("（服务器返回错误 404）"), std::string::npos) << boxes[0].text;
    }
    EXPECT_EQ(CityRows(wrong->ADOC), cities);
    EXPECT_EQ(HospitalRows(wrong->ADOC), hospitals);
}

TEST_F(CrawlButtons, WithoutAnHttpClientACrawlIsAnErrorNotACrash) {
    auto w = StartOn(portal.BaseUrl(), portal.ScriptUrl());
    w->xmlHttp.reset(); // as a start-up that failed before creating it leaves the window
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
