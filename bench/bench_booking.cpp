// Release-to-registration latency of auto-booking, through the real window and
// its 800 ms timer, against the in-process demo portal on loopback, side by side
// for a portal without faults, one that answers the first three number lists
// after a release with 503 "Server Too Busy", and one that drops a fifth of all
// requests, fails another fifth with 500 and answers another fifth empty, and
// one that takes the number of a fifth of the registrations and then loses the
// answer (500, drop or empty); per setting the bookings made, the latency, the
// Register requests per booking, the slots booked twice and the false reports
// (the user told booked when nothing was, or not booked when it was).
// Then a portal whose clock runs 1.3 s ahead, once without and once with the
// release time typed into the window, and the requests it gets in the minute
// before each release; and one release armed 3.5 minutes ahead with its time
// given, for the requests per minute of the slow polls (QUILORA_BENCH_SHORT=1
// leaves that one out).
// And the client's own time per booking with the network left out.
//
//   quilora_bench_booking [releases per setting, default 50]
//                         [releases per setting of the clock running ahead, default the same]
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/application.h"
#include "app/combo_sink.h"
#include "app/dialogs.h"
#include "app/radio_group.h"
#include "app/schedule_list.h"
#include "app/tmain.h"
#include "common/normalise.h"
#include "portal/demo_portal.h"
#include "support/crawled_catalogue.h"
#include "workflow/booking.h"
#include "workflow/slot_poll.h"

namespace {

using namespace quilora;
using std::chrono::milliseconds;
using std::chrono::seconds;

long long EpochMs(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<milliseconds>(t.time_since_epoch()).count();
}

// "08:00:00" of a moment, in the local time zone as the user reads the portal's clock.
QString HhMmSs(std::chrono::system_clock::time_point t) {
    const std::time_t whole = std::chrono::system_clock::to_time_t(t);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &whole);
#else
    localtime_r(&whole, &local);
#endif
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return QString::fromLatin1(text);
}

struct Stats {
    double min = 0, p50 = 0, p95 = 0, max = 0, mean = 0;
};
Stats Summarise(std::vector<double> v) {
    Stats s;
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) {
        return v[std::min(v.size() - 1, std::size_t(q * double(v.size() - 1) + 0.5))];
    };
    s.min = v.front();
    s.p50 = at(0.50);
    s.p95 = at(0.95);
    s.max = v.back();
    for (double x : v)
        s.mean += x;
    s.mean /= double(v.size());
    return s;
}

// The crawled catalogue every setting starts from: each gets a copy, so that one
// window's writes (patients, settings) never reach another's.
class CrawledCatalogue {
public:
    explicit CrawledCatalogue(const portal::PortalOptions& options) {
        if (!dir_.isValid())
            throw std::runtime_error("no temporary folder for the catalogue");
        portal::DemoPortal source(options);
        source.Start();
        test::CrawlIntoSqlite(source, dir_.path().toStdString(), "cat.db");
        source.Stop();
    }
    void CopyInto(const QString& dir) const {
        for (const QString& suffix : {QString(), QStringLiteral("-wal")}) {
            const QString from = dir_.filePath(QStringLiteral("cat.db") + suffix);
            if (QFile::exists(from) && !QFile::copy(from, dir + QStringLiteral("/cat.db") + suffix))
                throw std::runtime_error("cannot copy the crawled catalogue into " + dir.toStdString());
        }
    }

private:
    QTemporaryDir dir_;
};

void Choose(QComboBox* box, int tag) {
    const int index = FindTag(*box, tag);
    if (index < 0)
        throw std::runtime_error("no list entry with tag " + std::to_string(tag));
    box->setCurrentIndex(index);
    emit box->activated(index);
}

