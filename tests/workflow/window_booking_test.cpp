// The booking road through the real window against the in-process demo portal:
// sign-in, patients, cascade, schedule, order and auto-booking. The catalogue
// is crawled from the portal once; every test gets a fresh portal and a copy.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#ifndef _WIN32
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "app/application.h"
#include "app/attention.h"
#include "app/combo_sink.h"
#include "app/dialogs.h"
#include "app/radio_group.h"
#include "app/schedule_list.h"
#include "app/tmain.h"
#include "catalogue/crawler.h"
#include "catalogue/schema.h"
#include "common/errors.h"
#include "common/gbk.h"
#include "common/profile.h"
#include "portal/demo_portal.h"
#include "support/crawled_catalogue.h"
#include "support/expected_cells.h"
#include "workflow/booking.h"
#include "workflow/patients.h"
#include "workflow/portal_worker.h"
#include "workflow/schedule.h"

namespace quilora {
namespace {

using portal::DemoPortal;
using portal::PortalOptions;
using portal::RequestLogEntry;
namespace state = portal::state;

constexpr int kTestTickMs = 40; // the window's own interval is 800 ms
constexpr int kWaitMs = 15000;
const std::string kBooked = "预约成功, 请进入网页查看！";
const std::string kStopped = "已经停止自动预约！";

PortalOptions Options() {
    PortalOptions o;
    o.port = o.scriptPort = 0;
    o.releaseAfterPolls = 0; // each test releases its own slot
    return o;
}

// The catalogue as the crawler leaves it, crawled once for the whole run.
const QString& CrawledCatalogue() {
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString file = dir.filePath(QStringLiteral("template.db"));
        DemoPortal source(Options());
        source.Start();
        test::CrawlIntoSqlite(source, dir.path().toStdString(), "template.db");
        return file;
    }();
    return path;
}

// Every message box the window shows, answered by the test.
struct Boxes {
    std::vector<MessageRequest> shown;
    // Answers questions; Yes unless a test says otherwise.
    std::function<int(const MessageRequest&)> answer = [](const MessageRequest&) { return kIdYes; };
    // Sees every box while it is open, before it is answered.
    std::function<void(const MessageRequest&)> watch;

    int Respond(const MessageRequest& r) {
        shown.push_back(r);
        if (watch)
            watch(r);
        if ((r.flags & kMbButtonMask) == kMbOk)
            return kIdOk;
        return answer(r);
    }
    int Count(const std::string& text) const {
        return int(std::count_if(shown.begin(), shown.end(), [&](const auto& r) { return r.text == text; }));
    }
    bool AnyError() const {
        return std::any_of(shown.begin(), shown.end(),
                           [](const auto& r) { return (r.flags & kMbIconMask) == kMbIconError; });
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> t;
        for (const auto& r : shown)
            t.push_back(r.text);
        return t;
    }
};

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.rfind(prefix, 0) == 0;
}

class WindowBooking : public ::testing::Test {
protected:
    void SetUp() override { StartPortal(PortalOptionsOfTest()); }
    virtual PortalOptions PortalOptionsOfTest() const { return Options(); }
    virtual const portal::Account& account() const { return portal->DemoAccount(); }

