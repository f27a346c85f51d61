#include "book/book_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>

#include "book/book_settings.h"
#include "workflow/release_schedule.h"

namespace quilora::book {

namespace {

constexpr char kFooter[] = R"(Every command signs in first, with CardNo and Passwd of Config.ini (or the
first line of --password-file); the password is never taken from the command line.

Exit codes:
  0    booked, or the command is done
  1    nothing booked: the portal refused (its answer is printed), the sign-in
       failed, or the slot's state does not allow a booking
  2    bad usage or bad Config.ini (missing file, no CardNo, no password,
       catalogue cannot be opened, unknown doctor, slot or patient)
  3    the portal could not be reached, or a registration went unanswered
  130  stopped with Ctrl+C (SIGINT) or SIGTERM

--json prints one JSON object per line on stdout:
  {"event":"signed_in","cardNo":"..."}
  {"event":"patient","name":"...","cardNo":123}
  {"event":"patients_fetched","count":3}            the cache was refreshed
  {"event":"slot","sn":..,"date":"..","halfDay":"上午","clinicType":"平诊",
   "weekday":"星期一","state":4,"stateText":"正常","doctorName":"..","hospitalName":".."}
  {"event":"not_released","sn":..,"message":".."}   book without --wait
  {"event":"watching","patient":"..","slots":[sn,..]}
  {"event":"poll","answer":"未放号","ms":..,"polls":..,"server_clock":"服务器时间 +1.3 s","until_release_ms":..}
                                                     after each tick (the last two once known / with --release-at)
  {"event":"notice","message":"已重新登录"}           what a tick ran into
  {"event":"booking","patient":"..","slot":".."}
  {"event":"booked","sn":..,"message":".."}
  {"event":"refused","message":".."}
  {"event":"unanswered","message":".."}
  {"event":"stopped"}
  {"event":"log","line":".."}                        with --verbose
  {"event":"error","message":"..","exit":2}
  {"event":"record","id":..,"startedAt":"..","cardNo":"..","patient":"..","patientCardNo":..,
   "hospitalId":..,"hospital":"..","doctorId":..,"doctor":"..","sn":..,"date":"..","halfDay":"上午","origin":"命令行",
   "outcome":"已预约","answer":"..","releaseToRegisterMs":..,"requests":..}   history, newest first

Every book and watch adds a row to the booking record (TBookingRecord) before
its first request and writes the outcome onto it; history prints the record.
A row left under way by a process that died shows as 未能确认.
  {"event":"notify","channel":"邮件","target":"host → address","ok":false,"message":".."}
                                                     a notification of the outcome ([Notify]), and notify-test

notify-test sends a test notification to every channel of [Notify] and prints
each result: exit 0 when all succeeded, 1 when one failed, 2 when none is set.
)";

CLI::Option* AddDoctor(CLI::App& command, BookOptions& o) {
    return command.add_option("--doctor", o.doctorId, "the doctor's DoctorID in the catalogue");
}

std::optional<int> Number(const std::string& text) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoi(text);
}

SlotTarget ReadSlot(const std::string& arg, const std::optional<int>& doctor, bool pairs) {
    const auto colon = arg.find(':');
    SlotTarget t;
    if (colon != std::string::npos && pairs) {
        const auto d = Number(arg.substr(0, colon));
        const auto sn = Number(arg.substr(colon + 1));
        if (!d || !sn)
            throw UsageError("时段应写作 SN 或 医生:SN，例如 1000025 或 100001:1000025：" + arg);
        t.doctorId = *d;
        t.sn = *sn;
        return t;
    }
    const auto sn = Number(arg);
    if (!sn)
        throw UsageError(pairs ? "时段应写作 SN 或 医生:SN，例如 1000025 或 100001:1000025：" + arg
                               : "时段应写作 SN，例如 1000025：" + arg);
    if (!doctor)
        throw UsageError("时段 " + arg + " 没有医生：请给出 --doctor，或写作 医生:SN");
    t.doctorId = *doctor;
    t.sn = *sn;
    return t;
}

void AddPatient(CLI::App& command, BookOptions& o) {
    command.add_option(
        "--patient", o.patient,
        "the clinic number (CardNo) of one of the account's patients; the first one by default");
}

} // namespace