// Runs action until done holds, at most `tries` times. A portal that injects
// faults gets through the fetcher's attempts with an error page now and then,
// and the window takes that page for an answer: the sign-in reads it as a
// refusal, the patients page and the schedule as empty.
bool Until(int tries, const std::function<bool()>& done, const std::function<void()>& action) {
    for (int i = 0; i < tries && !done(); ++i)
        action();
    return done();
}

// Runs the event loop until done holds, at most timeoutMs. QTest::qWaitFor
// sleeps 10 ms between its passes over the events, so a tick could fire up to
// 10 ms late; here the timers fire on time, as under the application's own loop.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(20);
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(timeoutMs);
    loop.exec();
    return done();
}

int RowOf(const TMain& window, int sn) {
    for (int r = 0; r < window.lvLog->RowCount(); ++r)
        if (window.lvLog->SlotAt(r)->sn == sn)
            return r;
    return -1;
}

// One setting: how the portal behaves around the releases.
struct Setting {
    std::string name;
    int busyAfterRelease = 0;
    portal::FaultOptions faults;
    portal::RegisterFault registerFault; // registrations whose answer is lost
    milliseconds clockOffset{0};         // the portal's clock runs ahead of ours by this
    std::uint32_t phaseSeed = 1;         // release moments within the tick
    // Each release comes this long after arming: without a release time at a
    // random moment of the 800 ms tick on top, with one (typed into the window)
    // at the next whole second of the portal's clock.
    milliseconds lead{0};
    bool releaseTimeGiven = false;
    bool countRequests = false; // the requests the portal gets in the minute before each release
    bool RandomFaults() const {
        return faults.dropRate > 0 || faults.errorRate > 0 || faults.emptyBodyRate > 0 ||
               faults.stallRate > 0;
    }
};

struct RunResult {
    int releases = 0;
    int booked = 0;            // released slots the portal holds a booking of
    int unanswered = 0;        // the registration may have arrived but got no answer: not sent again
    int refused = 0;           // the portal answered the registration with a refusal
    int outOfBudget = 0;       // still armed at the end of the release's budget: stopped
    int notArmed = 0;          // the setup never got the slot listed, or the order did not arm
    int registersSent = 0;     // Register requests that reached the portal, faults included
    int registersAnswered = 0; // ... of them the portal routed and answered (no injected fault)
    int bookedNotOnce = 0;     // booked slots with other than one answered Register
    int duplicateBookings = 0; // slots booked more than once
    // The user told the opposite of what the portal did: booked when it holds
    // no booking, refused or still armed when it holds one.
    int falseReports = 0;
    std::vector<double> releaseToRegister; // portal's release moment -> its receipt of the booking Register
    std::vector<double> pollToRegister;    // opening poll's arrival -> that Register's arrival
    std::vector<double> releaseToOpening;  // portal's release moment -> the opening poll's arrival
    std::vector<double> roundTrip;         // client-side time of one poll (fault-free portal only)
    std::vector<double> requestsBefore;    // requests the portal got in the minute before the release
    std::vector<double> armedBefore;       // seconds of that minute auto-booking was armed
};

// From arming to the end of auto-booking, on top of the setting's lead.
// Generous: three busy answers cost three ticks, and under random faults a few
// ticks in a row can fail.
constexpr int kPerReleaseBudgetMs = 15000;
// After a stop request: the tick in progress may be a booking that retries for
// up to 15 s before the stop is seen.
constexpr int kStopBudgetMs = 25000;
// The release armed long ahead, for the slow polls before the last minute.
constexpr seconds kSlowLead{210};
constexpr long long kMinuteMs = 60000;