    void StartPortal(PortalOptions options) {
        portal = std::make_unique<DemoPortal>(std::move(options));
        portal->Start();
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QFile::copy(CrawledCatalogue(), dir.filePath(QStringLiteral("cat.db"))));
        OpenWindowOn(portal->BaseUrl(), portal->ScriptUrl());
    }

    // A new window whose portal is at these addresses.
    void OpenWindowOn(const std::string& base, const std::string& script) {
        window.reset();
        std::ofstream ini(dir.filePath(QStringLiteral("Config.ini")).toStdString());
        ini << "[Data]\nConnect=Provider=SQLite;Data Source=cat.db\nCardNo=" << account().cardNumber
            << "\nPortalUrl=" << base << "\nScriptUrl=" << script << "\n";
        ini.close();
        window = std::make_unique<TMain>(dir.path());
        window->tmrOrder->setInterval(kTestTickMs);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        ASSERT_FALSE(boxes.AnyError()) << boxes.Texts().front();
    }

    void TearDown() override {
        window.reset();
        portal.reset();
    }

    // A click as the user makes it; a job it starts runs to its end (or to
    // what the test does while it waits) before the test goes on.
    void Click(QPushButton* button) {
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([this] { return !window->Waiting(); }, kWaitMs));
    }
    // Everything posted to the worker so far has run, and the window has heard of it.
    void Settle() {
        QMetaObject::invokeMethod(
            window->worker, [] {}, Qt::BlockingQueuedConnection);
        QCoreApplication::processEvents();
    }

    void SignIn(const std::string& password) {
        window->edtPasswd->clear();
        QTest::keyClicks(window->edtPasswd, QString::fromStdString(password));
        Click(window->btnLogin);
    }

    // A choice in a drop-down, as the user makes it.
    void Choose(QComboBox* box, int tag) {
        const int index = FindTag(*box, tag);
        ASSERT_GE(index, 0) << "no entry with tag " << tag;
        box->setCurrentIndex(index);
        emit box->activated(index);
    }

    // The cascade down to the doctor.
    void ChooseDoctor(const portal::Doctor& doctor) {
        const portal::Hospital* hospital = portal->GetCatalogue().FindHospital(doctor.hospitalId);
        ASSERT_NE(hospital, nullptr);
        Choose(window->cbxArea, hospital->cityId);
        Choose(window->cbxHospital, doctor.hospitalId);
        Choose(window->cbxClass, doctor.departmentId);
        Choose(window->cbxDoctor, doctor.id);
    }
    // The cascade, then "1、刷新预约状态".
    void ShowSchedule(const portal::Doctor& doctor) {
        ChooseDoctor(doctor);
        Click(window->btnRefreshData);
    }

    int RowOf(int sn) const {
        for (int i = 0; i < window->lvLog->RowCount(); ++i)
            if (window->lvLog->SlotAt(i)->sn == sn)
                return i;
        return -1;
    }

    // Signs in and lists the schedule of the first doctor with a slot in this
    // state; selects that slot's row and gives its number.
    int ListSlotIn(int slotState) {
        SignIn(account().password);
        const auto found = portal->FindSlot(slotState);
        if (!found) {
            ADD_FAILURE() << "the portal has no slot in state " << slotState;
            return 0;
        }
        ShowSchedule(found->doctor);
        const int row = RowOf(found->slot.sn);
        EXPECT_GE(row, 0);
        window->lvLog->SelectRow(row);
        return found->slot.sn;
    }

    // Orders the selected not-yet-released slot and answers Yes to all three questions.
    void Arm() {
        Click(window->btnOrder);
        ASSERT_TRUE(window->tmrOrder->isActive());
        ASSERT_TRUE(window->order.OrderBusy());
    }

    std::vector<RequestLogEntry> Requests(const std::string& path) const {
        std::vector<RequestLogEntry> r;
        for (auto& e : portal->RequestLog())
            if (e.path == path)
                r.push_back(e);
        return r;
    }
    int Polls(int sn) const {
        int n = 0;
        for (const auto& e : Requests("/Action/NumberWater.ashx"))
            n += e.Param("sn") == std::to_string(sn) && e.Param("state") == "2";
        return n;
    }
    bool WaitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, kWaitMs); }
    bool WaitForHint(const std::string& text) {
        return WaitFor([&] { return boxes.Count(text) > 0; });
    }
    // Interactive requests and bookings give up at once (a stopped portal refuses at once).
    void FailFast() {
        for (const FetchMode mode : {FetchMode::Interactive, FetchMode::Booking}) {
            FetchLimits l = window->PortalHttp().Limits(mode);
            l.attempts = 1;
            l.connectTimeout = l.attemptTimeout = l.totalBudget = std::chrono::milliseconds(1000);
            window->PortalHttp().SetLimits(mode, l);
        }
    }
    std::string SavedPassword() const {
        return ProfileFile(window->SettingsPath().toStdString()).ReadString("Data", "Passwd", "");
    }
    QByteArray SettingsBytes() const {
        QFile file(window->SettingsPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool Idle() const {
        return !window->order.OrderBusy() && !window->tmrOrder->isActive() && !window->order.StopRequested();
    }
    std::string Log() const { return window->mmo->toPlainText().toStdString(); }

    // The requests from the first poll of the armed slot to the end, as "path state".
    std::vector<std::string> TailFromFirstPoll(int sn) const {
        std::vector<std::string> tail;
        bool polling = false;
        for (const auto& e : portal->RequestLog()) {
            polling =
                polling || (e.path == "/Action/NumberWater.ashx" && e.Param("sn") == std::to_string(sn));
            if (polling)
                tail.push_back(e.path + (e.Param("state").empty() ? "" : " " + e.Param("state")));
        }
        return tail;
    }

    QTemporaryDir dir;
    Boxes boxes;
    ScopedResponder responder{[this](const MessageRequest& r) { return boxes.Respond(r); }};
    // What drew the user's attention, and how many boxes had been shown by then.
    std::vector<std::pair<AttentionRequest, std::size_t>> attention;
    ScopedAttentionHook attentionHook{
        [this](const AttentionRequest& r) { attention.emplace_back(r, boxes.shown.size()); }};
    std::unique_ptr<DemoPortal> portal;
    std::unique_ptr<TMain> window;
};

using test::ExpectedCells;

TEST_F(WindowBooking, WholeRoadOfABooking) {
    SignIn(account().password);
    EXPECT_EQ(window->pcl->currentIndex(), 1);
    EXPECT_EQ(window->loginCardNo, account().cardNumber);
    ASSERT_EQ(window->rgpUser->Count(), 3);
    EXPECT_EQ(window->rgpUser->ItemIndex(), 0);
    EXPECT_EQ(window->rgpUser->Caption(1), "liming"); // as the normalised page wrote it
    EXPECT_EQ(window->rgpUser->Tag(2), account().patients[2].clinicNumber);

    // A second sign-in reloads the list from TUser, without a request.
    window->rgpUser->SetItemIndex(2);
    window->ActivatePage(0);
    SignIn(account().password);
    EXPECT_EQ(window->rgpUser->Count(), 3);
    EXPECT_EQ(window->rgpUser->ItemIndex(), 0);
    EXPECT_EQ(Requests("/UserManage/cyxx.aspx").size(), 1u);

    const auto open = portal->FindSlot(state::kOpen);
    ASSERT_TRUE(open);
    ShowSchedule(open->doctor);
    const std::vector<portal::Slot> published = portal->SlotsOf(open->doctor.id);
    ASSERT_EQ(window->lvLog->RowCount(), int(published.size()));
    std::vector<std::vector<std::string>> expected, shown;
    for (const auto& s : published)
        expected.push_back(ExpectedCells(s));
    for (int i = 0; i < window->lvLog->RowCount(); ++i) {
        std::vector<std::string> cells;
        for (int c = 0; c < 5; ++c)
            cells.push_back(window->lvLog->CellText(i, c));
        if (i > 0) {
            EXPECT_LE(shown.back()[0], cells[0]) << "rows sorted by date";
        }
        shown.push_back(std::move(cells));
    }
    std::sort(expected.begin(), expected.end());
    std::vector<std::vector<std::string>> shownSorted = shown;
    std::sort(shownSorted.begin(), shownSorted.end());
    EXPECT_EQ(shownSorted, expected);

    window->lvLog->SelectRow(RowOf(open->slot.sn));
    Click(window->btnOrder);
    ASSERT_GE(boxes.shown.size(), 2u) << ::testing::PrintToString(boxes.Texts());
    const MessageRequest& question = boxes.shown[boxes.shown.size() - 2];
    EXPECT_EQ(question.text, "预约内容:\r\n就诊人:张晓燕\r\n时间：" + open->slot.date + " " +
                                 ExpectedCells(open->slot)[3] +
                                 "\r\n医生:" + TruncateGbk(SelectedText(*window->cbxDoctor), 30) + " (" +
                                 TruncateGbk(SelectedText(*window->cbxHospital), 50) +
                                 ")\r\n门诊类型:" + ExpectedCells(open->slot)[2] + "\r\n\r\n确定要预约吗?");
    EXPECT_EQ(question.flags, kMbYesNo | kMbIconQuestion);
    EXPECT_EQ(boxes.shown.back().text, kBooked);
    EXPECT_TRUE(Idle());

    ASSERT_EQ(portal->Bookings().size(), 1u);
    EXPECT_EQ(portal->Bookings()[0].sn, open->slot.sn);
    EXPECT_EQ(portal->Bookings()[0].clinicNumber, account().patients[0].clinicNumber);
    EXPECT_NE(Log().find("可选预约号:\nonclick=guahaodiv("), std::string::npos);
    EXPECT_FALSE(boxes.AnyError());
}

TEST_F(WindowBooking, WrongPasswordChangesNothing) {
    Click(window->btnGetUser); // nobody signed in: nothing happens
    SignIn("wrong");
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"登录失败"});
    EXPECT_EQ(window->pcl->currentIndex(), 0);
    EXPECT_TRUE(window->loginCardNo.empty());
    EXPECT_EQ(window->rgpUser->Count(), 0);

    SignIn(account().password);
    window->rgpUser->SetItemIndex(2);
    window->ActivatePage(0);
    SignIn("wrong");
    EXPECT_EQ(boxes.Count("登录失败"), 2);
    EXPECT_EQ(window->pcl->currentIndex(), 0);
    EXPECT_EQ(window->loginCardNo, account().cardNumber);
    EXPECT_EQ(window->rgpUser->Count(), 3);
    EXPECT_EQ(window->rgpUser->ItemIndex(), 2);
    EXPECT_EQ(Requests("/UserManage/cyxx.aspx").size(), 1u);

    // The password is saved on every press, before the request: a refused
    // sign-in and one that never reaches the portal keep it too.
    EXPECT_EQ(SavedPassword(), "wrong");
    portal->Stop();
    FailFast();
    SignIn("typed offline");
    EXPECT_TRUE(boxes.AnyError());
    EXPECT_EQ(SavedPassword(), "typed offline");
    EXPECT_EQ(window->loginCardNo, account().cardNumber);
}

