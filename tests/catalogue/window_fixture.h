#pragma once
// The real window on the offscreen platform over an SQLite catalogue in a
// temporary folder; message boxes are recorded and answered with OK.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/tmain.h"
#include "catalogue/schema.h"
#include "common/database.h"

namespace quilora::test {

class WindowFixture : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::vector<MessageRequest> boxes;

    // Config.ini with the SQLite catalogue and the extra lines given.
    void WriteConfig(const std::string& extra = "") const {
        QFile file(QDir(dir.path()).filePath(QStringLiteral("Config.ini")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(("[Data]\nConnect=Provider=SQLite;Data Source=cat.db\n" + extra).c_str());
    }

    // The schema with empty catalogue tables, then the statements given.
    void Seed(const std::vector<std::string>& statements) const {
        db::Connection c(QStringLiteral("seed"));
        c.SetConnectionString("Provider=SQLite;Data Source=cat.db", dir.path().toStdString());
        c.SetOnOpened(&catalogue::PrepareCatalogue);
        c.Open();
        db::Command cmd(c);
        for (const char* table : {"TCity", "THospital", "TClass", "TDoctor"})
            cmd.Execute(std::string("Delete from ") + table);
        for (const auto& s : statements)
            cmd.Execute(s);
    }

    std::unique_ptr<TMain> Start() const { return std::make_unique<TMain>(dir.path()); }

    std::string BoxTexts() const {
        std::string all;
        for (const auto& b : boxes)
            all += "[" + b.text + "]";
        return all;
    }

private:
    ScopedResponder responder_{[this](const MessageRequest& r) {
        boxes.push_back(r);
        return kIdOk;
    }};
};

// A choice with the keyboard: the list's activated signal, as a user's choice gives it.
inline void Choose(QComboBox& box, int index) {
    ASSERT_GE(index, 0);
    ASSERT_LT(index, box.count());
    if (index == 0) {
        ASSERT_GT(box.count(), 1);
        box.setCurrentIndex(1);
        QTest::keyClick(&box, Qt::Key_Up);
    } else {
        box.setCurrentIndex(index - 1);
        QTest::keyClick(&box, Qt::Key_Down);
    }
    ASSERT_EQ(box.currentIndex(), index);
}

} // namespace quilora::test