// A demo portal of its own for one setting and the window signed in to it,
// with the portal's not-yet-released slots, doctor by doctor.
class Rig {
public:
    Rig(const Setting& setting, const portal::PortalOptions& base, const CrawledCatalogue& catalogue)
        : setting_(setting), portal_(OptionsOf(setting, base)) {
        portal_.Start();
        if (!dir_.isValid())
            throw std::runtime_error("no temporary folder for the window");
        catalogue.CopyInto(dir_.path());
        {
            std::ofstream ini(dir_.filePath(QStringLiteral("Config.ini")).toStdString());
            ini << "[Data]\nConnect=Provider=SQLite;Data Source=cat.db\nCardNo="
                << portal_.DemoAccount().cardNumber << "\nPortalUrl=" << portal_.BaseUrl()
                << "\nScriptUrl=" << portal_.ScriptUrl() << "\n";
        }
        window_ = std::make_unique<TMain>(dir_.path());
        TMain& window = *window_;
        if (setting.RandomFaults()) {
            // The setup's requests try on through dropped, empty and error answers;
            // polls stay one attempt, bookings keep their own retries.
            FetchLimits interactive = window.PortalHttp().Limits(FetchMode::Interactive);
            interactive.attempts = 40;
            window.PortalHttp().SetLimits(FetchMode::Interactive, interactive);
        }
        window.edtPasswd->setText(QString::fromStdString(portal_.DemoAccount().password));
        const bool signedIn = Until(
            20, [&] { return !window.loginCardNo.empty() && window.rgpUser->Count() > 0; },
            [&] {
                if (window.loginCardNo.empty())
                    window.btnLogin->click();
                else
                    window.btnGetUser->click();
                WaitUntil([&] { return !window.Waiting(); }, 60000);
            });
        if (!signedIn)
            throw std::runtime_error(setting.name + ": the sign-in never came through");

        for (const auto& d : portal_.GetCatalogue().Doctors())
            for (const auto& s : portal_.SlotsOf(d.id))
                if (s.state == portal::state::kNotReleased)
                    pending_.emplace_back(d, s);
        if (pending_.empty())
            throw std::runtime_error("the portal has no slot to release");
    }
    ~Rig() { portal_.Stop(); }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    TMain& Window() { return *window_; }
    std::size_t Slots() const { return pending_.size(); }
    const portal::Slot& SlotAt(std::size_t i) const { return pending_.at(i).second; }

    struct Release {
        bool armed = false;
        long long armedMs = 0;   // the order click, on the portal's clock
        long long releaseMs = 0; // on the portal's clock
        AutoBookingStatus::Phase end = AutoBookingStatus::Phase::Idle;
        int bookingsOfSlot = 0;
        std::vector<portal::RequestLogEntry> log; // from just before the order click on
    };

