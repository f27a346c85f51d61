// Notifications of auto-booking's outcomes: the "通知设置" buttons and dialog,
// and the results of each notification in the log and the status line.
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>

#include "app/application.h"
#include "app/notify_dialog.h"
#include "app/tmain.h"
#include "app/window_notify.h"

namespace quilora {

void TMain::BuildNotify() {
    notify = new WindowNotify(
        SettingsPath(), [this](const ChannelResult& r) { NotifyShown(r); }, this);

    btnNotify = new QPushButton(QStringLiteral("通知设置"), tstLogin);
    btnNotify->setObjectName(QStringLiteral("btnNotify"));
    if (auto* page = qobject_cast<QGridLayout*>(tstLogin->layout()))
        page->addWidget(btnNotify, 2, 1, Qt::AlignRight | Qt::AlignTop); // under the sign-in box
    btnNotifyOrder = new QPushButton(QStringLiteral("通知设置"), tstOrder);
    btnNotifyOrder->setObjectName(QStringLiteral("btnNotifyOrder"));
    // Beside the crawl buttons, before their stretch.
    if (auto* page = tstOrder->layout(); page && page->count() > 0)
        if (auto* row = qobject_cast<QHBoxLayout*>(page->itemAt(0)->layout()))
            row->insertWidget(row->count() - 1, btnNotifyOrder);
    connect(btnNotify, &QPushButton::clicked, this, Guarded(this, &TMain::btnNotifyClick));
    connect(btnNotifyOrder, &QPushButton::clicked, this, Guarded(this, &TMain::btnNotifyClick));
}

void TMain::btnNotifyClick() {
    auto* open = findChild<NotifyDialog*>(QString(), Qt::FindDirectChildrenOnly);
    if (!open) {
        open = new NotifyDialog(SettingsPath(), this);
        open->setAttribute(Qt::WA_DeleteOnClose);
    }
    open->show();
    open->raise();
    open->activateWindow();
}

void TMain::NotifyShown(const ChannelResult& result) {
    const std::string line = NoticeLine(result);
    Log(line);
    if (!result.ok) {
        lblStatus->setText(QString::fromStdString(line));
        lblStatus->setToolTip(lblStatus->text());
    }
}

} // namespace quilora
