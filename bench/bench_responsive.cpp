// How long the window's event loop stalls while the portal keeps it waiting:
// a 10 ms heartbeat timer on the window's thread, and the largest gap between
// two of its beats, while the window
//   (a) auto-books a slot whose release meets an overloaded portal (the first
//       200 number lists "Server Too Busy"), from the order click to the outcome;
//   (b) signs in at a portal that takes the connection and never answers, for
//       3 s, then 取消;
//   (c) crawls the whole catalogue on the maintenance page.
// quilora_bench_responsive [--national]   (--national: (c) at the national scale)
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/application.h"
#include "app/combo_sink.h"
#include "app/dialogs.h"
#include "app/schedule_list.h"
#include "app/tmain.h"
#include "portal/demo_portal.h"
#include "support/crawled_catalogue.h"

namespace quilora {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Beats every 10 ms on the thread that creates it; keeps the largest gap.
class Heartbeat {
public:
    Heartbeat() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            maxGap_ = std::max(maxGap_, now - last_);
            last_ = now;
            ++beats_;
        });
    }
    void Start() {
        last_ = Clock::now();
        maxGap_ = {};
        beats_ = 0;
        timer_.start();
    }
    void Stop() {
        // The stretch from the last beat to now counts too.
        maxGap_ = std::max(maxGap_, Clock::now() - last_);
        timer_.stop();
    }
    double MaxGapMs() const { return std::chrono::duration<double, std::milli>(maxGap_).count(); }
    int Beats() const { return beats_; }

private:
    QTimer timer_;
    Clock::time_point last_{};
    Clock::duration maxGap_{};
    int beats_ = 0;
};

// Runs the event loop until done holds, at most timeoutMs.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = Clock::now() + milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() >= deadline)
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void Choose(QComboBox* box, int tag) {
    const int index = FindTag(*box, tag);
    if (index < 0)
        throw std::runtime_error("no list entry with tag " + std::to_string(tag));
    box->setCurrentIndex(index);
    emit box->activated(index);
}

void WriteConfig(const QString& dir, const std::string& card, const std::string& base,
                 const std::string& script) {
    std::ofstream ini(QDir(dir).filePath(QStringLiteral("Config.ini")).toStdString());
    ini << "[Data]\nConnect=Provider=SQLite;Data Source=cat.db\nCardNo=" << card << "\nPortalUrl=" << base
        << "\nScriptUrl=" << script << "\n";
}

// Takes connections and never answers.
class SilentPortal {
public:
    SilentPortal() : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(fd_, 64) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            throw std::runtime_error("no silent port");
        port_ = ntohs(addr.sin_port);
    }
    ~SilentPortal() { close(fd_); }
    SilentPortal(const SilentPortal&) = delete;
    SilentPortal& operator=(const SilentPortal&) = delete;
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
    int fd_;
    int port_ = 0;
};

// Shown and painted before the measuring starts: the first layout is not the portal's doing.
void Show(TMain& w) {
    w.show();
    WaitUntil([] { return false; }, 300);
}

void Report(const char* what, const Heartbeat& h, double seconds, const std::string& note) {
    std::printf("%-44s longest stall %7.1f ms  (%d beats in %.1f s)  %s\n", what, h.MaxGapMs(), h.Beats(),
                seconds, note.c_str());
    std::fflush(stdout);
}

