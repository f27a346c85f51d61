#include "app/notify_dialog.h"
#include "app/no_line_breaks.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValidator>

#include "common/errors.h"
#include "workflow/outcome_notice.h"

namespace quilora {

namespace {

// What each event is called on screen, in the order of kNotifyEvents.
constexpr const char* kEventCaptions[] = {"预约成功",     "预约被拒绝", "结果未知",
                                          "停止自动预约", "登录被拒绝", "出错"};
static_assert(std::size(kEventCaptions) == std::size(kNotifyEvents));

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

std::string S(const QLineEdit* e) {
    return e->text().toStdString();
}

} // namespace

NotifyDialog::NotifyDialog(QString settingsPath, QWidget* parent)
    : QDialog(parent), settingsPath_(std::move(settingsPath)) {
    setObjectName(QStringLiteral("NotifyDialog"));
    setWindowTitle(QStringLiteral("通知设置"));
    const auto field = [this](const char* name, const QString& hint) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setPlaceholderText(hint);
        e->setValidator(new NoLineBreaks(e));
        e->setMinimumWidth(320);
        return e;
    };
    edtSmtpUrl = field("edtSmtpUrl", QStringLiteral("smtps://smtp.example.com:465 或 smtp://…:587"));
    edtSmtpUser = field("edtSmtpUser", QString());
    edtSmtpPassword = field("edtSmtpPassword", QString());
    edtSmtpPassword->setEchoMode(QLineEdit::Password);
    edtMailFrom = field("edtMailFrom", QStringLiteral("发件人地址"));
    edtMailTo = field("edtMailTo", QStringLiteral("收件人，多个用 ; 分隔"));
    edtWebhookUrl = field("edtWebhookUrl", QStringLiteral("https://… （http 或 https）"));
    edtWebhookBody = field("edtWebhookBody", Q(std::string(kDefaultWebhookBody)));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("SMTP 服务器"), edtSmtpUrl);
    form->addRow(QStringLiteral("SMTP 用户名"), edtSmtpUser);
    form->addRow(QStringLiteral("SMTP 密码"), edtSmtpPassword);
    form->addRow(QStringLiteral("发件人"), edtMailFrom);
    form->addRow(QStringLiteral("收件人"), edtMailTo);
    form->addRow(QStringLiteral("Webhook 地址"), edtWebhookUrl);
    form->addRow(QStringLiteral("Webhook 内容"), edtWebhookBody);

    auto* events = new QGridLayout;
    for (std::size_t i = 0; i < std::size(kNotifyEvents); ++i) {
        chkEvents[i] = new QCheckBox(QString::fromUtf8(kEventCaptions[i]), this);
        chkEvents[i]->setObjectName(QStringLiteral("chk_") + Q(std::string(kNotifyEvents[i])));
        events->addWidget(chkEvents[i], static_cast<int>(i / 3), static_cast<int>(i % 3));
    }
    form->addRow(QStringLiteral("通知事件"), events);

    mmoResult = new QPlainTextEdit(this);
    mmoResult->setObjectName(QStringLiteral("mmoResult"));
    mmoResult->setReadOnly(true);
    mmoResult->setAccessibleName(QStringLiteral("通知结果"));
    mmoResult->setMaximumHeight(90);

    btnSendTest = new QPushButton(QStringLiteral("发送测试通知"), this);
    btnSendTest->setObjectName(QStringLiteral("btnSendTest"));
    btnSave = new QPushButton(QStringLiteral("保存"), this);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    btnClose = new QPushButton(QStringLiteral("关闭"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnSendTest);
    buttons->addStretch(1);
    buttons->addWidget(btnSave);
    buttons->addWidget(btnClose);

    auto* page = new QVBoxLayout(this);
    page->addLayout(form);
    page->addWidget(mmoResult);
    page->addLayout(buttons);

    connect(btnSave, &QPushButton::clicked, this, &NotifyDialog::Save);
    connect(btnSendTest, &QPushButton::clicked, this, &NotifyDialog::SendTest);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    Load();
}

NotifyDialog::~NotifyDialog() {
    cancel_ = true;
    if (test_.joinable())
        test_.join();
}

void NotifyDialog::Load() {
    const NotifySettings n = ReadNotifySettings(ProfileFile(settingsPath_.toStdString()));
    edtSmtpUrl->setText(Q(n.smtpUrl));
    edtSmtpUser->setText(Q(n.smtpUser));
    edtSmtpPassword->setText(Q(n.smtpPassword));
    edtMailFrom->setText(Q(n.mailFrom));
    edtMailTo->setText(Q(JoinAddresses(n.mailTo)));
    edtWebhookUrl->setText(Q(n.webhookUrl));
    edtWebhookBody->setText(Q(n.webhookBody));
    for (std::size_t i = 0; i < std::size(kNotifyEvents); ++i)
        chkEvents[i]->setChecked(n.Wants(kNotifyEvents[i]));
}

NotifySettings NotifyDialog::Settings() const {
    NotifySettings n;
    n.smtpUrl = S(edtSmtpUrl);
    n.smtpUser = S(edtSmtpUser);
    n.smtpPassword = S(edtSmtpPassword);
    n.mailFrom = S(edtMailFrom);
    n.mailTo = SplitAddresses(S(edtMailTo));
    n.webhookUrl = S(edtWebhookUrl);
    n.webhookBody = S(edtWebhookBody);
    for (std::size_t i = 0; i < std::size(kNotifyEvents); ++i)
        if (chkEvents[i]->isChecked())
            n.notifyOn.emplace_back(kNotifyEvents[i]);
    return n;
}

void NotifyDialog::Save() {
    try {
        WriteNotifySettings(ProfileFile(settingsPath_.toStdString()), Settings());
        mmoResult->setPlainText(QStringLiteral("通知设置已保存。"));
    } catch (const std::exception& e) {
        mmoResult->setPlainText(QStringLiteral("保存失败：") + QString::fromUtf8(e.what()));
    }
}

void NotifyDialog::SendTest() {
    if (test_.joinable())
        test_.join(); // the previous test is over: its button was disabled until then
    const NotifySettings settings = Settings();
    if (!settings.MailConfigured() && !settings.WebhookConfigured()) {
        mmoResult->setPlainText(QStringLiteral("没有设置任何通知渠道（SMTP 服务器或 Webhook 地址）。"));
        emit TestFinished();
        return;
    }
    btnSendTest->setEnabled(false);
    mmoResult->setPlainText(QStringLiteral("正在发送测试通知…"));
    test_ = std::thread([this, settings, limits = limits_] {
        std::vector<ChannelResult> results =
            SendToChannels(settings, TestNotice(std::chrono::system_clock::now()), limits, &cancel_);
        // Dropped when the dialog is gone by then.
        QMetaObject::invokeMethod(
            this, [this, results = std::move(results)] { ShowResults(results); }, Qt::QueuedConnection);
    });
}

void NotifyDialog::ShowResults(const std::vector<ChannelResult>& results) {
    QString text;
    for (const ChannelResult& r : results)
        text += Q(r.Line()) + QLatin1Char('\n');
    mmoResult->setPlainText(text.trimmed());
    btnSendTest->setEnabled(true);
    emit TestFinished();
}

} // namespace quilora
