#pragma once
// A window started on a Config.ini in a temporary folder and an SQLite
// catalogue with known user types; message boxes are answered and recorded.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/tmain.h"
#include "catalogue/schema.h"
#include "common/database.h"

namespace quilora::testing {

// Records every box and gives a fixed answer.
class Boxes {
public:
    std::vector<MessageRequest> shown;
    int answer = kIdYes;

private:
    ScopedResponder responder_{[this](const MessageRequest& r) {
        shown.push_back(r);
        return answer;
    }};
};

class WindowFixture : public ::testing::Test {
protected:
    QTemporaryDir dir;
    Boxes boxes;

    std::string Path(const char* name) const { return QDir(dir.path()).filePath(name).toStdString(); }

    void WriteConfig(const std::string& body) const {
        QFile file(QString::fromStdString(Path("Config.ini")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(("[Data]\n" + body).c_str());
    }

    // The real schema; user types 1, 31, 5 and card types "1", "A-2", "a-2".
    void CreateCatalogue(const std::vector<std::string>& extraSql = {}) const {
        db::Connection c(QStringLiteral("fixture"));
        c.SetConnectionString("Provider=SQLite;Data Source=cat.db", dir.path().toStdString());
        c.SetOnOpened(&catalogue::PrepareCatalogue);
        c.Open();
        db::Command cmd(c);
        cmd.Execute("Delete From TUserTypeArea");
        cmd.Execute("Delete From TUserTypeCard");
        for (const auto& [id, name] : std::vector<std::pair<long long, std::string>>{
                 {1, "本市用户"}, {31, "外地用户"}, {5, "其他用户"}})
            cmd.Execute("Insert Into TUserTypeArea (UserTypeID, UserTypeName) Values (?, ?)", {id, name});
        for (const auto& [id, name] : std::vector<std::pair<std::string, std::string>>{
                 {"1", "就诊卡"}, {"A-2", "医保卡"}, {"a-2", "身份证"}})
            cmd.Execute("Insert Into TUserTypeCard (UserTypeID, UserTypeName) Values (?, ?)", {id, name});
        for (const std::string& sql : extraSql)
            cmd.Execute(sql);
        c.Close();
    }

    static constexpr const char* kSqlite = "Connect=Provider=SQLite;Data Source=cat.db\n";

    std::unique_ptr<TMain> Start() const { return std::make_unique<TMain>(dir.path()); }
};

} // namespace quilora::testing
