#pragma once
// quilora-book as a user runs it: a child process on a Config.ini in a
// temporary folder, against a fresh in-process demo portal and a copy of a
// catalogue crawled from it once per test run.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "portal/demo_portal.h"
#include "support/crawled_catalogue.h"

#ifndef _WIN32
#include <signal.h>
#endif

namespace quilora::test {

// Ctrl+C (SIGINT) or SIGTERM to the tool. Windows cannot send Ctrl+C to one
// child process: the tests that need it skip there (QUILORA_NEEDS_SIGNALS).
inline void SendSignal(QProcess& p, int sig) {
#ifdef _WIN32
    (void)sig;
    p.kill();
#else
    ::kill(static_cast<pid_t>(p.processId()), sig);
#endif
}

#ifdef _WIN32
#define QUILORA_NEEDS_SIGNALS() GTEST_SKIP() << "Windows cannot send Ctrl+C to one child process"
#else
#define QUILORA_NEEDS_SIGNALS() static_cast<void>(0)
#endif

inline portal::PortalOptions BookPortalOptions() {
    portal::PortalOptions o;
    o.port = o.scriptPort = 0;
    o.releaseAfterPolls = 0; // each test releases its own slots
    return o;
}

// The catalogue as the crawler leaves it, crawled once for the whole run.
inline const QString& CrawledCatalogue() {
    static QTemporaryDir dir;
    static const QString path = [] {
        portal::DemoPortal source(BookPortalOptions());
        source.Start();
        CrawlIntoSqlite(source, dir.path().toStdString(), "template.db");
        return dir.filePath(QStringLiteral("template.db"));
    }();
    return path;
}

struct ToolRun {
    int exitCode = -1;
    std::string out, err;

    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);)
            if (!line.empty())
                lines.push_back(line);
        return lines;
    }
    // Every stdout line as one JSON object; a line that is not one fails the test.
    std::vector<nlohmann::json> Events() const {
        std::vector<nlohmann::json> events;
        for (const std::string& line : Lines()) {
            const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
            EXPECT_TRUE(j.is_object() && j.contains("event")) << "not an event: " << line;
            events.push_back(j);
        }
        return events;
    }
    std::vector<nlohmann::json> EventsNamed(const std::string& name) const {
        std::vector<nlohmann::json> named;
        for (const auto& e : Events())
            if (e.value("event", "") == name)
                named.push_back(e);
        return named;
    }
};

inline bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Polls `done` every 10 ms for up to `ms`.
inline bool WaitUntil(const std::function<bool()>& done, int ms = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QThread::msleep(10);
    }
    return true;
}

inline ToolRun Finish(QProcess& p) {
    EXPECT_TRUE(p.waitForFinished(120000)) << "quilora-book did not finish";
    ToolRun r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    // A Windows console program ends its lines with CR LF.
    r.out = p.readAllStandardOutput().replace("\r\n", "\n").toStdString();
    r.err = p.readAllStandardError().replace("\r\n", "\n").toStdString();
    return r;
}

class BookToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QFile::copy(CrawledCatalogue(), dir.filePath(QStringLiteral("cat.db"))));
        StartPortal(BookPortalOptions());
    }

    // A portal of these options in place of the running one, and Config.ini naming it.
    void StartPortal(portal::PortalOptions options) {
        portal.reset();
        portal = std::make_unique<portal::DemoPortal>(std::move(options));
        portal->Start();
        WriteConfig("Passwd=" + account().password + "\n");
    }

    const portal::Account& account() const { return portal->DemoAccount(); }

    // The doctor and a slot in this state, as the portal shows them now.
    portal::SlotOfDoctor SlotIn(int slotState) const {
        const auto found = portal->FindSlot(slotState);
        EXPECT_TRUE(found) << "the portal has no slot in state " << slotState;
        return found ? *found : portal::SlotOfDoctor{};
    }

    // Config.ini naming the portal, the catalogue and the card; `more` adds lines.
    void WriteConfig(const std::string& more, bool withCard = true) const {
        std::ofstream ini(ConfigPath().toStdString(), std::ios::trunc);
        ini << "[Data]\nConnect=Provider=SQLite;Data Source=cat.db\n"
            << (withCard ? "CardNo=" + account().cardNumber + "\n" : "") << "PortalUrl=" << portal->BaseUrl()
            << "\nScriptUrl=" << portal->ScriptUrl() << "\n"
            << more;
    }
    QString ConfigPath() const { return dir.filePath(QStringLiteral("Config.ini")); }
    QString WriteFile(const QString& name, const std::string& text) const {
        const QString path = dir.filePath(name);
        std::ofstream(path.toStdString(), std::ios::binary | std::ios::trunc) << text;
        return path;
    }

    void Start(QProcess& p, QStringList args) const {
        args.prepend(ConfigPath());
        args.prepend(QStringLiteral("--config"));
        p.start(QStringLiteral(QUILORA_BOOK_PATH), args);
        p.closeWriteChannel();
        ASSERT_TRUE(p.waitForStarted());
    }
    ToolRun Run(const QStringList& args) const {
        QProcess p;
        Start(p, args);
        return Finish(p);
    }

    std::vector<portal::RequestLogEntry> Requests(const std::string& path) const {
        std::vector<portal::RequestLogEntry> r;
        for (auto& e : portal->RequestLog())
            if (e.path == path)
                r.push_back(e);
        return r;
    }

    QTemporaryDir dir;
    std::unique_ptr<portal::DemoPortal> portal;
};

inline QString Arg(int n) {
    return QString::number(n);
}

} // namespace quilora::test
