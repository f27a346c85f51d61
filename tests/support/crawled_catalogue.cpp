#include "crawled_catalogue.h"

#include "catalogue/crawler.h"
#include "catalogue/schema.h"
#include "common/database.h"
#include "net/fetcher.h"

namespace quilora::test {

void CrawlIntoSqlite(const portal::DemoPortal& source, const std::string& dir, const std::string& file) {
    HttpClient http;
    PortalHosts hosts;
    hosts.portalUrl = source.BaseUrl();
    hosts.scriptUrl = source.ScriptUrl();
    db::Connection c(QStringLiteral("crawled_catalogue"));
    c.SetOnOpened(catalogue::PrepareCatalogue);
    c.SetConnectionString("Provider=SQLite;Data Source=" + file, dir);
    c.Open();
    db::Query q(c);
    db::Command cmd(c);
    catalogue::Crawler crawler(http, hosts, c, q, cmd);
    for (const auto kind : catalogue::kAllCrawls)
        crawler.Run(kind);
    c.Close();
}

} // namespace quilora::test
