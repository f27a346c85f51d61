// Release-to-registration latency of auto-booking, through the real window and
// its 800 ms timer, against the in-process demo portal on loopback, side by side
// for a portal without faults, one that answers the first three number lists
// after a release with 503 "Server Too Busy", and one that drops a fifth of all
// requests, fails another fifth with 500 and answers another fifth empty; per
// setting the bookings made, the latency and the Register requests per booking.
// And the client's own time per booking with the network left out.
//
//   quilora_bench_booking [releases per setting, default 50]
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
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

struct Stats {
    double p50 = 0, p95 = 0, max = 0, mean = 0;
};
Stats Summarise(std::vector<double> v) {
    Stats s;
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) {
        return v[std::min(v.size() - 1, std::size_t(q * double(v.size() - 1) + 0.5))];
    };
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
    std::uint32_t phaseSeed = 1; // release moments within the tick
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
    std::vector<double> releaseToRegister; // portal's release moment -> its receipt of the booking Register
    std::vector<double> pollToRegister;    // opening poll's arrival -> that Register's arrival
    std::vector<double> roundTrip;         // client-side time of one poll (fault-free portal only)
};

// From arming to the end of auto-booking. Generous: three busy answers cost
// three ticks, and under random faults a few ticks in a row can fail.
constexpr int kPerReleaseBudgetMs = 15000;
// After a stop request: the tick in progress may be a booking that retries for
// up to 15 s before the stop is seen.
constexpr int kStopBudgetMs = 25000;