void DefineCommandLine(CLI::App& app, BookOptions& o) {
    app.require_subcommand(1);
    // --config, --json and the others may follow the command too; subcommands inherit this.
    app.fallthrough();
    app.footer(kFooter);
    app.add_option("--config", o.configPath,
                   "the Config.ini of the window: card number, password, portal, catalogue")
        ->capture_default_str();
    app.add_option("--password-file", o.passwordFile, "read the password from the first line of this file");
    app.add_flag("--json", o.json, "one JSON object per event on stdout");
    app.add_flag("-v,--verbose", o.verbose, "also print the log lines of polls and bookings");

    app.add_subcommand("signin", "sign in and say whether the portal took the password")->callback([&o] {
        o.command = Command::SignIn;
    });

    CLI::App* patients = app.add_subcommand("patients", "the account's patients, from the catalogue's cache");
    patients->add_flag("--refresh", o.refresh, "fetch them from the portal even when they are cached");
    patients->callback([&o] { o.command = Command::Patients; });

    CLI::App* schedule = app.add_subcommand("schedule", "a doctor's slots with their sn");
    AddDoctor(*schedule, o)->required();
    schedule->add_option("--hospital", o.hospitalId, "the HospitalID; looked up in the catalogue by default");
    schedule->callback([&o] { o.command = Command::Schedule; });

    CLI::App* book = app.add_subcommand("book", "book one slot of a doctor now");
    AddDoctor(*book, o)->required();
    book->add_option("--slot", o.slotArgs, "the slot's sn, as schedule lists it")->required();
    AddPatient(*book, o);
    book->add_flag("--wait", o.wait, "a slot not released yet (未放号) is watched until it opens");
    book->add_option(
        "--release-at", o.releaseAt,
        "with --wait: the release time HH:MM[:SS] on the portal's clock; a poll every 30 s until a "
        "minute before, then every 800 ms placed to reach the portal just after it");
    book->callback([&o] { o.command = Command::Book; });

    CLI::App* watch =
        app.add_subcommand("watch", "auto-booking: poll up to five slots, book the first that opens");
    AddDoctor(*watch, o);
    watch->add_option(
        "--slot", o.slotArgs,
        "a slot: its sn (of --doctor) or DOCTOR:SN; repeat for up to five slots of any doctors, "
        "polled in this order");
    watch->add_flag("--saved", o.saved,
                    "watch the window's saved auto-booking list (its armed slots, each with its patient and "
                    "release time) and keep each slot's state in it");
    AddPatient(*watch, o);
    watch->add_option(
        "--release-at", o.releaseAt,
        "the release time HH:MM[:SS] on the portal's clock (today, or tomorrow when past): a poll "
        "every 30 s until a minute before, then every 800 ms placed to reach the portal just after it");
    watch->callback([&o] { o.command = Command::Watch; });

    CLI::App* history = app.add_subcommand("history", "the booking record, newest first");
    history->add_option("--limit", o.limit, "only the newest N rows")->check(CLI::PositiveNumber);
    history->callback([&o] { o.command = Command::History; });

    app.add_subcommand("notify-test", "send a test notification to every channel of [Notify] in Config.ini")
        ->callback([&o] { o.command = Command::NotifyTest; });
}

void CheckOptions(BookOptions& o) {
    if (o.command == Command::Watch) {
        if (o.saved && (!o.slotArgs.empty() || o.doctorId || o.patient))
            throw UsageError(
                "watch --saved 监视已保存的自动预约列表，不再接受 --slot、--doctor 或 --patient");
        if (!o.saved && o.slotArgs.empty())
            throw UsageError("watch 需要 --slot，或用 --saved 监视已保存的自动预约列表");
    }
    o.targets.clear();
    for (const std::string& arg : o.slotArgs)
        o.targets.push_back(ReadSlot(arg, o.doctorId, o.command == Command::Watch));
    if (o.command == Command::Book && o.targets.size() != 1)
        throw UsageError("book 只预约一个时段；要监视几个时段请用 watch");
    if (o.targets.size() > kMaxWatchedSlots)
        throw UsageError("最多同时监视 " + std::to_string(kMaxWatchedSlots) + " 个时段");
    for (auto it = o.targets.begin(); it != o.targets.end(); ++it)
        if (std::find(o.targets.begin(), it, *it) != it)
            throw UsageError("时段 " + std::to_string(it->sn) + " 给出了两次");
    if (o.releaseAt && !ReleaseMoment(*o.releaseAt, std::chrono::system_clock::now()))
        throw UsageError("放号时间应写作 时:分 或 时:分:秒，例如 08:00 或 08:00:00：" + *o.releaseAt);
    if (o.releaseAt && o.command == Command::Book && !o.wait)
        throw UsageError("--release-at 只用于 watch 或 book --wait");
}

} // namespace quilora::book
