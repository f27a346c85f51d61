// The maintenance page: rebuilds the catalogue tables from the portal.
#include <QLayout>
#include <QProgressBar>
#include <QStatusBar>
#include <chrono>

#include "app/application.h"
#include "app/dialogs.h"
#include "app/tmain.h"
#include "catalogue/crawler.h"
#include "common/errors.h"
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

// Progress in the window's status bar. The crawl never returns to the event
// loop, so the bar is repainted on the spot instead: no input or timer event
// is dispatched while a crawl runs.
class StatusBarProgress : public catalogue::CrawlProgress {
public:
    explicit StatusBarProgress(QMainWindow& window)
        : window_(window), bar_(*window.statusBar()), barWasHidden_(bar_.isHidden()) {
        progress_ = bar_.findChild<QProgressBar*>(QStringLiteral("crawlProgress"));
        if (!progress_) {
            progress_ = new QProgressBar(&bar_);
            progress_->setObjectName(QStringLiteral("crawlProgress"));
            progress_->setMaximumWidth(240);
            bar_.addPermanentWidget(progress_);
        }
        // A new status bar is shown and placed by queued events, which the
        // crawl never lets run: show and place it now, or it stays invisible.
        bar_.show();
        Relayout();
    }
    ~StatusBarProgress() override {
        progress_->hide();
        bar_.clearMessage();
        if (barWasHidden_) {
            bar_.hide();
            Relayout();
        }
        window_.repaint();
    }
    StatusBarProgress(const StatusBarProgress&) = delete;
    StatusBarProgress& operator=(const StatusBarProgress&) = delete;

    void Started(CrawlKind kind, std::size_t pages) override {
        progress_->setRange(0, static_cast<int>(pages));
        progress_->setValue(0);
        if (progress_->isHidden()) {
            progress_->show();
            Relayout();
        }
        Show(kind, 0, pages, 0, true);
    }

    void Advanced(CrawlKind kind, std::size_t done, std::size_t total, std::size_t rows) override {
        Show(kind, done, total, rows, done == total);
    }

private:
    void Show(CrawlKind kind, std::size_t done, std::size_t total, std::size_t rows, bool force) {
        // A repaint per page would cost more than the page itself.
        const auto now = std::chrono::steady_clock::now();
        if (!force && now - lastPaint_ < std::chrono::milliseconds(50))
            return;
        lastPaint_ = now;
        progress_->setValue(static_cast<int>(done));
        bar_.showMessage(QStringLiteral("%1: %2 %3/%4, 已取得 %5 行")
                             .arg(KindText(kind), UnitText(kind))
                             .arg(done)
                             .arg(total)
                             .arg(rows));
        bar_.repaint();
    }

    // Geometry now, without waiting for the layout request event.
    void Relayout() {
        if (QLayout* l = bar_.layout())
            l->activate();
        if (QLayout* l = window_.layout())
            l->activate();
    }

    QMainWindow& window_;
    QStatusBar& bar_;
    const bool barWasHidden_;
    QProgressBar* progress_ = nullptr; // owned by the status bar
    std::chrono::steady_clock::time_point lastPaint_{};
};

void Crawl(TMain& w, CrawlKind kind) {
    HttpClient& http = w.Http();
    StatusBarProgress progress(w);
    catalogue::Crawler crawler(http, w.portal, w.ADOC, w.qryTmp, w.cmd);
    crawler.SetProgress(&progress);
    crawler.Run(kind);
}

} // namespace

void TMain::btnGetDataClick() {
    Crawl(*this, CrawlKind::Cities);
}
void TMain::btnGetHospitalClick() {
    Crawl(*this, CrawlKind::Hospitals);
}
void TMain::btnKeshiClick() {
    Crawl(*this, CrawlKind::Departments);
}
void TMain::btnGetDoctorClick() {
    Crawl(*this, CrawlKind::Doctors);
}

void TMain::btnTestClick() {
    ShowMessage(MessageRequest{EpochMillis(), kApplicationTitle, kMbOk, true});
}

} // namespace quilora
