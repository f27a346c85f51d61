#pragma once
// The crawler off the window's thread: its own HTTP client and its own
// catalogue connection (a Qt SQL connection belongs to the thread that opened
// it), one crawl at a time from its thread's event queue. Progress, address
// lines and the end come back by queued signals; Stop ends a crawl half way
// and its table keeps the rows it had, as a failed crawl does.
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

#include "catalogue/crawler.h"
#include "common/database.h"
#include "net/fetcher.h"
#include "net/portal_address.h"

namespace quilora::catalogue {

class CrawlWorker : public QObject {
    Q_OBJECT
public:
    // The catalogue named by an ADO connection string (relative paths from baseDir).
    CrawlWorker(PortalHosts hosts, std::string connectionString, std::filesystem::path baseDir);
    ~CrawlWorker() override;

    // Its client; the limits may be set while no crawl runs.
    HttpClient& Http() { return *http_; }

    // ---- from any thread ----
    void Start(CrawlKind kind);
    // The crawl under way ends at once (a request under way is cut off).
    void Stop();
    // Ends the work for good.
    void Shutdown();

signals:
    void Started(int kind, qulonglong pages);
    void Advanced(int kind, qulonglong done, qulonglong total, qulonglong rows);
    // stopped: Stop ended it; error: why it failed (empty when it did not).
    void Finished(int kind, bool stopped, const QString& error);
    // Address lines, oldest first, all of them before Finished.
    void LogLines(const QStringList& lines);

private:
    class Relay;
    void Run(CrawlKind kind);

    std::unique_ptr<Relay> relay_;
    std::unique_ptr<HttpClient> http_;
    PortalHosts hosts_;
    std::string connectionString_;
    std::filesystem::path baseDir_;
    // Opened on the worker's thread at the first crawl.
    std::unique_ptr<db::Connection> connection_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> closing_{false};
};

} // namespace quilora::catalogue
