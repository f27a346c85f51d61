#pragma once
// "通知设置": the [Notify] section of Config.ini in a dialog, saved on demand,
// and a test notification to every channel as typed, sent off the window's
// thread with each channel's result shown in the dialog.
#include <QDialog>
#include <QString>
#include <atomic>
#include <thread>

#include "common/settings.h"
#include "net/notify_send.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace quilora {

class NotifyDialog : public QDialog {
    Q_OBJECT
public:
    NotifyDialog(QString settingsPath, QWidget* parent = nullptr);
    // A test still running is cancelled and waited for (a second at most).
    ~NotifyDialog() override;

    // The settings as the fields hold them.
    NotifySettings Settings() const;
    void Save();
    void SendTest();
    // Test seam: the bounds of each test send.
    void SetLimits(const SendLimits& limits) { limits_ = limits; }

    QLineEdit* edtSmtpUrl = nullptr;
    QLineEdit* edtSmtpUser = nullptr;
    QLineEdit* edtSmtpPassword = nullptr;
    QLineEdit* edtMailFrom = nullptr;
    QLineEdit* edtMailTo = nullptr;
    QLineEdit* edtWebhookUrl = nullptr;
    QLineEdit* edtWebhookBody = nullptr;
    QCheckBox* chkEvents[std::size(kNotifyEvents)] = {};
    QPushButton* btnSave = nullptr;
    QPushButton* btnSendTest = nullptr;
    QPushButton* btnClose = nullptr;
    QPlainTextEdit* mmoResult = nullptr; // what Save and the test said

signals:
    void TestFinished();

private:
    void Load();
    void ShowResults(const std::vector<ChannelResult>& results);

    QString settingsPath_;
    SendLimits limits_;
    std::atomic<bool> cancel_{false};
    std::thread test_;
};

} // namespace quilora
