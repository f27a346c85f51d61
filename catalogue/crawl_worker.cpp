#include "catalogue/crawl_worker.h"

#include <QMetaObject>
#include <chrono>

#include "catalogue/schema.h"
#include "common/errors.h"

namespace quilora::catalogue {

namespace {

// Thrown between two pages when the crawl was stopped.
class Stopped {};

// The crawler's progress, out as signals; a page or so every 50 ms is enough
// for the eye, and the crawl ends here when stopped.
class SignalProgress : public CrawlProgress {
public:
    SignalProgress(CrawlWorker& w, const std::atomic<bool>& stop) : w_(w), stop_(stop) {}
    void Started(CrawlKind kind, std::size_t pages) override {
        if (stop_)
            throw Stopped();
        emit w_.Started(static_cast<int>(kind), pages);
    }
    void Advanced(CrawlKind kind, std::size_t done, std::size_t total, std::size_t rows) override {
        if (stop_)
            throw Stopped();
        const auto now = std::chrono::steady_clock::now();
        if (done != total && now - last_ < std::chrono::milliseconds(50))
            return;
        last_ = now;
        emit w_.Advanced(static_cast<int>(kind), done, total, rows);
    }

private:
    CrawlWorker& w_;
    const std::atomic<bool>& stop_;
    std::chrono::steady_clock::time_point last_{};
};

} // namespace

// The address lines go out in batches: a national crawl reads 63,000 pages,
// and a signal per line would keep the window's thread busy appending them.
class CrawlWorker::Relay : public LogTarget {
public:
    explicit Relay(CrawlWorker& w) : w_(w) {}
    void LogUrl(std::string_view line) override {
        pending_.push_back(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
        if (std::chrono::steady_clock::now() - lastFlush_ >= std::chrono::milliseconds(20))
            Flush();
    }
    void Flush() {
        lastFlush_ = std::chrono::steady_clock::now();
        if (pending_.isEmpty())
            return;
        emit w_.LogLines(pending_);
        pending_.clear();
    }

private:
    CrawlWorker& w_;
    QStringList pending_;
    std::chrono::steady_clock::time_point lastFlush_{};
};

CrawlWorker::CrawlWorker(PortalHosts hosts, std::string connectionString, std::filesystem::path baseDir)
    : relay_(std::make_unique<Relay>(*this)), http_(std::make_unique<HttpClient>()), hosts_(std::move(hosts)),
      connectionString_(std::move(connectionString)), baseDir_(std::move(baseDir)) {
    http_->SetLogWindow(relay_.get());
    http_->SetCancelFlag(&stop_);
}

CrawlWorker::~CrawlWorker() = default;

void CrawlWorker::Start(CrawlKind kind) {
    QMetaObject::invokeMethod(
        this, [this, kind] { Run(kind); }, Qt::QueuedConnection);
}

void CrawlWorker::Stop() {
    stop_ = true;
    http_->Interrupt();
}

void CrawlWorker::Shutdown() {
    closing_ = true;
    Stop();
}

void CrawlWorker::Run(CrawlKind kind) {
    if (closing_)
        return;
    stop_ = false;
    bool stopped = false;
    QString error;
    try {
        if (!connection_) {
            auto c = std::make_unique<db::Connection>(QStringLiteral("crawl"));
            c->SetOnOpened(&PrepareCatalogue);
            c->SetConnectionString(connectionString_, baseDir_);
            c->Open();
            connection_ = std::move(c);
        }
        connection_->EnsureOpen();
        db::Query query(*connection_);
        db::Command command(*connection_);
        SignalProgress progress(*this, stop_);
        Crawler crawler(*http_, hosts_, *connection_, query, command);
        crawler.SetProgress(&progress);
        crawler.Run(kind); // one transaction: whatever ends it early rolls it back
    } catch (const Stopped&) {
        stopped = true;
    } catch (const FetchError& e) {
        stopped = e.Failure() == FetchFailure::Cancelled;
        if (!stopped)
            error = QString::fromUtf8(e.what());
    } catch (const std::exception& e) {
        error = QString::fromUtf8(e.what());
    } catch (...) {
        error = QStringLiteral("Unknown error");
    }
    relay_->Flush();
    emit Finished(static_cast<int>(kind), stopped, error);
}

} // namespace quilora::catalogue