TEST_F(WindowBooking, PatientFetchThatGivesUpKeepsTheCache) {
    SignIn(account().password);
    ASSERT_EQ(window->rgpUser->Count(), 3);
    portal->Stop();
    Click(window->btnGetUser);
    ASSERT_TRUE(boxes.AnyError());
    EXPECT_EQ(window->rgpUser->Count(), 3);
    EXPECT_EQ(CachedPatients(window->qryTmp, account().cardNumber).size(), 3u);
}

// An account under which the portal lists no patient.
class AccountWithoutPatients : public WindowBooking {
protected:
    PortalOptions PortalOptionsOfTest() const override {
        PortalOptions o = Options();
        o.accounts.push_back(portal::Account{"6201000000000099", "nobody", {}});
        return o;
    }
    const portal::Account& account() const override { return portal->Accounts().back(); }
};

TEST_F(AccountWithoutPatients, EmptyPatientPageIsFetchedOncePerPress) {
    SignIn(account().password);
    EXPECT_EQ(window->loginCardNo, account().cardNumber);
    EXPECT_EQ(window->rgpUser->Count(), 0);
    EXPECT_EQ(Requests("/UserManage/cyxx.aspx").size(), 1u);
    Click(window->btnGetUser);
    EXPECT_EQ(Requests("/UserManage/cyxx.aspx").size(), 2u);
    EXPECT_FALSE(boxes.AnyError());
}

TEST_F(WindowBooking, SuspendedClosedAndFullSlotsAreRefused) {
    const std::pair<int, std::string> cases[] = {
        {state::kSuspended, "对不起，不能预约此内容：已停诊。"},
        {state::kClosed, "对不起，不能预约此内容：已截止。"},
        {state::kFull, "对不起，不能预约此内容：已约满。"},
    };
    for (const auto& [slotState, message] : cases) {
        SCOPED_TRACE(message);
        ListSlotIn(slotState);
        boxes.shown.clear();
        Click(window->btnOrder);
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{message});
        EXPECT_TRUE(Idle());
    }
    EXPECT_TRUE(Requests("/Action/NumberWater.ashx").empty());
}

TEST_F(WindowBooking, OrderNeedsASignInAPatientAndARow) {
    Click(window->btnOrder); // nobody signed in: nothing at all
    EXPECT_TRUE(boxes.shown.empty());

    ListSlotIn(state::kOpen);
    const auto noPatient = [this] { window->rgpUser->SetItemIndex(-1); };
    const auto noRow = [this] {
        window->rgpUser->SetItemIndex(0);
        window->lvLog->SelectRow(-1);
    };
    const std::pair<std::function<void()>, std::string> cases[] = {
        {noPatient, "请先选择就诊人！\r\n如无法选择就诊人，请主动获取就诊人！"},
        {noRow, "请先选择预约内容！"},
    };
    for (const auto& [unselect, message] : cases) {
        SCOPED_TRACE(message);
        unselect();
        boxes.shown.clear();
        Click(window->btnOrder);
        ASSERT_EQ(boxes.Texts(), std::vector<std::string>{message});
        EXPECT_EQ(boxes.shown[0].flags, kMbOk | kMbIconInformation);
        EXPECT_TRUE(Idle());
        EXPECT_EQ(window->order.OrderSlot(), nullptr);
    }
    EXPECT_TRUE(Requests("/Action/NumberWater.ashx").empty());
}

TEST_F(WindowBooking, RefreshChecksItsListsThenSortsByDate) {
    Click(window->btnRefreshData); // nobody signed in: nothing at all
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(Requests("/Doctor.aspx").empty());

    SignIn(account().password);
    const auto open = portal->FindSlot(state::kOpen);
    ASSERT_TRUE(open);
    ShowSchedule(open->doctor);
    ScheduleList& list = *window->lvLog;
    const int rows = list.RowCount();
    ASSERT_GT(rows, 1);
    const auto firstDate = [&] { return list.CellText(0, 0); };
    const auto lastDate = [&] { return list.CellText(rows - 1, 0); };
    ASSERT_LT(firstDate(), lastDate()) << "the doctor's slots span several days";

    // A refresh sorts by date ascending whatever sort was in force; the next
    // click on the date header then sorts descending.
    list.SortByColumn(0);
    ASSERT_GT(firstDate(), lastDate());
    list.SortByColumn(3);
    Click(window->btnRefreshData);
    EXPECT_LT(firstDate(), lastDate());
    list.SortByColumn(0);
    EXPECT_GT(firstDate(), lastDate());

    // A list without a usable choice: its hint, nothing saved or requested, the rows stay.
    struct Case {
        QComboBox* box;
        std::string message;
    } cases[] = {
        {window->cbxArea, "请选择城市!"},
        {window->cbxHospital, "请选择医院!"},
        {window->cbxClass, "请选择科室!"},
        {window->cbxDoctor, "请选择医生!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        ShowSchedule(open->doctor);
        if (c.box == window->cbxArea)
            Choose(window->cbxArea, 0); // a province heading
        else
            SelectItem(*c.box, -1);
        const QByteArray settings = SettingsBytes();
        const std::size_t pages = Requests("/Doctor.aspx").size();
        boxes.shown.clear();
        Click(window->btnRefreshData);
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{c.message});
        EXPECT_EQ(SettingsBytes(), settings);
        EXPECT_EQ(Requests("/Doctor.aspx").size(), pages);
        EXPECT_EQ(list.RowCount(), rows);
    }
}

TEST_F(WindowBooking, UnknownStateIsConfirmedThenNothingHappens) {
    ListSlotIn(state::kOpen);
    ScheduleSlot odd = *window->lvLog->SlotAt(0);
    odd.state = 7;
    window->lvLog->Clear();
    window->lvLog->AddRow(std::make_shared<const ScheduleSlot>(odd), ScheduleRowCells(odd));
    window->lvLog->SelectRow(0);
    EXPECT_EQ(window->lvLog->CellText(0, 4), "停诊");

    boxes.shown.clear();
    Click(window->btnOrder);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(StartsWith(boxes.shown[0].text, "预约内容:"));
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(Requests("/Action/NumberWater.ashx").empty());

    // Nothing stays busy: the next order is not met by the busy question.
    boxes.answer = [](const MessageRequest&) { return kIdNo; };
    Click(window->btnOrder);
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_TRUE(StartsWith(boxes.shown[1].text, "预约内容:"));
}