    // Arms auto-booking of the i-th slot, has the portal release it `lead` after
    // arming and waits until auto-booking ends, stopping it at the budget.
    Release Run(std::size_t i, milliseconds lead, bool releaseTimeGiven, std::mt19937& phase) {
        TMain& window = *window_;
        const auto& [doctor, slot] = pending_.at(i);
        const portal::Hospital* hospital = portal_.GetCatalogue().FindHospital(doctor.hospitalId);
        if (!hospital)
            throw std::runtime_error("no hospital " + std::to_string(doctor.hospitalId));
        Choose(window.cbxArea, hospital->cityId);
        Choose(window.cbxHospital, doctor.hospitalId);
        Choose(window.cbxClass, doctor.departmentId);
        Choose(window.cbxDoctor, doctor.id);
        Release r;
        if (!Until(
                20, [&] { return RowOf(window, slot.sn) >= 0; },
                [&] {
                    window.btnRefreshData->click();
                    WaitUntil([&] { return !window.Waiting(); }, 60000);
                }))
            return r;
        window.lvLog->SelectRow(RowOf(window, slot.sn));
        window.rgpUser->SetItemIndex(int(i) % window.rgpUser->Count());

        std::optional<std::chrono::system_clock::time_point> release;
        milliseconds budget = lead + milliseconds(kPerReleaseBudgetMs);
        if (releaseTimeGiven) {
            // On a whole second of the portal's clock, as releases are announced.
            release = std::chrono::ceil<seconds>(portal_.Now() + lead);
            window.edtReleaseTime->setText(HhMmSs(*release));
            portal_.ReleaseAt(slot.sn, *release);
            budget += seconds(1);
        } else {
            window.edtReleaseTime->clear();
        }
        portal_.ClearRequestLog();
        r.armedMs = EpochMs(portal_.Now());
        window.btnOrder->click(); // confirmed, auto-booking armed
        if (!window.order.TimerEnabled())
            return r;
        WaitUntil([&] { return !releaseTimeGiven || window.order.Release(); }, 2000);
        if (releaseTimeGiven && !window.order.Release())
            throw std::runtime_error(setting_.name + ": the window did not take the release time " +
                                     window.edtReleaseTime->text().toStdString());
        r.armed = true;
        if (!release) {
            // At a random moment of the 800 ms tick.
            release = portal_.Now() + lead + milliseconds(200 + int(phase() % 800));
            portal_.ReleaseAt(slot.sn, *release);
        }
        r.releaseMs = EpochMs(*release);

        const auto ended = [&] { return !window.order.TimerEnabled(); };
        if (!WaitUntil(ended, int(budget.count()))) {
            window.btnStopAutoClick();
            if (!WaitUntil(ended, kStopBudgetMs))
                throw std::runtime_error(setting_.name + ": auto-booking did not stop");
        }
        r.end = window.order.Status().phase;
        for (const auto& b : portal_.Bookings())
            r.bookingsOfSlot += b.sn == slot.sn;
        r.log = portal_.RequestLog();
        return r;
    }

private:
    static portal::PortalOptions OptionsOf(const Setting& setting, const portal::PortalOptions& base) {
        portal::PortalOptions o = base;
        o.busyAfterRelease = setting.busyAfterRelease;
        o.faults = setting.faults;
        o.registerFault = setting.registerFault;
        o.clockOffset = setting.clockOffset;
        return o;
    }

    Setting setting_;
    portal::DemoPortal portal_;
    QTemporaryDir dir_;
    std::unique_ptr<TMain> window_;
    std::vector<std::pair<portal::Doctor, portal::Slot>> pending_;
};

// The first Register of a release that reached the booking (answered, or
// its answer lost after the number was taken), or 0.
long long RegisterOf(const std::vector<portal::RequestLogEntry>& log) {
    for (const auto& e : log)
        if (e.path == "/Action/Register.ashx" && (e.fault == "none" || e.fault.rfind("register-", 0) == 0))
            return e.timeMs;
    return 0;
}