double Since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// (a) auto-booking through a release rush.
void OverloadedRelease() {
    portal::PortalOptions o;
    o.port = o.scriptPort = 0;
    o.releaseAfterPolls = 0;
    o.busyAfterRelease = 200;
    portal::DemoPortal portal(o);
    portal.Start();
    QTemporaryDir dir;
    test::CrawlIntoSqlite(portal, dir.path().toStdString(), "cat.db");
    portal.ClearRequestLog();
    WriteConfig(dir.path(), portal.DemoAccount().cardNumber, portal.BaseUrl(), portal.ScriptUrl());

    TMain w(dir.path());
    w.tmrOrder->setInterval(40);
    Show(w);
    w.edtPasswd->setText(QString::fromStdString(portal.DemoAccount().password));
    w.btnLogin->click();
    if (!WaitUntil([&] { return !w.Waiting(); }, 30000) || w.loginCardNo.empty())
        throw std::runtime_error("(a): no sign-in");
    const auto found = portal.FindSlot(portal::state::kNotReleased);
    if (!found)
        throw std::runtime_error("(a): no slot to release");
    const portal::Hospital* hospital = portal.GetCatalogue().FindHospital(found->doctor.hospitalId);
    Choose(w.cbxArea, hospital->cityId);
    Choose(w.cbxHospital, found->doctor.hospitalId);
    Choose(w.cbxClass, found->doctor.departmentId);
    Choose(w.cbxDoctor, found->doctor.id);
    w.btnRefreshData->click();
    WaitUntil([&] { return !w.Waiting(); }, 30000);
    int row = -1;
    for (int i = 0; i < w.lvLog->RowCount(); ++i)
        if (w.lvLog->SlotAt(i)->sn == found->slot.sn)
            row = i;
    if (row < 0)
        throw std::runtime_error("(a): the slot is not listed");
    w.lvLog->SelectRow(row);
    portal.ReleaseAfterPolls(found->slot.sn, 1);

    std::string outcome;
    const ScopedResponder answer([&](const MessageRequest& r) {
        if ((r.flags & kMbButtonMask) == kMbOk)
            outcome = r.text;
        return kIdYes;
    });
    Heartbeat h;
    h.Start();
    const auto t0 = Clock::now();
    w.btnOrder->click();
    const bool ended = WaitUntil([&] { return !outcome.empty(); }, 120000);
    h.Stop();
    int busy = 0;
    for (const auto& e : portal.RequestLog())
        busy += e.fault == "busy";
    Report("(a) auto-booking, 200 busy number lists", h, Since(t0),
           (ended ? outcome : std::string("no outcome")) + ", " + std::to_string(busy) + " busy answers");
}

// (b) a sign-in that never answers, cancelled after 3 s.
void HungSignIn() {
    SilentPortal silent;
    QTemporaryDir dir;
    WriteConfig(dir.path(), "6201000000000001", silent.Url(), silent.Url());
    const ScopedResponder answer([](const MessageRequest&) { return kIdOk; });
    TMain w(dir.path());
    Show(w);
    w.edtPasswd->setText(QStringLiteral("demo1234"));
    Heartbeat h;
    h.Start();
    const auto t0 = Clock::now();
    w.btnLogin->click();
    WaitUntil([] { return false; }, 3000);
    const bool waited = w.Waiting();
    w.btnCancel->click();
    WaitUntil([] { return false; }, 200);
    h.Stop();
    Report("(b) hung sign-in, 3 s, then 取消", h, Since(t0),
           waited && !w.Waiting() ? "cancelled" : "the wait did not behave");
}

// (c) the four crawls of the maintenance page into an empty catalogue.
void Crawl(portal::Scale scale) {
    portal::PortalOptions o;
    o.port = o.scriptPort = 0;
    o.scale = scale;
    portal::DemoPortal portal(o);
    portal.Start();
    QTemporaryDir dir;
    WriteConfig(dir.path(), portal.DemoAccount().cardNumber, portal.BaseUrl(), portal.ScriptUrl());
    const ScopedResponder answer([](const MessageRequest&) { return kIdOk; });
    TMain w(dir.path());
    Show(w);
    Heartbeat h;
    h.Start();
    const auto t0 = Clock::now();
    for (QPushButton* b : {w.btnGetData, w.btnGetHospital, w.btnKeshi, w.btnGetDoctor}) {
        b->click();
        WaitUntil([&] { return !w.Crawling(); }, 3600 * 1000);
    }
    h.Stop();
    Report(scale == portal::Scale::National ? "(c) crawl, national catalogue" : "(c) crawl, demo catalogue",
           h, Since(t0), std::to_string(portal.RequestLog().size()) + " requests");
}

} // namespace
} // namespace quilora

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    quilora::Application app(argc, argv);
    const bool national = argc > 1 && std::strcmp(argv[1], "--national") == 0;
    try {
        quilora::OverloadedRelease();
        quilora::HungSignIn();
        quilora::Crawl(national ? quilora::portal::Scale::National : quilora::portal::Scale::Demo);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