TEST_F(WindowBooking, DecliningAutoBookingLeavesNothingRunning) {
    ListSlotIn(state::kNotReleased);
    int questions = 0;
    boxes.answer = [&](const MessageRequest&) { return ++questions == 2 ? kIdNo : kIdYes; };
    Click(window->btnOrder);
    EXPECT_EQ(questions, 2);
    EXPECT_TRUE(Idle());
    QTest::qWait(3 * kTestTickMs);
    EXPECT_TRUE(Requests("/Action/NumberWater.ashx").empty());
}

// Ticks run by the test alone: what each tick does, and the state the window
// is in while the tick's message box is open.
TEST_F(WindowBooking, EachTickOfAnAutoBooking) {
    const int sn = ListSlotIn(state::kNotReleased);
    portal->ReleaseAfterPolls(sn, 1000000);
    window->tmrOrder->setInterval(3600 * 1000); // no tick but the test's own
    struct Seen {
        bool timer, busy, stop;
    };
    std::map<std::string, Seen> seen;
    boxes.watch = [&](const MessageRequest& r) {
        seen[r.text] = {window->tmrOrder->isActive(), window->order.OrderBusy(),
                        window->order.StopRequested()};
    };

    Arm();
    window->tmrOrderTimer(); // not yet released: nothing changes
    Settle();
    EXPECT_EQ(Polls(sn), 1);
    EXPECT_TRUE(window->tmrOrder->isActive() && window->order.OrderBusy() && !window->order.StopRequested());

    Click(window->btnOrder); // Yes to the busy question: stop pending
    EXPECT_TRUE(window->order.StopRequested() && window->order.OrderBusy() && window->tmrOrder->isActive());
    Settle(); // the stop acts at once, without a poll
    EXPECT_EQ(Polls(sn), 1);
    ASSERT_EQ(boxes.Count(kStopped), 1);
    EXPECT_FALSE(seen[kStopped].timer || seen[kStopped].busy || seen[kStopped].stop);
    EXPECT_TRUE(Idle());

    Arm();
    portal->ReleaseAt(sn, std::chrono::system_clock::now());
    portal->ClearRequestLog();
    window->tmrOrderTimer(); // opens: the booking runs inside this very tick
    Settle();
    ASSERT_EQ(boxes.Count(kBooked), 1) << ::testing::PrintToString(boxes.Texts());
    EXPECT_FALSE(seen[kBooked].timer || seen[kBooked].busy || seen[kBooked].stop);
    EXPECT_EQ(TailFromFirstPoll(sn),
              (std::vector<std::string>{"/Action/NumberWater.ashx 2", "/Action/NumberWater.ashx 4",
                                        "/Action/RegCheck.ashx", "/Action/Register.ashx"}));
    EXPECT_TRUE(Idle());
}

// However an order ends without arming, nothing stays busy: the next order
// is met by the confirmation, not by the busy question.
TEST_F(WindowBooking, EveryWayOutOfAnOrderLeavesNothingBusy) {
    const std::string autoQuestion = "此预约还未到放号时间，是否开始自动预约?\r\n"
                                     "自动预约系统将在开始放号之后最短的时间内帮你自动预约。";
    const std::string noNumber = "对不起，此预约已没有可选的预约号，未能预约。";
    const auto listAs = [this](int listed, int shownAs) {
        ListSlotIn(listed);
        ScheduleSlot slot = *window->lvLog->SlotAt(window->lvLog->SelectedIndex());
        slot.state = shownAs;
        window->lvLog->Clear();
        window->lvLog->AddRow(std::make_shared<const ScheduleSlot>(slot), ScheduleRowCells(slot));
        window->lvLog->SelectRow(0);
    };
    const auto nextOrderIsConfirmed = [this] {
        boxes.shown.clear();
        boxes.answer = [](const MessageRequest&) { return kIdNo; };
        Click(window->btnOrder);
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_TRUE(StartsWith(boxes.shown[0].text, "预约内容:"));
        boxes.answer = [](const MessageRequest&) { return kIdYes; };
    };

    {
        SCOPED_TRACE("a full slot still listed as open: no number to book");
        listAs(state::kFull, state::kOpen);
        boxes.shown.clear();
        Click(window->btnOrder);
        EXPECT_EQ(boxes.shown.back().text, noNumber);
        EXPECT_TRUE(Idle());
        EXPECT_TRUE(Requests("/Action/RegCheck.ashx").empty());
        const std::string log = Log();
        EXPECT_EQ(log.substr(log.rfind('\n') + 1), "可选预约号:");
        nextOrderIsConfirmed();
    }
    {
        SCOPED_TRACE("an error out of the auto-booking question");
        ListSlotIn(state::kNotReleased);
        boxes.answer = [&](const MessageRequest& r) -> int {
            if (r.text == autoQuestion)
                throw QuiloraError("the question failed");
            return kIdYes;
        };
        Click(window->btnOrder);
        EXPECT_TRUE(boxes.AnyError());
        EXPECT_TRUE(Idle());
        nextOrderIsConfirmed();
    }
    {
        SCOPED_TRACE("a booking whose request fails");
        ListSlotIn(state::kOpen);
        portal->Stop();
        FailFast();
        boxes.shown.clear();
        Click(window->btnOrder);
        EXPECT_TRUE(boxes.AnyError());
        EXPECT_EQ(boxes.Count(kBooked), 0);
        EXPECT_TRUE(Idle());
        nextOrderIsConfirmed();
    }
}

TEST_F(WindowBooking, AutoBookingBooksInTheTickThatSeesTheSlotOpen) {
    const int sn = ListSlotIn(state::kNotReleased);
    portal->ReleaseAfterPolls(sn, 3);
    Arm();
    ASSERT_TRUE(WaitForHint(kBooked)) << ::testing::PrintToString(boxes.Texts());
    EXPECT_TRUE(Idle());

    // Three answers "not yet", the fourth poll finds the numbers; the booking follows at once.
    const std::vector<std::string> expected = {"/Action/NumberWater.ashx 2", "/Action/NumberWater.ashx 2",
                                               "/Action/NumberWater.ashx 2", "/Action/NumberWater.ashx 2",
                                               "/Action/NumberWater.ashx 4", "/Action/RegCheck.ashx",
                                               "/Action/Register.ashx"};
    EXPECT_EQ(TailFromFirstPoll(sn), expected);
    ASSERT_EQ(portal->Bookings().size(), 1u);
    EXPECT_EQ(portal->Bookings()[0].sn, sn);

    const std::string log = Log();
    std::size_t notYet = 0;
    for (std::size_t at = log.find("|未放号|"); at != std::string::npos; at = log.find("|未放号|", at + 1))
        ++notYet;
    EXPECT_EQ(notYet, 3u);
    EXPECT_FALSE(boxes.AnyError());
}