// One auto-booking per release, each on a not-yet-released slot of its own.
RunResult MeasureReleases(Rig& rig, const Setting& setting, int releases) {
    if (int(rig.Slots()) < releases)
        std::fprintf(stderr, "only %zu slots to release\n", rig.Slots());

    std::mt19937 phase(setting.phaseSeed);
    RunResult result;
    for (int i = 0; i < releases && i < int(rig.Slots()); ++i) {
        ++result.releases;
        const Rig::Release r = rig.Run(std::size_t(i), setting.lead, setting.releaseTimeGiven, phase);
        if (!r.armed) {
            ++result.notArmed;
            continue;
        }
        long long openingPoll = 0, lastPoll = 0;
        int answered = 0;
        for (const auto& e : r.log) {
            if (e.path == "/Action/NumberWater.ashx" && e.Param("state") == "2")
                lastPoll = e.timeMs;
            if (e.path == "/Action/NumberWater.ashx" && e.Param("state") == "4" && openingPoll == 0)
                openingPoll = lastPoll;
            if (e.path == "/Action/Register.ashx") {
                ++result.registersSent;
                answered += e.fault == "none";
            }
        }
        const long long reg = RegisterOf(r.log);
        result.registersAnswered += answered;
        if (r.bookingsOfSlot > 1)
            ++result.duplicateBookings;
        const bool toldBooked = r.end == AutoBookingStatus::Phase::Booked;
        const bool toldUnknown = r.end == AutoBookingStatus::Phase::Unanswered;
        if ((toldBooked && r.bookingsOfSlot == 0) || (!toldBooked && !toldUnknown && r.bookingsOfSlot > 0))
            ++result.falseReports;
        if (r.bookingsOfSlot > 0) {
            ++result.booked;
            if (answered != 1)
                ++result.bookedNotOnce;
            result.releaseToRegister.push_back(double(reg - r.releaseMs));
            result.pollToRegister.push_back(double(reg - openingPoll));
            if (openingPoll != 0)
                result.releaseToOpening.push_back(double(openingPoll - r.releaseMs));
        } else if (r.end == AutoBookingStatus::Phase::Unanswered) {
            ++result.unanswered;
        } else if (r.end == AutoBookingStatus::Phase::Refused) {
            ++result.refused;
        } else {
            ++result.outOfBudget;
        }
        if (setting.countRequests) {
            int before = 0;
            for (const auto& e : r.log)
                before += e.timeMs >= r.releaseMs - kMinuteMs && e.timeMs < r.releaseMs;
            result.requestsBefore.push_back(double(before));
            result.armedBefore.push_back(double(std::min(kMinuteMs, r.releaseMs - r.armedMs)) / 1000.0);
        }
    }

    if (!setting.RandomFaults()) {
        // One poll as the tick makes it, timed on a client of its own.
        TMain& window = rig.Window();
        const portal::Slot& anySlot = rig.SlotAt(0);
        HttpClient http;
        for (int i = 0; i < 20; ++i) {
            const auto t0 = std::chrono::steady_clock::now();
            FetchPage(http,
                      SlotPollAddress(window.portal,
                                      SlotRef{anySlot.sn, anySlot.date, anySlot.timeid, anySlot.type,
                                              anySlot.weekid, anySlot.url},
                                      2, "0"),
                      FetchMode::Poll);
            result.roundTrip.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        }
    }
    return result;
}

// One release armed kSlowLead ahead with its time given: the requests until the
// last minute before it, where the slow polls run.
struct SlowPhase {
    bool armed = false;
    long long spanMs = 0;       // arming -> 60 s before the release
    std::vector<int> perMinute; // requests in each minute of the span from arming, the last one partial
    int mostInAnyMinute = 0;    // in any 60 s within the span
    int lastMinute = 0;         // requests in the minute before the release
    bool booked = false;
    long long releaseToRegister = 0;
};

SlowPhase MeasureSlowPhase(Rig& rig, std::size_t slot) {
    std::mt19937 unused(1); // a release time leaves no phase to draw
    const Rig::Release r = rig.Run(slot, kSlowLead, true, unused);
    SlowPhase s;
    s.armed = r.armed;
    if (!r.armed)
        return s;
    const long long fastFrom = r.releaseMs - kMinuteMs;
    s.spanMs = fastFrom - r.armedMs;
    std::vector<long long> times;
    for (const auto& e : r.log) {
        if (e.timeMs >= r.armedMs && e.timeMs < fastFrom)
            times.push_back(e.timeMs);
        s.lastMinute += e.timeMs >= fastFrom && e.timeMs < r.releaseMs;
    }
    std::sort(times.begin(), times.end());
    s.perMinute.assign(std::size_t((s.spanMs + kMinuteMs - 1) / kMinuteMs), 0);
    for (const long long t : times)
        ++s.perMinute[std::size_t((t - r.armedMs) / kMinuteMs)];
    for (std::size_t j = 0; j < times.size(); ++j) {
        const auto end = std::lower_bound(times.begin(), times.end(), times[j] + kMinuteMs);
        s.mostInAnyMinute = std::max(s.mostInAnyMinute, int(end - (times.begin() + long(j))));
    }
    s.booked = r.bookingsOfSlot > 0;
    if (s.booked)
        s.releaseToRegister = RegisterOf(r.log) - r.releaseMs;
    return s;
}

