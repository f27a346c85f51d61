// Release-to-registration latency of auto-booking, through the real window and
// its 800 ms timer, against the in-process demo portal on loopback; and the
// client's own time per booking with the network left out.
//
//   quilora_bench_booking [releases per latency, default 50]
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
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
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
using Clock = std::chrono::system_clock;
using std::chrono::milliseconds;

const std::string kBooked = "预约成功, 请进入网页查看！";
constexpr int kPerReleaseBudgetMs = 8000;

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

void Crawl(const portal::DemoPortal& source, const QString& dir) {
    test::CrawlIntoSqlite(source, dir.toStdString(), "cat.db");
}

void Choose(QComboBox* box, int tag) {
    const int index = FindTag(*box, tag);
    if (index < 0)
        throw std::runtime_error("no list entry with tag " + std::to_string(tag));
    box->setCurrentIndex(index);
    emit box->activated(index);
}

struct RunResult {
    std::vector<double> releaseToRegister; // portal's release moment -> its receipt of Register
    std::vector<double> pollToRegister;    // opening poll's arrival -> Register's arrival
    std::vector<double> roundTrip;         // client-side time of one poll
    int missed = 0;
};

// One auto-booking per release, each on a not-yet-released slot of its own.
RunResult MeasureReleases(int latencyMs, int releases) {
    portal::PortalOptions o;
    o.port = o.scriptPort = 0;
    o.releaseAfterPolls = 0; // released by time only
    o.faults.latencyMs = latencyMs;
    o.seed = 11;
    portal::DemoPortal portal(o);
    portal.Start();

    QTemporaryDir dir;
    Crawl(portal, dir.path());
    {
        std::ofstream ini(dir.filePath(QStringLiteral("Config.ini")).toStdString());
        ini << "[Data]\nConnect=Provider=SQLite;Data Source=cat.db\nCardNo="
            << portal.DemoAccount().cardNumber << "\nPortalUrl=" << portal.BaseUrl()
            << "\nScriptUrl=" << portal.ScriptUrl() << "\n";
    }
    int booked = 0;
    const ScopedResponder responder([&](const MessageRequest& r) {
        if (r.text == kBooked)
            ++booked;
        return (r.flags & kMbButtonMask) == kMbOk ? kIdOk : kIdYes;
    });
    TMain window(dir.path());
    window.edtPasswd->setText(QString::fromStdString(portal.DemoAccount().password));
    window.btnLogin->click();

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

    std::mt19937 phase(latencyMs + 1);
    RunResult result;
    for (int i = 0; i < releases && i < int(pending.size()); ++i) {
        const auto& [doctor, slot] = pending[std::size_t(i)];
        const portal::Hospital* hospital = portal.GetCatalogue().FindHospital(doctor.hospitalId);
        if (!hospital)
            throw std::runtime_error("no hospital " + std::to_string(doctor.hospitalId));
        Choose(window.cbxArea, hospital->cityId);
        Choose(window.cbxHospital, doctor.hospitalId);
        Choose(window.cbxClass, doctor.departmentId);
        Choose(window.cbxDoctor, doctor.id);
        window.btnRefreshData->click();
        int row = -1;
        for (int r = 0; r < window.lvLog->RowCount(); ++r)
            if (window.lvLog->SlotAt(r)->sn == slot.sn)
                row = r;
        window.lvLog->SelectRow(row);
        window.rgpUser->SetItemIndex(i % window.rgpUser->Count());

        const int before = booked;
        window.btnOrder->click(); // confirmed, auto-booking armed
        if (!window.tmrOrder->isActive()) {
            ++result.missed;
            continue;
        }
        // Released at a random phase of the 800 ms tick.
        const auto release = Clock::now() + milliseconds(200 + int(phase() % 800));
        const long long releaseMs =
            std::chrono::duration_cast<milliseconds>(release.time_since_epoch()).count();
        portal.ReleaseAt(slot.sn, release);
        portal.ClearRequestLog();
        if (!QTest::qWaitFor([&] { return booked > before; }, kPerReleaseBudgetMs)) {
            ++result.missed;
            window.order.RequestStop();
            QTest::qWait(1000);
            continue;
        }
        long long openingPoll = 0, reg = 0, lastPoll = 0;
        for (const auto& e : portal.RequestLog()) {
            if (e.path == "/Action/NumberWater.ashx" && e.Param("state") == "2")
                lastPoll = e.timeMs;
            if (e.path == "/Action/NumberWater.ashx" && e.Param("state") == "4")
                openingPoll = lastPoll;
            if (e.path == "/Action/Register.ashx")
                reg = e.timeMs;
        }
        result.releaseToRegister.push_back(double(reg - releaseMs));
        result.pollToRegister.push_back(double(reg - openingPoll));
    }

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

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv);
    const int releases = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    try {
        MeasureClientTime();
        for (const int latency : {0, 30}) {
            const RunResult r = MeasureReleases(latency, releases);
            const Stats total = Summarise(r.releaseToRegister);
            const Stats chain = Summarise(r.pollToRegister);
            const Stats rtt = Summarise(r.roundTrip);
            const double floor = 400.0 + 4.0 * rtt.mean;
            std::printf("added latency %2d ms, %zu releases (%d missed): release -> Register p50 %.0f ms, "
                        "p95 %.0f ms, max %.0f ms, mean %.0f ms\n",
                        latency, r.releaseToRegister.size(), r.missed, total.p50, total.p95, total.max,
                        total.mean);
            std::printf(
                "    opening poll -> Register p50 %.0f ms, max %.0f ms; one poll round trip mean %.1f "
                "ms; floor (400 ms average wait + 4 round trips) %.0f ms; mean above floor %.0f ms\n",
                chain.p50, chain.max, rtt.mean, floor, total.mean - floor);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quilora_bench_booking: %s\n", e.what());
        return 1;
    }
    return 0;
}