TEST_F(WindowBooking, StopThroughTheBusyQuestion) {
    const int sn = ListSlotIn(state::kNotReleased);
    portal->ReleaseAfterPolls(sn, 1000000);
    Arm();
    ASSERT_TRUE(WaitFor([&] { return Polls(sn) >= 2; }));

    const std::string busy = "系统正忙，可能正在预约或自动预约中，是否中止预约?";
    boxes.answer = [](const MessageRequest&) { return kIdNo; };
    Click(window->btnOrder);
    EXPECT_EQ(boxes.shown.back().text, busy);
    EXPECT_TRUE(window->tmrOrder->isActive());
    const int before = Polls(sn);
    ASSERT_TRUE(WaitFor([&] { return Polls(sn) > before; })) << "No leaves it running";

    boxes.answer = [](const MessageRequest&) { return kIdYes; };
    Click(window->btnOrder);
    EXPECT_TRUE(window->order.StopRequested());
    const int atStop = Polls(sn);
    ASSERT_TRUE(WaitForHint(kStopped));
    EXPECT_LE(Polls(sn), atStop + 1) << "the stop sends nothing (the poll under way at the click aside)";
    EXPECT_TRUE(Idle());
    const int stopped = Polls(sn);
    QTest::qWait(3 * kTestTickMs);
    EXPECT_EQ(Polls(sn), stopped);
}

TEST_F(WindowBooking, BookingThatEndsWhileTheBusyQuestionIsOpenLetsTheOrderGoOn) {
    const int sn = ListSlotIn(state::kNotReleased);
    portal->ReleaseAfterPolls(sn, 2);
    Arm();
    std::vector<std::string> questions;
    boxes.answer = [&](const MessageRequest& r) {
        questions.push_back(r.text);
        if (questions.size() == 1) { // the user hesitates; ticks go on meanwhile
            EXPECT_TRUE(WaitForHint(kBooked));
            return kIdYes;
        }
        return kIdNo;
    };
    Click(window->btnOrder);
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_TRUE(StartsWith(questions[1], "预约内容:")) << "read again after Yes: a new order";
    EXPECT_TRUE(Idle());
    EXPECT_EQ(boxes.Count(kStopped), 0);
}

TEST_F(WindowBooking, PatientChosenWhileArmedIsTheOneBooked) {
    const int sn = ListSlotIn(state::kNotReleased);
    portal->ReleaseAfterPolls(sn, 3);
    Arm();
    const auto buttons = window->rgpUser->findChildren<QRadioButton*>();
    ASSERT_EQ(buttons.size(), 3);
    QTest::mouseClick(buttons[1], Qt::LeftButton);
    ASSERT_EQ(window->rgpUser->ItemIndex(), 1);

    ASSERT_TRUE(WaitForHint(kBooked));
    const std::string second = std::to_string(account().patients[1].clinicNumber);
    EXPECT_EQ(Requests("/Action/RegCheck.ashx").back().Param("mid"), second);
    EXPECT_EQ(Requests("/Action/Register.ashx").back().Param("memberid"), second);
    ASSERT_EQ(portal->Bookings().size(), 1u);
    EXPECT_EQ(portal->Bookings()[0].clinicNumber, account().patients[1].clinicNumber);
}

TEST_F(WindowBooking, RefreshWhileArmedKeepsPollingTheArmedSlot) {
    const int sn = ListSlotIn(state::kNotReleased);
    portal->ReleaseAfterPolls(sn, 4);
    Arm();
    const std::shared_ptr<const ScheduleSlot> armed = window->order.OrderSlot();
    ASSERT_TRUE(WaitFor([&] { return Polls(sn) >= 1; }));

    Click(window->btnRefreshData);
    EXPECT_GT(window->lvLog->RowCount(), 0);
    EXPECT_EQ(window->lvLog->SelectedIndex(), -1);
    for (int i = 0; i < window->lvLog->RowCount(); ++i)
        EXPECT_NE(window->lvLog->SlotAt(i), armed) << "rows are new records";
    EXPECT_EQ(window->order.OrderSlot(), armed);

    ASSERT_TRUE(WaitForHint(kBooked));
    EXPECT_EQ(Polls(sn), 5);
    ASSERT_EQ(portal->Bookings().size(), 1u);
    EXPECT_EQ(portal->Bookings()[0].sn, sn);
}

std::string StatusLine(const TMain& w) {
    return w.lblStatus->text().toStdString();
}

// QUILORA_RENDER_DIR=folder: the window as the user sees it, for a look.
void Render(TMain& w, const char* name) {
    const QString out = qEnvironmentVariable("QUILORA_RENDER_DIR");
    if (!out.isEmpty())
        w.grab().save(QDir(out).filePath(QString::fromLatin1(name) + QStringLiteral(".png")));
}

// Release day: the first number lists after the release are "Server Too Busy".
class BusyAtReleaseBooking : public WindowBooking {
protected:
    PortalOptions PortalOptionsOfTest() const override {
        PortalOptions o = Options();
        o.busyAfterRelease = 3;
        return o;
    }
};

TEST_F(BusyAtReleaseBooking, BookedExactlyOnceThroughTheOverloadAndTheUserIsToldAtOnce) {
    const int sn = ListSlotIn(state::kNotReleased);
    portal->ReleaseAfterPolls(sn, 2);
    Arm();
    ASSERT_TRUE(WaitFor([&] { return Polls(sn) >= 1; }));
    const std::string patient = window->rgpUser->Caption(window->rgpUser->ItemIndex());
    EXPECT_TRUE(StartsWith(StatusLine(*window), "自动预约中：" + patient + " ")) << StatusLine(*window);
    EXPECT_NE(StatusLine(*window).find("已查询 "), std::string::npos) << StatusLine(*window);
    EXPECT_NE(StatusLine(*window).find(" · 已等待 00:00:"), std::string::npos) << StatusLine(*window);
    EXPECT_TRUE(window->btnStopAuto->isVisible());
    Render(*window, "armed");

    ASSERT_TRUE(WaitForHint(kBooked)) << ::testing::PrintToString(boxes.Texts());
    Render(*window, "booked");
    EXPECT_EQ(boxes.shown.size(), 3u) << "the order's two questions, then the outcome";
    ASSERT_EQ(portal->Bookings().size(), 1u);
    EXPECT_EQ(portal->Bookings()[0].sn, sn);
    EXPECT_EQ(Requests("/Action/Register.ashx").size(), 1u);
    int busy = 0;
    for (const auto& e : Requests("/Action/NumberWater.ashx"))
        busy += e.fault == "busy";
    EXPECT_EQ(busy, 3);
    // Attention first, then the box of the outcome.
    ASSERT_EQ(attention.size(), 1u);
    EXPECT_EQ(attention[0].first.title, "自动预约成功");
    EXPECT_EQ(attention[0].second, 2u);
    EXPECT_TRUE(StartsWith(attention[0].first.text, "已预约成功：" + patient)) << attention[0].first.text;
    EXPECT_TRUE(StartsWith(StatusLine(*window), "已预约成功：")) << StatusLine(*window);
    EXPECT_FALSE(window->btnStopAuto->isVisible());
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(boxes.AnyError());
}