// The client's work for one opening tick and its booking, on answers captured
// from the portal, with no network: normalising, scanning, building addresses.
void MeasureClientTime() {
    portal::PortalOptions o;
    o.port = o.scriptPort = 0;
    portal::DemoPortal portal(o);
    portal.Start();
    const auto open = portal.FindSlot(portal::state::kOpen);
    if (!open)
        throw std::runtime_error("the portal has no open slot");
    HttpClient http;
    PortalHosts hosts;
    hosts.portalUrl = portal.BaseUrl();
    hosts.scriptUrl = portal.ScriptUrl();
    const auto& account = portal.DemoAccount();
    FetchPage(http, SignInAddress(hosts, account.cardNumber, account.password, "0"));

    const SlotRef ref{open->slot.sn,   open->slot.date,   open->slot.timeid,
                      open->slot.type, open->slot.weekid, open->slot.url};
    std::map<std::string, std::string> answers; // by path
    BookingIo capture;
    capture.fetch = [&](const PortalAddress& a, AnswerRule rule) {
        FetchedPage page = Fetch(http, a, FetchMode::Booking, rule);
        answers[a.url.substr(hosts.portalUrl.size(), a.url.find('?') - hosts.portalUrl.size())] = page.text;
        return page;
    };
    capture.log = [](std::string_view) {};
    capture.memberId = [&] { return account.patients[0].clinicNumber; };
    RunBooking(hosts, ref, capture);
    portal.Stop();

    BookingIo offline = capture;
    offline.fetch = [&](const PortalAddress& a, AnswerRule) {
        FetchedPage page;
        page.status = 200;
        page.text = answers[a.url.substr(hosts.portalUrl.size(), a.url.find('?') - hosts.portalUrl.size())];
        return page;
    };
    const std::string pollAnswer = answers["/Action/NumberWater.ashx"];
    constexpr int kRuns = 2000;
    std::vector<double> us;
    us.reserve(kRuns);
    std::size_t sink = 0;
    for (int i = 0; i < kRuns; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        const std::string poll = NormalisePage(pollAnswer);
        sink += ReadPollAnswer(200, poll) == PollAnswer::Opened;
        sink += RunBooking(hosts, ref, offline).message.size();
        us.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    const Stats s = Summarise(us);
    std::printf(
        "client time per booking (opening tick + 3 answers, no network, %d runs): "
        "mean %.1f us, p50 %.1f us, p95 %.1f us, max %.1f us  [answers %zu+%zu+%zu bytes, check %zu]\n",
        kRuns, s.mean, s.p50, s.p95, s.max, answers["/Action/NumberWater.ashx"].size(),
        answers["/Action/RegCheck.ashx"].size(), answers["/Action/Register.ashx"].size(), sink % 7);
}

std::string Ratio(int part, int whole) {
    return std::to_string(part) + "/" + std::to_string(whole);
}

// "415 ms", or "-" when nothing was booked.
std::string Ms(const std::vector<double>& samples, double value) {
    if (samples.empty())
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.0f ms", value);
    return text;
}

void PrintTable(const std::vector<std::pair<Setting, RunResult>>& runs) {
    int width = 27;
    for (const auto& run : runs)
        width = std::max(width, int(run.first.name.size()));
    std::printf("\n%-*s | %-15s | %8s | %8s | %8s | %s\n", width, "setting", "booked/releases", "p50", "p95",
                "max", "Register per booking");
    for (const auto& [setting, r] : runs) {
        const Stats s = Summarise(r.releaseToRegister);
        char perBooking[96] = "-";
        if (r.booked > 0)
            std::snprintf(perBooking, sizeof perBooking, "%.2f (%d answered for %d booked; %d sent in all)",
                          double(r.registersAnswered) / double(r.booked), r.registersAnswered, r.booked,
                          r.registersSent);
        const auto& v = r.releaseToRegister;
        std::printf("%-*s | %-15s | %8s | %8s | %8s | %s\n", width, setting.name.c_str(),
                    Ratio(r.booked, r.releases).c_str(), Ms(v, s.p50).c_str(), Ms(v, s.p95).c_str(),
                    Ms(v, s.max).c_str(), perBooking);
    }
    std::printf("(release -> Register: from the portal's release of the slot to its receipt of the booking "
                "Register; booked releases only)\n\n");
    for (const auto& [setting, r] : runs) {
        const Stats chain = Summarise(r.pollToRegister);
        std::printf("%s: not booked %d (registration unanswered, not sent again %d; refused %d; stopped at "
                    "the %d s budget %d; never armed %d); booked slots with other than one answered "
                    "Register %d; slots booked twice %d; false reports %d; opening poll -> Register p50 %s, "
                    "max %s\n",
                    setting.name.c_str(), r.releases - r.booked, r.unanswered, r.refused,
                    kPerReleaseBudgetMs / 1000, r.outOfBudget, r.notArmed, r.bookedNotOnce,
                    r.duplicateBookings, r.falseReports, Ms(r.pollToRegister, chain.p50).c_str(),
                    Ms(r.pollToRegister, chain.max).c_str());
        if (!r.roundTrip.empty() && !r.releaseToRegister.empty() && !setting.releaseTimeGiven) {
            const Stats total = Summarise(r.releaseToRegister);
            const Stats rtt = Summarise(r.roundTrip);
            // Each busy answer costs one more tick before the poll that opens.
            const double floor = 400.0 + 800.0 * setting.busyAfterRelease + 4.0 * rtt.mean;
            std::printf(
                "    one poll round trip mean %.1f ms; floor (400 ms average wait + %d busy ticks + 4 "
                "round trips) %.0f ms; mean %.0f ms (%+.0f ms against the floor)\n",
                rtt.mean, setting.busyAfterRelease, floor, total.mean, total.mean - floor);
        }
        if (setting.countRequests && !r.requestsBefore.empty()) {
            const Stats requests = Summarise(r.requestsBefore);
            const Stats armed = Summarise(r.armedBefore);
            double all = 0, armedSeconds = 0;
            for (std::size_t i = 0; i < r.requestsBefore.size(); ++i) {
                all += r.requestsBefore[i];
                armedSeconds += r.armedBefore[i];
            }
            const Stats opening = Summarise(r.releaseToOpening);
            std::printf("    requests the portal got in the minute before the release: mean %.1f per release "
                        "(min %.0f, max %.0f), armed for the last %.1f s of that minute on average: %.0f per "
                        "armed minute; release -> opening poll p50 %s, p95 %s, max %s\n",
                        requests.mean, requests.min, requests.max, armed.mean,
                        armedSeconds > 0 ? all / armedSeconds * 60.0 : 0.0,
                        Ms(r.releaseToOpening, opening.p50).c_str(),
                        Ms(r.releaseToOpening, opening.p95).c_str(),
                        Ms(r.releaseToOpening, opening.max).c_str());
        }
    }
}

void PrintSlowPhase(const SlowPhase& s) {
    if (!s.armed) {
        std::printf("\nrelease time given, armed %lld s ahead: never armed\n",
                    static_cast<long long>(kSlowLead.count()));
        return;
    }
    std::string perMinute;
    for (const int n : s.perMinute)
        perMinute += (perMinute.empty() ? "" : ", ") + std::to_string(n);
    int all = 0;
    for (const int n : s.perMinute)
        all += n;
    const long long lastPart = s.spanMs - kMinuteMs * (static_cast<long long>(s.perMinute.size()) - 1);
    char booked[64] = "not booked";
    if (s.booked)
        std::snprintf(booked, sizeof booked, "booked, release -> Register %lld ms", s.releaseToRegister);
    std::printf("\nclock +1.3 s, release time given, armed %.1f min ahead: %d requests from arming to 60 s "
                "before the release (%.1f s), per minute %s (the last over %.0f s); at most %d in any 60 s "
                "(goal: 2); %d in the last minute; %s\n",
                double(kSlowLead.count()) / 60.0, all, double(s.spanMs) / 1000.0, perMinute.c_str(),
                double(lastPart) / 1000.0, s.mostInAnyMinute, s.lastMinute, booked);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv);
    const int releases = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    const int clockReleases = argc > 2 ? std::max(1, std::atoi(argv[2])) : releases;
    const QByteArray shortRun = qgetenv("QUILORA_BENCH_SHORT");
    const bool slowPhase = shortRun.isEmpty() || shortRun == "0";
    try {
        MeasureClientTime();

        portal::PortalOptions base;
        base.port = base.scriptPort = 0;
        base.releaseAfterPolls = 0; // released by time only
        base.seed = 11;             // one catalogue for the crawl and every setting
        const CrawledCatalogue catalogue(base);

        std::vector<Setting> settings(6);
        settings[0].name = "no faults";
        settings[0].phaseSeed = 1;
        settings[1].name = "busyAfterRelease 3";
        settings[1].busyAfterRelease = 3;
        settings[1].phaseSeed = 2;
        settings[2].name = "drop/error/empty 0.2 each";
        settings[2].faults.dropRate = settings[2].faults.errorRate = settings[2].faults.emptyBodyRate = 0.2;
        settings[2].phaseSeed = 3;
        // A fifth of the registrations take the number and lose the answer (500,
        // drop or empty): the user must be told to look, never the opposite.
        settings[5].name = "20 % registrations 500/drop/empty after taking";
        settings[5].registerFault.kind = portal::RegisterFault::Kind::Mixed;
        settings[5].registerFault.afterTaking = true;
        settings[5].registerFault.rate = 0.2;
        settings[5].phaseSeed = 5;
        // The portal's clock 1.3 s ahead, each release about 12 s after arming so
        // that the minute before it sees the polls of both: the 800 ms ticks from
        // arming, or the ticks placed by the release time.
        settings[3].name = "clock +1.3 s, no release time";
        settings[3].phaseSeed = 4;
        settings[4].name = "clock +1.3 s, release time given";
        settings[4].releaseTimeGiven = true;
        for (Setting* s : {&settings[3], &settings[4]}) {
            s->clockOffset = milliseconds(1300);
            s->lead = seconds(12);
            s->countRequests = true;
        }

        // Message boxes answered as a user would: OK to hints, Yes to questions.
        const ScopedResponder responder(
            [](const MessageRequest& r) { return (r.flags & kMbButtonMask) == kMbOk ? kIdOk : kIdYes; });
        std::vector<std::pair<Setting, RunResult>> runs;
        std::optional<SlowPhase> slow;
        for (const Setting& setting : settings) {
            const int count = setting.clockOffset.count() != 0 ? clockReleases : releases;
            Rig rig(setting, base, catalogue);
            runs.emplace_back(setting, MeasureReleases(rig, setting, count));
            const RunResult& r = runs.back().second;
            std::fprintf(stderr, "%s: %d of %d booked\n", setting.name.c_str(), r.booked, r.releases);
            if (setting.releaseTimeGiven && slowPhase) {
                if (rig.Slots() > std::size_t(count)) {
                    slow = MeasureSlowPhase(rig, std::size_t(count));
                    std::fprintf(stderr, "release armed %lld s ahead: %s\n",
                                 static_cast<long long>(kSlowLead.count()),
                                 slow->booked ? "booked" : "not booked");
                } else {
                    std::fprintf(stderr, "no slot left for the release armed %lld s ahead\n",
                                 static_cast<long long>(kSlowLead.count()));
                }
            }
        }
        PrintTable(runs);
        if (slow)
            PrintSlowPhase(*slow);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quilora_bench_booking: %s\n", e.what());
        return 1;
    }
    return 0;
}
