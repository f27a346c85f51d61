// The maintenance page: rebuilds the catalogue tables from the portal. The
// crawl runs on its own worker; the window shows its progress and can stop it.
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>

#include "app/application.h"
#include "app/dialogs.h"
#include "app/tmain.h"
#include "catalogue/crawl_worker.h"
#include "common/errors.h"
#include "common/platform.h"
#include "common/stamp.h"

namespace quilora {
namespace {

using catalogue::CrawlKind;

QString KindText(CrawlKind kind) {
    switch (kind) {
    case CrawlKind::Cities:
        return QStringLiteral("获取城市");
    case CrawlKind::Hospitals:
        return QStringLiteral("获取医院");
    case CrawlKind::Departments:
        return QStringLiteral("获取科室");
    case CrawlKind::Doctors:
        return QStringLiteral("获取医生");
    }
    return {};
}

QString UnitText(CrawlKind kind) {
    switch (kind) {
    case CrawlKind::Departments:
        return QStringLiteral("医院");
    case CrawlKind::Doctors:
        return QStringLiteral("科室");
    default:
        return QStringLiteral("页面");
    }
}

} // namespace

catalogue::CrawlWorker& TMain::Crawler() {
    // A start-up that failed before creating the crawler left none.
    if (!crawler)
        throw QuiloraError("网络组件初始化失败。");
    return *crawler;
}

void TMain::StartCrawler(const std::string& connectionString) {
    auto owned = std::make_unique<catalogue::CrawlWorker>(portal, connectionString,
                                                          platform::PathFromUtf8(settingsDir_.toStdString()));
    owned->moveToThread(&crawlThread_);
    crawler = owned.release(); // from here on deleted on its thread, when that ends
    connect(&crawlThread_, &QThread::finished, crawler, &QObject::deleteLater);
    connect(crawler, &catalogue::CrawlWorker::LogLines, this,
            [this](const QStringList& lines) { mmo->appendPlainText(lines.join(QLatin1Char('\n'))); });
    connect(crawler, &catalogue::CrawlWorker::Started, this, [this](int kind, qulonglong pages) {
        crawlProgress->setRange(0, static_cast<int>(pages));
        ShowCrawl(kind, 0, pages, 0);
    });
    connect(crawler, &catalogue::CrawlWorker::Advanced, this,
            [this](int kind, qulonglong done, qulonglong total, qulonglong rows) {
                ShowCrawl(kind, done, total, rows);
            });
    connect(crawler, &catalogue::CrawlWorker::Finished, this,
            [this](int kind, bool stopped, const QString& error) {
                RunGuarded([&] { CrawlFinished(kind, stopped, error); });
            });
    crawlThread_.setObjectName(QStringLiteral("crawl"));
    crawlThread_.start();
}

void TMain::Crawl(int kind) {
    Crawler().Start(static_cast<CrawlKind>(kind));
    crawling_ = true;
    for (QPushButton* b : {btnGetData, btnGetHospital, btnKeshi, btnGetDoctor})
        b->setEnabled(false);
    crawlProgress->setRange(0, 0); // busy until the work list is known
    crawlProgress->show();
    btnStopCrawl->setEnabled(true);
    btnStopCrawl->show();
    statusBar()->showMessage(KindText(static_cast<CrawlKind>(kind)) + QStringLiteral("…"));
}

void TMain::ShowCrawl(int kind, qulonglong done, qulonglong total, qulonglong rows) {
    const auto k = static_cast<CrawlKind>(kind);
    crawlProgress->setValue(static_cast<int>(done));
    const QString text = QStringLiteral("%1: %2 %3/%4, 已取得 %5 行")
                             .arg(KindText(k), UnitText(k))
                             .arg(done)
                             .arg(total)
                             .arg(rows);
    statusBar()->showMessage(text);
    crawlProgress->setAccessibleName(text);
}

void TMain::CrawlFinished(int kind, bool stopped, const QString& error) {
    crawling_ = false;
    for (QPushButton* b : {btnGetData, btnGetHospital, btnKeshi, btnGetDoctor})
        b->setEnabled(true);
    crawlProgress->hide();
    btnStopCrawl->hide();
    statusBar()->clearMessage();
    if (stopped) {
        // The table keeps the rows it had; a stop the user asked for needs no box.
        Log("已停止：" + KindText(static_cast<CrawlKind>(kind)).toStdString() + "，原有数据未变");
        return;
    }
    if (!error.isEmpty())
        ReportError(error.toStdString());
}

void TMain::btnStopCrawlClick() {
    if (!crawling_)
        return;
    btnStopCrawl->setEnabled(false);
    Crawler().Stop();
}

void TMain::btnGetDataClick() {
    Crawl(static_cast<int>(CrawlKind::Cities));
}
void TMain::btnGetHospitalClick() {
    Crawl(static_cast<int>(CrawlKind::Hospitals));
}
void TMain::btnKeshiClick() {
    Crawl(static_cast<int>(CrawlKind::Departments));
}
void TMain::btnGetDoctorClick() {
    Crawl(static_cast<int>(CrawlKind::Doctors));
}

void TMain::btnTestClick() {
    ShowMessage(MessageRequest{EpochMillis(), kApplicationTitle, kMbOk, true});
}

} // namespace quilora