// The portal restarts while armed: every poll is the sign-in page until the
// window signs in again, silently, and books.
TEST_F(WindowBooking, ASessionForgottenWhileArmedIsSignedInAgainAndBooked) {
    const int sn = ListSlotIn(state::kNotReleased);
    portal->ReleaseAfterPolls(sn, 1000000);
    Arm();
    ASSERT_TRUE(WaitFor([&] { return Polls(sn) >= 1; }));
    const std::size_t boxesBefore = boxes.shown.size();
    portal->ForgetSessions();
    ASSERT_TRUE(WaitFor([&] { return Requests("/Action/CardLogin.ashx").size() == 2; }));
    const auto signIns = Requests("/Action/CardLogin.ashx");
    EXPECT_EQ(signIns[1].Param("cardnumber"), signIns[0].Param("cardnumber"));
    EXPECT_EQ(signIns[1].Param("password"), account().password);
    // The sign-in reaches the portal before its answer and the log line reach the window.
    EXPECT_TRUE(WaitFor([&] { return Log().find("已重新登录") != std::string::npos; })) << Log();
    const int after = Polls(sn);
    ASSERT_TRUE(WaitFor([&] { return Polls(sn) > after + 1; }));
    EXPECT_TRUE(Requests("/Action/NumberWater.ashx").back().signedIn) << "polling with the new session";

    portal->ReleaseAt(sn, portal->Now());
    ASSERT_TRUE(WaitForHint(kBooked)) << ::testing::PrintToString(boxes.Texts());
    EXPECT_EQ(boxes.shown.size(), boxesBefore + 1) << "no box while armed";
    ASSERT_EQ(portal->Bookings().size(), 1u);
    EXPECT_EQ(Requests("/Action/CardLogin.ashx").size(), 2u);
}

TEST_F(WindowBooking, TheStopButtonStopsAtOnce) {
    const int sn = ListSlotIn(state::kNotReleased);
    portal->ReleaseAfterPolls(sn, 1000000);
    EXPECT_FALSE(window->btnStopAuto->isVisible());
    Arm();
    ASSERT_TRUE(WaitFor([&] { return Polls(sn) >= 1; }));
    ASSERT_TRUE(window->btnStopAuto->isVisible());
    ASSERT_TRUE(window->btnStopAuto->isEnabled());
    Click(window->btnStopAuto);
    EXPECT_TRUE(window->order.StopRequested());
    EXPECT_TRUE(StartsWith(StatusLine(*window), "正在停止自动预约：")) << StatusLine(*window);
    EXPECT_FALSE(window->btnStopAuto->isEnabled());
    const int atStop = Polls(sn);
    ASSERT_TRUE(WaitForHint(kStopped));
    EXPECT_LE(Polls(sn), atStop + 1) << "the stop sends nothing (the poll under way at the click aside)";
    EXPECT_TRUE(Idle());
    EXPECT_EQ(StatusLine(*window), "已停止自动预约");
    EXPECT_FALSE(window->btnStopAuto->isVisible());
    EXPECT_TRUE(attention.empty()) << "a stop the user asked for needs no attention";
}

// About 1.6 KB a poll for hours: the log keeps its newest lines only.
TEST_F(WindowBooking, TheLogKeepsItsNewestTenThousandLines) {
    for (int i = 0; i < 10050; ++i)
        window->Log("line " + std::to_string(i));
    EXPECT_EQ(window->mmo->document()->blockCount(), 10000);
    EXPECT_TRUE(window->mmo->toPlainText().startsWith(QStringLiteral("line 50\n")));
}

// The portal's clock runs 1.3 s ahead; the user knows the release time and
// types it in: the poll that opens the slot reaches the portal just after it.
class ClockAheadBooking : public WindowBooking {
protected:
    PortalOptions PortalOptionsOfTest() const override {
        PortalOptions o = Options();
        o.clockOffset = std::chrono::milliseconds(1300);
        return o;
    }
};

TEST_F(ClockAheadBooking, WithAReleaseTimeTheOpeningPollLandsJustAfterIt) {
    const int sn = ListSlotIn(state::kNotReleased);
    const auto release = std::chrono::ceil<std::chrono::seconds>(portal->Now() + std::chrono::seconds(12));
    portal->ReleaseAt(sn, release);
    const std::time_t t = std::chrono::system_clock::to_time_t(release);
    std::tm local{};
    localtime_r(&t, &local);
    char hhmmss[16];
    std::strftime(hhmmss, sizeof hhmmss, "%H:%M:%S", &local);
    window->edtReleaseTime->setText(QString::fromLatin1(hhmmss));
    Arm();
    ASSERT_TRUE(WaitFor([&] { return StatusLine(*window).find("服务器时间 +1.") != std::string::npos; }))
        << StatusLine(*window);
    EXPECT_NE(StatusLine(*window).find("距放号 00:00:"), std::string::npos) << StatusLine(*window);
    Render(*window, "release-time");

    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.Count(kBooked) > 0; }, 30000))
        << ::testing::PrintToString(boxes.Texts());
    const long long releaseMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(release.time_since_epoch()).count();
    long long opening = 0, reg = 0;
    for (const auto& e : Requests("/Action/NumberWater.ashx"))
        if (e.Param("state") == "2" && e.timeMs >= releaseMs && opening == 0)
            opening = e.timeMs;
    for (const auto& e : Requests("/Action/Register.ashx"))
        reg = e.timeMs;
    // Aimed at 35 ms after the release; the timer and a loaded machine leave some play.
    EXPECT_GE(opening - releaseMs, 0);
    EXPECT_LE(opening - releaseMs, 120);
    EXPECT_LE(reg - releaseMs, 250);
    ASSERT_EQ(portal->Bookings().size(), 1u);
}

// A portal under load: a third of the answers dropped, another third empty.
class OverloadedPortalBooking : public WindowBooking {
protected:
    PortalOptions PortalOptionsOfTest() const override {
        PortalOptions o = Options();
        o.seed = 7;
        o.faults.dropRate = 0.3;
        o.faults.emptyBodyRate = 0.3;
        return o;
    }
};