// One auto-booking per release, each on a not-yet-released slot of its own,
// against a portal of its own.
RunResult MeasureReleases(const Setting& setting, const portal::PortalOptions& base,
                          const CrawledCatalogue& catalogue, int releases) {
    portal::PortalOptions o = base;
    o.busyAfterRelease = setting.busyAfterRelease;
    o.faults = setting.faults;
    portal::DemoPortal portal(o);
    portal.Start();

    QTemporaryDir dir;
    if (!dir.isValid())
        throw std::runtime_error("no temporary folder for the window");
    catalogue.CopyInto(dir.path());
    {
        std::ofstream ini(dir.filePath(QStringLiteral("Config.ini")).toStdString());
        ini << "[Data]\nConnect=Provider=SQLite;Data Source=cat.db\nCardNo="
            << portal.DemoAccount().cardNumber << "\nPortalUrl=" << portal.BaseUrl()
            << "\nScriptUrl=" << portal.ScriptUrl() << "\n";
    }
    TMain window(dir.path());
    if (setting.RandomFaults()) {
        // The setup's requests try on through dropped, empty and error answers;
        // polls stay one attempt, bookings keep their own retries.
        FetchLimits interactive = window.xmlHttp->Limits(FetchMode::Interactive);
        interactive.attempts = 40;
        window.xmlHttp->SetLimits(FetchMode::Interactive, interactive);
    }
    window.edtPasswd->setText(QString::fromStdString(portal.DemoAccount().password));
    const bool signedIn = Until(
        20, [&] { return !window.loginCardNo.empty() && window.rgpUser->Count() > 0; },
        [&] {
            if (window.loginCardNo.empty())
                window.btnLogin->click();
            else
                window.btnGetUser->click();
        });
    if (!signedIn)
        throw std::runtime_error(setting.name + ": the sign-in never came through");

    // Every not-yet-released slot, doctor by doctor.
    std::vector<std::pair<portal::Doctor, portal::Slot>> pending;
    for (const auto& d : portal.GetCatalogue().Doctors())
        for (const auto& s : portal.SlotsOf(d.id))
            if (s.state == portal::state::kNotReleased)
                pending.emplace_back(d, s);
    if (pending.empty())
        throw std::runtime_error("the portal has no slot to release");
    if (int(pending.size()) < releases)
        std::fprintf(stderr, "only %zu slots to release\n", pending.size());

    std::mt19937 phase(setting.phaseSeed);
    RunResult result;
    for (int i = 0; i < releases && i < int(pending.size()); ++i) {
        ++result.releases;
        const auto& [doctor, slot] = pending[std::size_t(i)];
        const portal::Hospital* hospital = portal.GetCatalogue().FindHospital(doctor.hospitalId);
        if (!hospital)
            throw std::runtime_error("no hospital " + std::to_string(doctor.hospitalId));
        Choose(window.cbxArea, hospital->cityId);
        Choose(window.cbxHospital, doctor.hospitalId);
        Choose(window.cbxClass, doctor.departmentId);
        Choose(window.cbxDoctor, doctor.id);
        if (!Until(
                20, [&] { return RowOf(window, slot.sn) >= 0; }, [&] { window.btnRefreshData->click(); })) {
            ++result.notArmed;
            continue;
        }
        window.lvLog->SelectRow(RowOf(window, slot.sn));
        window.rgpUser->SetItemIndex(i % window.rgpUser->Count());

        window.btnOrder->click(); // confirmed, auto-booking armed
        if (!window.order.TimerEnabled()) {
            ++result.notArmed;
            continue;
        }
        // Released at a random phase of the 800 ms tick.
        const auto release = portal.Now() + milliseconds(200 + int(phase() % 800));
        const long long releaseMs =
            std::chrono::duration_cast<milliseconds>(release.time_since_epoch()).count();
        portal.ReleaseAt(slot.sn, release);
        portal.ClearRequestLog();

        const auto ended = [&] { return !window.order.TimerEnabled(); };
        if (!QTest::qWaitFor(ended, kPerReleaseBudgetMs)) {
            window.order.RequestStop();
            if (!QTest::qWaitFor(ended, kStopBudgetMs))
                throw std::runtime_error(setting.name + ": auto-booking did not stop");
        }
        const AutoBookingStatus::Phase end = window.order.Status().phase;

        int bookingsOfSlot = 0;
        for (const auto& b : portal.Bookings())
            bookingsOfSlot += b.sn == slot.sn;
        long long openingPoll = 0, lastPoll = 0, reg = 0;
        int answered = 0;
        for (const auto& e : portal.RequestLog()) {
            if (e.path == "/Action/NumberWater.ashx" && e.Param("state") == "2")
                lastPoll = e.timeMs;
            if (e.path == "/Action/NumberWater.ashx" && e.Param("state") == "4" && openingPoll == 0)
                openingPoll = lastPoll;
            if (e.path == "/Action/Register.ashx") {
                ++result.registersSent;
                if (e.fault == "none") {
                    ++answered;
                    if (reg == 0)
                        reg = e.timeMs;
                }
            }
        }
        result.registersAnswered += answered;
        if (bookingsOfSlot > 1)
            ++result.duplicateBookings;
        if (bookingsOfSlot > 0) {
            ++result.booked;
            if (answered != 1)
                ++result.bookedNotOnce;
            result.releaseToRegister.push_back(double(reg - releaseMs));
            result.pollToRegister.push_back(double(reg - openingPoll));
        } else if (end == AutoBookingStatus::Phase::Unanswered) {
            ++result.unanswered;
        } else if (end == AutoBookingStatus::Phase::Refused) {
            ++result.refused;
        } else {
            ++result.outOfBudget;
        }
    }

    if (!setting.RandomFaults()) {
        // One poll as the tick makes it, timed on the client.
        const auto anySlot = pending.front().second;
        for (int i = 0; i < 20; ++i) {
            const auto t0 = std::chrono::steady_clock::now();
            FetchPage(*window.xmlHttp,
                      SlotPollAddress(window.portal,
                                      SlotRef{anySlot.sn, anySlot.date, anySlot.timeid, anySlot.type,
                                              anySlot.weekid, anySlot.url},
                                      2, "0"),
                      FetchMode::Poll);
            result.roundTrip.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        }
    }
    portal.Stop();
    return result;
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
    std::printf("\n%-27s | %-15s | %8s | %8s | %8s | %s\n", "setting", "booked/releases", "p50", "p95", "max",
                "Register per booking");
    for (const auto& [setting, r] : runs) {
        const Stats s = Summarise(r.releaseToRegister);
        char perBooking[96] = "-";
        if (r.booked > 0)
            std::snprintf(perBooking, sizeof perBooking, "%.2f (%d answered for %d booked; %d sent in all)",
                          double(r.registersAnswered) / double(r.booked), r.registersAnswered, r.booked,
                          r.registersSent);
        const auto& v = r.releaseToRegister;
        std::printf("%-27s | %-15s | %8s | %8s | %8s | %s\n", setting.name.c_str(),
                    Ratio(r.booked, r.releases).c_str(), Ms(v, s.p50).c_str(), Ms(v, s.p95).c_str(),
                    Ms(v, s.max).c_str(), perBooking);
    }
    std::printf("(release -> Register: from the portal's release of the slot to its receipt of the booking "
                "Register; booked releases only)\n\n");
    for (const auto& [setting, r] : runs) {
        const Stats chain = Summarise(r.pollToRegister);
        std::printf("%s: not booked %d (registration unanswered, not sent again %d; refused %d; stopped at "
                    "the %d s budget %d; never armed %d); booked slots with other than one answered "
                    "Register %d; slots booked twice %d; opening poll -> Register p50 %s, max %s\n",
                    setting.name.c_str(), r.releases - r.booked, r.unanswered, r.refused,
                    kPerReleaseBudgetMs / 1000, r.outOfBudget, r.notArmed, r.bookedNotOnce,
                    r.duplicateBookings, Ms(r.pollToRegister, chain.p50).c_str(),
                    Ms(r.pollToRegister, chain.max).c_str());
        if (!r.roundTrip.empty() && !r.releaseToRegister.empty()) {
            const Stats total = Summarise(r.releaseToRegister);
            const Stats rtt = Summarise(r.roundTrip);
            // Each busy answer costs one more tick before the poll that opens.
            const double floor = 400.0 + 800.0 * setting.busyAfterRelease + 4.0 * rtt.mean;
            std::printf(
                "    one poll round trip mean %.1f ms; floor (400 ms average wait + %d busy ticks + 4 "
                "round trips) %.0f ms; mean %.0f ms (%+.0f ms against the floor)\n",
                rtt.mean, setting.busyAfterRelease, floor, total.mean, total.mean - floor);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv);
    const int releases = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    try {
        MeasureClientTime();

        portal::PortalOptions base;
        base.port = base.scriptPort = 0;
        base.releaseAfterPolls = 0; // released by time only
        base.seed = 11;             // one catalogue for the crawl and every setting
        const CrawledCatalogue catalogue(base);

        std::vector<Setting> settings(3);
        settings[0].name = "no faults";
        settings[0].phaseSeed = 1;
        settings[1].name = "busyAfterRelease 3";
        settings[1].busyAfterRelease = 3;
        settings[1].phaseSeed = 2;
        settings[2].name = "drop/error/empty 0.2 each";
        settings[2].faults.dropRate = settings[2].faults.errorRate = settings[2].faults.emptyBodyRate = 0.2;
        settings[2].phaseSeed = 3;

        // Message boxes answered as a user would: OK to hints, Yes to questions.
        const ScopedResponder responder(
            [](const MessageRequest& r) { return (r.flags & kMbButtonMask) == kMbOk ? kIdOk : kIdYes; });
        std::vector<std::pair<Setting, RunResult>> runs;
        for (const Setting& setting : settings) {
            runs.emplace_back(setting, MeasureReleases(setting, base, catalogue, releases));
            const RunResult& r = runs.back().second;
            std::fprintf(stderr, "%s: %d of %d booked\n", setting.name.c_str(), r.booked, r.releases);
        }
        PrintTable(runs);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quilora_bench_booking: %s\n", e.what());
        return 1;
    }
    return 0;
}
