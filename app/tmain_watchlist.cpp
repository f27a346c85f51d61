// The auto-booking list and the booking record of the window: the pages that
// show them, adding a listed slot, starting and stopping the list on the
// worker, and the question at start-up when the list was left armed.
#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/application.h"
#include "app/dialogs.h"
#include "app/radio_group.h"
#include "app/schedule_list.h"
#include "app/tmain.h"
#include "common/errors.h"
#include "workflow/release_schedule.h"
#include "workflow/schedule.h"

namespace quilora {

namespace {

QTableWidget* Table(const QStringList& columns, const QString& name, QWidget* parent) {
    auto* t = new QTableWidget(0, static_cast<int>(columns.size()), parent);
    t->setObjectName(name);
    t->setAccessibleName(name);
    t->setHorizontalHeaderLabels(columns);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->verticalHeader()->setVisible(false);
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

QPushButton* PageButton(const QString& caption, const char* name, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAccessibleName(caption);
    b->setAutoDefault(false);
    return b;
}

void SetRow(QTableWidget* t, int row, const std::vector<std::string>& cells) {
    for (int c = 0; c < static_cast<int>(cells.size()); ++c)
        t->setItem(row, c, new QTableWidgetItem(QString::fromStdString(cells[static_cast<std::size_t>(c)])));
}

std::string SlotLine(const WatchedSlot& w) {
    return w.patient.name + " " + w.slot.date + " " + HalfDayText(w.slot.timeid) + " " + w.slot.doctorName +
           " " + w.slot.hospitalName + (w.releaseAt.empty() ? "" : " 放号 " + w.releaseAt);
}

} // namespace

void TMain::BuildWatchPages() {
    tstWatch = new QWidget(pcl);
    tstWatch->setObjectName(QStringLiteral("tstWatch"));
    pcl->addTab(tstWatch, QStringLiteral("自动预约列表"));
    auto* watchPage = new QVBoxLayout(tstWatch);
    tblWatch = Table({QStringLiteral("就诊人"), QStringLiteral("医院"), QStringLiteral("医生"),
                      QStringLiteral("日期"), QStringLiteral("时段"), QStringLiteral("放号时间"),
                      QStringLiteral("状态")},
                     QStringLiteral("自动预约列表"), tstWatch);
    watchPage->addWidget(tblWatch);
    auto* watchButtons = new QHBoxLayout;
    btnStartWatch = PageButton(QStringLiteral("开始自动预约"), "btnStartWatch", tstWatch);
    btnStopWatch = PageButton(QStringLiteral("停止自动预约"), "btnStopWatch", tstWatch);
    btnRemoveWatch = PageButton(QStringLiteral("移除"), "btnRemoveWatch", tstWatch);
    chkStopOthers = new QCheckBox(QStringLiteral("预约成功后停止其余"), tstWatch);
    chkStopOthers->setObjectName(QStringLiteral("chkStopOthers"));
    chkStopOthers->setChecked(true);
    for (QWidget* w :
         std::initializer_list<QWidget*>{btnStartWatch, btnStopWatch, btnRemoveWatch, chkStopOthers})
        watchButtons->addWidget(w);
    watchButtons->addStretch(1);
    watchPage->addLayout(watchButtons);

    tstRecord = new QWidget(pcl);
    tstRecord->setObjectName(QStringLiteral("tstRecord"));
    pcl->addTab(tstRecord, QStringLiteral("预约记录"));
    auto* recordPage = new QVBoxLayout(tstRecord);
    tblRecord = Table({QStringLiteral("时间"), QStringLiteral("方式"), QStringLiteral("结果"),
                       QStringLiteral("就诊人"), QStringLiteral("医院"), QStringLiteral("医生"),
                       QStringLiteral("日期"), QStringLiteral("时段"), QStringLiteral("应答")},
                      QStringLiteral("预约记录"), tstRecord);
    recordPage->addWidget(tblRecord, 3);
    mmoRecordAnswer = new QPlainTextEdit(tstRecord);
    mmoRecordAnswer->setObjectName(QStringLiteral("mmoRecordAnswer"));
    mmoRecordAnswer->setAccessibleName(QStringLiteral("应答全文"));
    mmoRecordAnswer->setReadOnly(true);
    recordPage->addWidget(mmoRecordAnswer, 1);
}

void TMain::ConnectWatchHandlers() {
    connect(btnAddWatch, &QPushButton::clicked, this, Guarded(this, &TMain::btnAddWatchClick));
    connect(btnStartWatch, &QPushButton::clicked, this, Guarded(this, &TMain::btnStartWatchClick));
    connect(btnStopWatch, &QPushButton::clicked, this, Guarded(this, &TMain::btnStopWatchClick));
    connect(btnRemoveWatch, &QPushButton::clicked, this, Guarded(this, &TMain::btnRemoveWatchClick));
    // The record is read afresh whenever its page is shown: quilora-book writes to it too.
    connect(pcl, &QTabWidget::currentChanged, this, [this](int index) {
        if (pcl->widget(index) == tstRecord)
            RunGuarded([this] { ShowRecord(); });
    });
    connect(tblRecord, &QTableWidget::itemSelectionChanged, this,
            [this] { RunGuarded([this] { tblRecordSelect(); }); });
}

void TMain::OpenWatchList(const std::string& connectionString) {
    // Attempts a crash cut short, before this window books anything.
    BookingRecord(ADOC).SettleInterrupted();
    const std::string cardNo = edtUserID->text().toStdString();
    watchList = std::make_unique<WatchList>(ADOC, cardNo);
    watchList->Load(TodayText());
    Worker().SetRecord(connectionString, settingsDir_.toStdString(), cardNo);
    ShowWatchList();
    ShowRecord();
    const std::vector<std::size_t> armed = watchList->ArmedIndexes();
    if (armed.empty())
        return;
    std::string text =
        "上次的自动预约列表中还有 " + std::to_string(armed.size()) + " 个时段，是否继续自动预约？";
    for (const std::size_t i : armed)
        text += "\n" + SlotLine(watchList->Slots()[i]);
    // Never resumed silently: Yes signs in as soon as it can and arms them again.
    if (AskConfirm(text, false, 1) != kIdYes) {
        watchList->SetArmed(false);
        ShowWatchList();
        return;
    }
    resumeWatch_ = true;
    if (!edtPasswd->text().isEmpty())
        btnLoginClick(); // without a saved password, the user's own sign-in arms it
}

void TMain::ResumeWatchAfterSignIn() {
    if (!resumeWatch_)
        return;
    resumeWatch_ = false;
    StartWatchList();
}

void TMain::ShowWatchList() {
    if (!watchList)
        return;
    const auto& watchSlots = watchList->Slots();
    tblWatch->setRowCount(static_cast<int>(watchSlots.size()));
    for (std::size_t i = 0; i < watchSlots.size(); ++i) {
        const WatchedSlot& w = watchSlots[i];
        SetRow(tblWatch, static_cast<int>(i),
               {w.patient.name, w.slot.hospitalName, w.slot.doctorName, w.slot.date,
                HalfDayText(w.slot.timeid), w.releaseAt, WatchStatusText(w)});
    }
    btnStartWatch->setEnabled(watching_.empty());
    btnStopWatch->setEnabled(!watching_.empty());
    btnRemoveWatch->setEnabled(watching_.empty());
}

void TMain::ShowRecord() {
    const std::vector<RecordRow> rows = BookingRecord(ADOC).Newest();
    tblRecord->setRowCount(static_cast<int>(rows.size()));
    recordAnswers_.clear();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const RecordRow& r = rows[i];
        SetRow(tblRecord, static_cast<int>(i),
               {r.startedAt, r.origin, r.outcome, r.patientName, r.hospitalName, r.doctorName, r.slotDate,
                HalfDayText(r.timeid), r.answer});
        recordAnswers_.push_back(r.answer);
    }
    mmoRecordAnswer->clear();
}

void TMain::tblRecordSelect() {
    const int row = tblRecord->currentRow();
    if (row < 0 || row >= static_cast<int>(recordAnswers_.size()))
        return;
    mmoRecordAnswer->setPlainText(QString::fromStdString(recordAnswers_[static_cast<std::size_t>(row)]));
}

void TMain::btnAddWatchClick() {
    if (loginCardNo.empty())
        AbortWithHint("请先登录！");
    if (rgpUser->ItemIndex() < 0)
        AbortWithHint("请先选择就诊人！\r\n如无法选择就诊人，请主动获取就诊人！");
    const int row = lvLog->SelectedIndex();
    if (row < 0)
        AbortWithHint("请先选择预约内容！");
    WatchedSlot w;
    w.patient = {rgpUser->Caption(rgpUser->ItemIndex()), rgpUser->Tag(rgpUser->ItemIndex())};
    w.slot = *lvLog->SlotAt(row);
    w.releaseAt = edtReleaseTime->text().trimmed().toStdString();
    if (const auto refusal = watchList->Add(w, TodayText()))
        AbortWithHint(*refusal);
    Log("已加入自动预约列表：" + SlotLine(w));
    ShowWatchList();
}

void TMain::StartWatchList() {
    if (loginCardNo.empty())
        AbortWithHint("请先登录！");
    if (order.OrderBusy())
        AbortWithHint("正在预约或自动预约中，请先停止。");
    watchList->SetArmed(true);
    const std::vector<std::size_t> armed = watchList->ArmedIndexes();
    if (armed.empty()) {
        ShowWatchList();
        AbortWithHint("自动预约列表中没有可以开始的时段。");
    }
    std::vector<std::shared_ptr<const ScheduleSlot>> watchSlots;
    std::vector<std::optional<PatientEntry>> patients;
    std::optional<std::chrono::system_clock::time_point> release;
    const auto portalNow = order.ServerClock().PortalTime(std::chrono::system_clock::now());
    for (const std::size_t i : armed) {
        const WatchedSlot& w = watchList->Slots()[i];
        watchSlots.push_back(std::make_shared<const ScheduleSlot>(w.slot));
        patients.emplace_back(w.patient);
        // One engine, one schedule: the earliest release of the list places the polls.
        if (!w.releaseAt.empty())
            if (const auto at = ReleaseMoment(w.releaseAt, portalNow); at && (!release || *at < *release))
                release = at;
    }
    watching_ = armed;
    commandSent_ = Worker().Watch(std::move(watchSlots), std::move(patients), release,
                                  chkStopOthers->isChecked(), tmrOrder->interval());
    order.orderBusy = true;
    order.timerEnabled = true;
    ShowOrderState();
    ShowWatchList();
}

void TMain::btnStartWatchClick() {
    StartWatchList();
}

void TMain::btnStopWatchClick() {
    watchList->SetArmed(false);
    if (!watching_.empty())
        RequestStop();
    ShowWatchList();
}

void TMain::btnRemoveWatchClick() {
    if (!watching_.empty())
        AbortWithHint("自动预约进行中，请先停止自动预约。");
    const int row = tblWatch->currentRow();
    if (row < 0)
        AbortWithHint("请先选择要移除的时段！");
    watchList->Remove(static_cast<std::size_t>(row));
    ShowWatchList();
}

void TMain::WatchSlotPolled(int index, const QString& answer) {
    if (!watchList || index < 0 || index >= static_cast<int>(watching_.size()))
        return;
    const std::size_t at = watching_[static_cast<std::size_t>(index)];
    watchList->Report(at, watch_state::kWaiting, watchList->Slots()[at].polls + 1, answer.toStdString());
    tblWatch->setItem(static_cast<int>(at), 6,
                      new QTableWidgetItem(QString::fromStdString(WatchStatusText(watchList->Slots()[at]))));
}

void TMain::WatchEnded(const TickOutcome& out) {
    ShowRecord();
    if (watching_.empty() || !watchList)
        return;
    std::size_t opened = watching_.size();
    if (out.slot)
        for (std::size_t k = 0; k < watching_.size(); ++k) {
            const ScheduleSlot& s = watchList->Slots()[watching_[k]].slot;
            if (s.sn == out.slot->sn && s.doctorId == out.slot->doctorId)
                opened = k;
        }
    const bool booked =
        out.end == AutoBooking::TickEnd::Booked && out.booking.outcome == BookingOutcome::Booked;
    if (opened < watching_.size()) {
        const std::size_t at = watching_[opened];
        watchList->Settle(at, booked                                              ? watch_state::kBooked
                              : out.booking.outcome == BookingOutcome::Unanswered ? watch_state::kUnconfirmed
                                                                                  : watch_state::kRefused);
        if (out.watchGoesOn) {
            watching_.erase(watching_.begin() + static_cast<std::ptrdiff_t>(opened));
            ShowWatchList();
            return;
        }
    }
    for (std::size_t k = 0; k < watching_.size(); ++k)
        if (k != opened)
            watchList->Settle(watching_[k],
                              booked ? watch_state::kStopped : watchList->Slots()[watching_[k]].state);
    watching_.clear();
    ShowWatchList();
}

} // namespace quilora
