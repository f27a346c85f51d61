// quilora-admin as a user runs it: a child process on a Config.ini in a
// temporary folder, crawling the in-process demo portal into SQLite.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include "catalogue_fixture.h"
#include "portal/demo_portal.h"

namespace quilora::test {
namespace {

struct AdminRun {
    int exitCode = -1;
    std::string out, err;
};

AdminRun Admin(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(QUILORA_ADMIN_PATH), args);
    EXPECT_TRUE(p.waitForFinished(60000)) << "quilora-admin did not finish";
    AdminRun r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

class AdminTool : public ::testing::Test {
protected:
    void SetUp() override {
        portal::PortalOptions o;
        o.port = o.scriptPort = 0;
        portal_ = std::make_unique<portal::DemoPortal>(o);
        portal_->Start();
    }

    QString WriteConfig() const { return WriteConfig(*portal_); }
    QString WriteConfig(const portal::DemoPortal& target) const {
        const QString path = QDir(dir_.path()).filePath(QStringLiteral("Config.ini"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(("[Data]\nConnect=Provider=SQLite;Data Source=catalogue.db\nPortalUrl=" +
                    target.BaseUrl() + "/\nScriptUrl=" + target.ScriptUrl() + "\n")
                       .c_str());
        return path;
    }

    // The catalogue that the tool wrote, beside its Config.ini.
    std::unique_ptr<db::Connection> Catalogue() const {
        auto c = std::make_unique<db::Connection>(QStringLiteral("admin-test"));
        c->SetConnectionString("Provider=SQLite;Data Source=catalogue.db", dir_.path().toStdString());
        c->Open();
        return c;
    }

    QTemporaryDir dir_;
    std::unique_ptr<portal::DemoPortal> portal_;
};

TEST_F(AdminTool, HelpNamesTheCommandsAndTheDefaultConfigBesideTheProgram) {
    const AdminRun r = Admin({QStringLiteral("--help")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("crawl"), std::string::npos) << r.out;
    const std::string beside = QDir(QFileInfo(QStringLiteral(QUILORA_ADMIN_PATH)).absolutePath())
                                   .filePath("Config.ini")
                                   .toStdString();
    EXPECT_NE(r.out.find(beside), std::string::npos) << r.out;

    const AdminRun crawlHelp = Admin({QStringLiteral("crawl"), QStringLiteral("--help")});
    EXPECT_EQ(crawlHelp.exitCode, 0);
    EXPECT_NE(crawlHelp.out.find("departments"), std::string::npos) << crawlHelp.out;
}

TEST_F(AdminTool, MistakesEndWithAMessageAndANonZeroExit) {
    const QString config = WriteConfig();
    struct Case {
        QStringList args;
        std::string message;
    } cases[] = {
        {{}, "A subcommand is required"},
        {{"--config", config, "crawl"}, "table is required"},
        {{"--config", config, "crawl", "patients"}, "patients not in"},
        {{"--config", dir_.filePath("missing.ini"), "crawl", "cities"}, "找不到配置文件"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const AdminRun r = Admin(c.args);
        EXPECT_NE(r.exitCode, 0);
        EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << r.out << r.err;
    }
}

TEST_F(AdminTool, CrawlAllFillsTheCatalogueNamedInTheConfig) {
    const AdminRun r =
        Admin({QStringLiteral("--config"), WriteConfig(), QStringLiteral("crawl"), QStringLiteral("all")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("doctors: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("total: "), std::string::npos) << r.err;

    const ExpectedTables want = Expected(portal_->GetCatalogue());
    auto c = Catalogue();
    EXPECT_EQ(CityRows(*c), want.cities);
    EXPECT_EQ(HospitalRows(*c), want.hospitals);
    EXPECT_EQ(ClassRows(*c), want.classes);
    EXPECT_EQ(DoctorRows(*c), want.doctors);
}

TEST_F(AdminTool, APortalThatDoesNotAnswerFailsTheCrawlAndKeepsTheTable) {
    const QString config = WriteConfig();
    ASSERT_EQ(
        Admin({QStringLiteral("--config"), config, QStringLiteral("crawl"), QStringLiteral("hospitals")})
            .exitCode,
        0);
    const Rows before = HospitalRows(*Catalogue());
    portal_->Stop();

    const AdminRun r =
        Admin({QStringLiteral("--config"), config, QStringLiteral("crawl"), QStringLiteral("hospitals")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("quilora-admin: 无法连接到Quilora服务器"), std::string::npos) << r.err;
    EXPECT_EQ(HospitalRows(*Catalogue()), before);
}

// Seen: every answer a 500 page, and the crawl exited 0 with empty tables.
TEST_F(AdminTool, ACrawlOverErrorPagesFailsAndKeepsTheCatalogue) {
    ASSERT_EQ(
        Admin({QStringLiteral("--config"), WriteConfig(), QStringLiteral("crawl"), QStringLiteral("all")})
            .exitCode,
        0);
    const auto snapshot = [this] {
        auto c = Catalogue();
        return std::vector<Rows>{CityRows(*c), HospitalRows(*c), ClassRows(*c), DoctorRows(*c)};
    };
    const std::vector<Rows> before = snapshot();

    portal::PortalOptions o;
    o.port = o.scriptPort = 0;
    o.faults.errorRate = 1.0;
    portal::DemoPortal failing(o);
    failing.Start();
    const AdminRun r = Admin(
        {QStringLiteral("--config"), WriteConfig(failing), QStringLiteral("crawl"), QStringLiteral("all")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("quilora-admin: 无法连接到Quilora服务器，请检查网络后重试。（服务器返回错误 500）"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(snapshot(), before);
}

} // namespace
} // namespace quilora::test

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