TEST_F(OverloadedPortalBooking, PollingGoesOnThroughDroppedAndEmptyAnswers) {
    // The interactive requests try long enough to get through; each poll stays one attempt.
    FetchLimits interactive = window->PortalHttp().Limits(FetchMode::Interactive);
    interactive.attempts = 40;
    window->PortalHttp().SetLimits(FetchMode::Interactive, interactive);

    const int sn = ListSlotIn(state::kNotReleased);
    portal->ReleaseAfterPolls(sn, 4);
    Arm();
    ASSERT_TRUE(WaitForHint(kBooked)) << ::testing::PrintToString(boxes.Texts());
    EXPECT_FALSE(boxes.AnyError());
    EXPECT_NE(Log().find("查询失败，继续自动预约"), std::string::npos) << Log();
    // A failed poll is one line, its reason in brackets on that same line.
    for (const QString& line : window->mmo->toPlainText().split(QLatin1Char('\n'))) {
        EXPECT_FALSE(line.startsWith(QStringLiteral("（"))) << line.toStdString();
        if (line.startsWith(QStringLiteral("查询失败"))) {
            EXPECT_TRUE(line.endsWith(QStringLiteral("）"))) << line.toStdString();
        }
    }
    int faultedPolls = 0;
    for (const auto& e : Requests("/Action/NumberWater.ashx"))
        faultedPolls += e.Param("state") == "2" && e.fault != "none";
    EXPECT_GT(faultedPolls, 0);
    ASSERT_EQ(portal->Bookings().size(), 1u);
    EXPECT_EQ(portal->Bookings()[0].sn, sn);
}

// A 10 ms timer on the window's thread: it fires only while the window's
// event loop runs.
class Heartbeat {
public:
    Heartbeat() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { ++beats; });
        timer_.start();
    }
    int beats = 0;

private:
    QTimer timer_;
};

#ifndef _WIN32
// A portal that takes every connection and never answers: the kernel
// completes the handshakes of a listening socket nobody reads.
class SilentPortal {
public:
    SilentPortal() : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) == 0 && listen(fd_, 64) == 0 &&
            getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            port_ = ntohs(addr.sin_port);
    }
    ~SilentPortal() { close(fd_); }
    SilentPortal(const SilentPortal&) = delete;
    SilentPortal& operator=(const SilentPortal&) = delete;
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    int port() const { return port_; }

private:
    int fd_;
    int port_ = 0;
};

// Sign-in, patients, schedule and "2、立刻预约" against a portal that never
// answers: the window keeps running, the conflicting buttons wait, and 取消
// ends the wait at once, as a failure told in the log and not in a box.
TEST_F(WindowBooking, EveryWaitOnAPortalThatNeverAnswersEndsWithCancel) {
    SilentPortal silent;
    ASSERT_GT(silent.port(), 0);
    const auto open = portal->FindSlot(state::kOpen);
    ASSERT_TRUE(open);
    OpenWindowOn(silent.Url(), silent.Url());
    // Without 取消 none of these waits could end within the test's patience.
    for (const FetchMode mode : {FetchMode::Interactive, FetchMode::Booking}) {
        FetchLimits l = window->PortalHttp().Limits(mode);
        l.attemptTimeout = l.totalBudget = std::chrono::minutes(2);
        window->PortalHttp().SetLimits(mode, l);
    }
    std::vector<JobOutcome> outcomes;
    QObject::connect(window->worker, &PortalWorker::JobDone, window.get(),
                     [&](const JobOutcome& o) { outcomes.push_back(o); });
    QPushButton* const conflicting[] = {window->btnLogin, window->btnGetUser, window->btnRefreshData,
                                        window->btnOrder};

    const auto press = [](QPushButton* b) { QTest::mouseClick(b, Qt::LeftButton); };
    const struct Case {
        const char* what;
        std::function<void()> start;
        QString waitText;
        std::string logLine;
    } cases[] = {
        {"sign-in",
         [&] {
             QTest::keyClicks(window->edtPasswd, QString::fromStdString(account().password));
             press(window->btnLogin);
         },
         QStringLiteral("正在登录…"), "已取消：登录"},
        {"patients",
         [&] {
             window->loginCardNo = account().cardNumber; // as a sign-in that came through leaves it
             press(window->btnGetUser);
         },
         QStringLiteral("正在获取就诊人…"), "已取消：获取就诊人"},
        {"schedule",
         [&] {
             ChooseDoctor(open->doctor);
             press(window->btnRefreshData);
         },
         QStringLiteral("正在刷新预约状态…"), "已取消：刷新预约状态"},
        {"book now",
         [&] {
             window->rgpUser->AddItem("张晓燕", account().patients[0].clinicNumber);
             window->rgpUser->SetItemIndex(0);
             ScheduleSlot slot;
             slot.sn = open->slot.sn;
             slot.date = open->slot.date;
             slot.state = state::kOpen;
             window->lvLog->AddRow(std::make_shared<const ScheduleSlot>(slot), ScheduleRowCells(slot));
             window->lvLog->SelectRow(0);
             press(window->btnOrder); // Yes to the question
         },
         QStringLiteral("正在预约…"), "已取消：预约"},
    };
    Heartbeat heartbeat;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        outcomes.clear();
        c.start();
        ASSERT_TRUE(window->Waiting());
        const std::size_t boxesAtStart = boxes.shown.size();
        const int beatsAtStart = heartbeat.beats;
        QTest::qWait(1500);
        EXPECT_GT(heartbeat.beats, beatsAtStart + 10) << "the window's event loop runs while it waits";
        EXPECT_EQ(window->lblWait->text(), c.waitText + QStringLiteral(" 1 秒"));
        EXPECT_TRUE(window->lblWait->isVisible());
        for (QPushButton* b : conflicting)
            EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
        ASSERT_TRUE(window->btnCancel->isVisible());

        QTest::mouseClick(window->btnCancel, Qt::LeftButton);
        EXPECT_FALSE(window->Waiting());
        for (QPushButton* b : conflicting)
            EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
        EXPECT_FALSE(window->btnCancel->isVisible());
        EXPECT_FALSE(window->lblWait->isVisible());
        const std::string log = Log();
        EXPECT_EQ(log.substr(log.rfind('\n') + 1), c.logLine);

        // The request under way was cut off: the worker is free again long
        // before any time-out, and nothing of the abandoned job is shown.
        ASSERT_TRUE(WaitFor([&] { return !outcomes.empty(); })) << "the worker is still waiting";
        EXPECT_TRUE(outcomes[0].cancelled);
        QCoreApplication::processEvents();
        EXPECT_EQ(boxes.shown.size(), boxesAtStart) << ::testing::PrintToString(boxes.Texts());
    }
    EXPECT_TRUE(window->lvLog->RowCount() == 1 && window->rgpUser->Count() == 1) << "nothing replaced";
    EXPECT_EQ(StatusLine(*window), "已取消预约") << "not told as a stopped auto-booking";
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(boxes.AnyError());
}
#endif

// Release day with 200 "Server Too Busy" number lists: the polls run on the
// worker, the status moves on with each of them, and "停止自动预约" ends
// auto-booking at once, before any registration.
class LongRushAtReleaseBooking : public WindowBooking {
protected:
    PortalOptions PortalOptionsOfTest() const override {
        PortalOptions o = Options();
        o.busyAfterRelease = 200;
        return o;
    }
};

