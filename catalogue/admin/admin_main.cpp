// quilora-admin: maintains the catalogue from the command line with the
// window's own crawler, for first runs and for crawls too long for the window.
#include <CLI/CLI.hpp>
#include <QCoreApplication>
#include <QDir>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "catalogue/admin/admin_settings.h"
#include "catalogue/admin/terminal_progress.h"
#include "catalogue/crawler.h"
#include "catalogue/schema.h"
#include "common/database.h"
#include "common/platform.h"
#include "net/fetcher.h"

namespace {

using quilora::catalogue::CrawlKind;

std::vector<CrawlKind> KindsOf(const std::string& what) {
    if (what == "all")
        return {std::begin(quilora::catalogue::kAllCrawls), std::end(quilora::catalogue::kAllCrawls)};
    for (CrawlKind k : quilora::catalogue::kAllCrawls)
        if (quilora::catalogue::CrawlName(k) == what)
            return {k};
    return {};
}

int RunCrawl(const std::string& configPath, const std::string& what, bool showBar) {
    using namespace quilora;
    const admin::AdminSettings settings = admin::ReadAdminSettings(configPath);

    db::Connection connection;
    connection.SetOnOpened(&catalogue::PrepareCatalogue);
    // Relative SQLite paths are taken from the folder of Config.ini, as in the window.
    connection.SetConnectionString(
        settings.connect,
        std::filesystem::absolute(quilora::platform::PathFromUtf8(configPath)).parent_path());
    connection.Open();
    db::Query query(connection);
    db::Command command(connection);
    HttpClient http;

    admin::TerminalProgress progress(stderr, showBar);
    catalogue::Crawler crawler(http, settings.hosts, connection, query, command);
    crawler.SetProgress(&progress);

    const auto start = std::chrono::steady_clock::now();
    catalogue::CrawlResult total;
    try {
        for (CrawlKind kind : KindsOf(what)) {
            const catalogue::CrawlResult r = crawler.Run(kind);
            progress.Finished(kind, r);
            total.pages += r.pages;
            total.rows += r.rows;
            total.storing += r.storing;
        }
    } catch (...) {
        progress.Interrupted();
        throw;
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "total: %zu pages, %zu rows in %.2f s (%.0f pages/s, %.0f rows/s)\n", total.pages,
                 total.rows, s, s > 0 ? double(total.pages) / s : 0.0, s > 0 ? double(total.rows) / s : 0.0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Qt SQL loads its drivers as plugins, which needs the application object.
    QCoreApplication qt(argc, argv);
    quilora::platform::UseUtf8Console();

    CLI::App app{"Maintains the Quilora catalogue: rebuilds its tables from the portal.", "quilora-admin"};
    app.require_subcommand(1);
    std::string configPath =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Config.ini")).toStdString();
    app.add_option("--config", configPath, "the Config.ini that names the catalogue and the portal")
        ->capture_default_str();
    bool quiet = false;
    app.add_flag("-q,--quiet", quiet, "no progress bar, only the summary lines");

    CLI::App* crawl = app.add_subcommand("crawl", "rebuild catalogue tables from the portal");
    std::string what;
    crawl
        ->add_option("table", what,
                     "cities (TCity), hospitals (THospital), departments (TClass, one page per hospital), "
                     "doctors (TDoctor, one page per department), or all four in that order")
        ->required()
        ->check(CLI::IsMember({"cities", "hospitals", "departments", "doctors", "all"}));

    CLI11_PARSE(app, argc, argv);

    try {
        return RunCrawl(configPath, what, !quiet && quilora::platform::IsTerminal(stderr));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quilora-admin: %s\n", e.what());
        return 1;
    }
}