TEST_F(LongRushAtReleaseBooking, StopDuringTheRushEndsAutoBookingBeforeAnyRegistration) {
    const int sn = ListSlotIn(state::kNotReleased);
    portal->ReleaseAfterPolls(sn, 1);
    Heartbeat heartbeat;
    Arm();
    const auto busyAnswers = [this] {
        int busy = 0;
        for (const auto& e : Requests("/Action/NumberWater.ashx"))
            busy += e.fault == "busy";
        return busy;
    };
    ASSERT_TRUE(WaitFor([&] { return busyAnswers() >= 3; }));
    const int beatsInRush = heartbeat.beats;
    std::set<std::string> shown;
    ASSERT_TRUE(WaitFor([&] {
        shown.insert(StatusLine(*window));
        return shown.size() >= 3;
    })) << "the status stood still during the rush";
    EXPECT_NE(StatusLine(*window).find("服务器繁忙，继续查询"), std::string::npos) << StatusLine(*window);
    EXPECT_GT(heartbeat.beats, beatsInRush + 5) << "the window's event loop runs during the rush";
    ASSERT_TRUE(window->btnStopAuto->isVisible());
    ASSERT_TRUE(window->btnStopAuto->isEnabled());
    Render(*window, "rush");

    Click(window->btnStopAuto);
    ASSERT_TRUE(WaitForHint(kStopped)) << ::testing::PrintToString(boxes.Texts());
    EXPECT_TRUE(Requests("/Action/RegCheck.ashx").empty());
    EXPECT_TRUE(Requests("/Action/Register.ashx").empty());
    EXPECT_TRUE(portal->Bookings().empty());
    EXPECT_LT(busyAnswers(), 200) << "the stop came during the rush";
    EXPECT_TRUE(Idle());
    EXPECT_EQ(StatusLine(*window), "已停止自动预约");
    EXPECT_TRUE(attention.empty());
    EXPECT_FALSE(boxes.AnyError());
}

// Every answer a little late: a crawl of the maintenance page takes a while.
class SlowPortalBooking : public WindowBooking {
protected:
    PortalOptions PortalOptionsOfTest() const override {
        PortalOptions o = Options();
        o.faults.latencyMs = 5;
        return o;
    }
};

TEST_F(SlowPortalBooking, AnArmedSlotIsPolledWhileACrawlRuns) {
    const int sn = ListSlotIn(state::kNotReleased);
    portal->ReleaseAfterPolls(sn, 1000000);
    Arm();
    ASSERT_TRUE(WaitFor([&] { return Polls(sn) >= 1; }));

    window->btnGetDoctor->click(); // one page per department
    ASSERT_TRUE(window->Crawling());
    const int atStart = Polls(sn);
    ASSERT_TRUE(WaitFor([&] { return Polls(sn) >= atStart + 3 || !window->Crawling(); }));
    EXPECT_TRUE(window->Crawling()) << "the crawl ended before three more polls";
    ASSERT_TRUE(WaitFor([&] { return !window->Crawling(); }));
    EXPECT_FALSE(boxes.AnyError()) << ::testing::PrintToString(boxes.Texts());
    EXPECT_TRUE(window->tmrOrder->isActive()) << "still armed";

    Click(window->btnStopAuto);
    ASSERT_TRUE(WaitForHint(kStopped));
    EXPECT_TRUE(Idle());
}

// The registration's answer is lost in one way or another: the window tells
// the user to look on the portal, sends nothing more, and auto-booking ends.
class RegisterFaultBooking : public WindowBooking {
protected:
    void StartWithFault(portal::RegisterFault::Kind kind, bool after, int count = 0) {
        PortalOptions o = Options();
        o.registerFault.kind = kind;
        o.registerFault.afterTaking = after;
        o.registerFault.count = count;
        Restart(o);
    }
    void Restart(const PortalOptions& o) {
        window.reset();
        portal.reset();
        QFile::remove(dir.filePath(QStringLiteral("cat.db")));
        StartPortal(o);
    }
};

TEST_F(RegisterFaultBooking, AnUnknownOutcomeIsToldAndNothingMoreIsSent) {
    using Kind = portal::RegisterFault::Kind;
    struct Case {
        const char* name;
        Kind kind;
        bool after;
        int count;
        bool armed; // auto-booking, else 2、立刻预约 on an open slot
        std::string outcome;
        std::size_t registrations;
        std::size_t booked;
    } cases[] = {
        {"armed, 500 after taking", Kind::Error500, true, 0, true,
         "预约请求已发出，但Quilora服务器返回错误 500，请进入网页查看是否已预约成功。", 1, 1},
        {"armed, dropped", Kind::Drop, true, 0, true, std::string(kUnansweredMessage), 1, 1},
        {"book now, empty", Kind::Empty, true, 0, false, std::string(kUnansweredMessage), 1, 1},
        {"book now, turned away twice", Kind::Busy503, false, 2, false, kBooked, 3, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartWithFault(c.kind, c.after, c.count);
        boxes.shown.clear();
        const int sn = ListSlotIn(c.armed ? state::kNotReleased : state::kOpen);
        if (c.armed) {
            portal->ReleaseAfterPolls(sn, 1);
            Arm();
        } else {
            Click(window->btnOrder);
        }
        ASSERT_TRUE(WaitForHint(c.outcome)) << ::testing::PrintToString(boxes.Texts());
        QTest::qWait(300); // time for a tick that must not come
        EXPECT_EQ(Requests("/Action/Register.ashx").size(), c.registrations);
        EXPECT_EQ(portal->Bookings().size(), c.booked);
        EXPECT_EQ(Requests("/Action/NumberWater.ashx").back().Param("state"), "4") << "polled after it";
        EXPECT_TRUE(Idle());
        EXPECT_FALSE(boxes.AnyError());
    }
}

// An error page is no answer of the portal: not a signed-in session, not a
// wrong password, not an empty patient list.
TEST_F(RegisterFaultBooking, ServerErrorsAtSignInAreNeitherSuccessNorRefusal) {
    PortalOptions o = Options();
    o.errorPaths["/action/cardlogin.ashx"] = 500;
    Restart(o);
    FailFast();
    SignIn(account().password);
    ASSERT_TRUE(WaitFor([&] { return boxes.AnyError(); })) << ::testing::PrintToString(boxes.Texts());
    EXPECT_EQ(boxes.Count("登录失败"), 0);
    EXPECT_NE(boxes.shown.back().text.find("（服务器返回错误 500）"), std::string::npos)
        << boxes.shown.back().text;
    EXPECT_EQ(window->pcl->currentIndex(), 0);
    EXPECT_TRUE(window->loginCardNo.empty());
}

} // namespace
} // namespace quilora
