#include "book/book_output.h"

#include <nlohmann/json.hpp>

#include "workflow/schedule.h"

namespace quilora::book {

namespace {

using Phase = AutoBookingStatus::Phase;
// Keys in the order written: "event" first.
using json = nlohmann::ordered_json;

std::string Dump(const json& j) {
    // A portal answer cut at a bad byte must not cost the event.
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

// The status line without what changes every tick, for Lines mode.
std::string StatusKey(const AutoBookingStatus& s) {
    std::string key = std::to_string(int(s.phase)) + '\n' + s.patient + '\n' + s.slot + '\n' + s.event +
                      '\n' + s.outcome + '\n';
    if (s.lastAnswer)
        key += PollAnswerText(*s.lastAnswer);
    return key;
}

} // namespace

BookOutput::BookOutput(OutputMode mode, bool verbose, std::FILE* out, std::FILE* err)
    : mode_(mode), verbose_(verbose), out_(out), err_(err) {}

BookOutput::~BookOutput() {
    EndStatusLine();
}

void BookOutput::Json(const std::string& line) {
    std::fputs(line.c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_); // a reader waits for each event, not for the end
}

void BookOutput::Line(std::FILE* to, std::string_view text) {
    EndStatusLine();
    std::fwrite(text.data(), 1, text.size(), to);
    std::fputc('\n', to);
    std::fflush(to);
}

void BookOutput::EndStatusLine() {
    if (!statusLineOpen_)
        return;
    statusLineOpen_ = false;
    std::fputc('\n', out_);
    std::fflush(out_);
}

void BookOutput::SignedIn(const std::string& cardNo) {
    if (mode_ == OutputMode::Json)
        return Json(Dump({{"event", "signed_in"}, {"cardNo", cardNo}}));
    Line(out_, "已登录：" + cardNo);
}

void BookOutput::PatientsFetched(std::size_t count) {
    if (mode_ == OutputMode::Json)
        return Json(Dump({{"event", "patients_fetched"}, {"count", count}}));
    Line(out_, "已从网站获取就诊人：" + std::to_string(count) + " 人");
}

void BookOutput::Patients(const std::vector<PatientEntry>& patients) {
    for (const PatientEntry& p : patients) {
        if (mode_ == OutputMode::Json)
            Json(Dump({{"event", "patient"}, {"name", p.name}, {"cardNo", p.cardNo}}));
        else
            Line(out_, std::to_string(p.cardNo) + "  " + p.name);
    }
    if (patients.empty() && mode_ != OutputMode::Json)
        Line(out_, "此账户没有就诊人");
}

void BookOutput::ScheduleHeading(std::string_view doctor, std::string_view hospital) {
    if (mode_ != OutputMode::Json)
        Line(out_, "医生：" + std::string(doctor) + "  医院：" + std::string(hospital));
}

void BookOutput::Slot(const ScheduleSlot& s) {
    if (mode_ == OutputMode::Json)
        return Json(Dump({{"event", "slot"},
                          {"sn", s.sn},
                          {"date", s.date},
                          {"halfDay", HalfDayText(s.timeid)},
                          {"clinicType", ClinicTypeText(s.type)},
                          {"weekday", WeekdayText(s.weekid)},
                          {"state", s.state},
                          {"stateText", SlotStateText(s.state)},
                          {"doctorName", s.doctorName},
                          {"hospitalName", s.hospitalName}}));
    std::string text = std::to_string(s.sn);
    for (const std::string& cell : ScheduleRowCells(s))
        text += "  " + cell;
    Line(out_, text);
}

void BookOutput::NotReleased(const ScheduleSlot& slot) {
    const std::string message = "此预约还未到放号时间，没有预约；加 --wait 可在放号后自动预约。";
    if (mode_ == OutputMode::Json)
        return Json(Dump({{"event", "not_released"}, {"sn", slot.sn}, {"message", message}}));
    Line(out_, message);
}

void BookOutput::Watching(std::string_view patient, const std::vector<int>& sns) {
    if (mode_ == OutputMode::Json)
        Json(Dump({{"event", "watching"}, {"patient", patient}, {"slots", sns}}));
}

void BookOutput::Status(const AutoBookingStatus& s, std::chrono::steady_clock::time_point now) {
    switch (mode_) {
    case OutputMode::Terminal: {
        const std::string text = StatusText(s, now);
        if (text.empty())
            return;
        std::fputs(("\r\033[K" + text).c_str(), out_);
        std::fflush(out_);
        statusLineOpen_ = true;
        return;
    }
    case OutputMode::Lines: {
        const std::string key = StatusKey(s);
        if (s.phase == Phase::Idle || key == lastStatusKey_)
            return;
        lastStatusKey_ = key;
        Line(out_, StatusText(s, now));
        return;
    }
    case OutputMode::Json:
        break;
    }
    if (s.polls < reportedPolls_) // a new auto-booking or booking counts from 0
        reportedPolls_ = 0;
    if (s.polls > reportedPolls_ && s.lastAnswer) {
        reportedPolls_ = s.polls;
        json poll = {{"event", "poll"},
                     {"answer", PollAnswerText(*s.lastAnswer)},
                     {"ms", s.lastTook.count()},
                     {"polls", s.polls}};
        if (!s.serverClock.empty())
            poll["server_clock"] = s.serverClock;
        if (s.untilRelease)
            poll["until_release_ms"] =
                std::chrono::duration_cast<std::chrono::milliseconds>(*s.untilRelease).count();
        Json(Dump(poll));
    }
    if (s.event != reportedEvent_) {
        reportedEvent_ = s.event;
        if (!s.event.empty())
            Json(Dump({{"event", "notice"}, {"message", s.event}}));
    }
    if (s.phase == Phase::Booking && reportedPhase_ != Phase::Booking)
        Json(Dump({{"event", "booking"}, {"patient", s.patient}, {"slot", s.slot}}));
    reportedPhase_ = s.phase;
}

void BookOutput::Log(std::string_view line) {
    if (!verbose_)
        return;
    if (mode_ == OutputMode::Json)
        return Json(Dump({{"event", "log"}, {"line", line}}));
    Line(err_, line);
}

void BookOutput::Booked(int sn, std::string_view message) {
    if (mode_ == OutputMode::Json)
        return Json(Dump({{"event", "booked"}, {"sn", sn}, {"message", message}}));
    Line(out_, message);
}

void BookOutput::Refused(std::string_view message) {
    if (mode_ == OutputMode::Json)
        return Json(Dump({{"event", "refused"}, {"message", message}}));
    Line(out_, message);
}

void BookOutput::Unanswered(std::string_view message) {
    if (mode_ == OutputMode::Json)
        return Json(Dump({{"event", "unanswered"}, {"message", message}}));
    Line(out_, message);
}

void BookOutput::Stopped() {
    if (mode_ == OutputMode::Json)
        return Json(Dump({{"event", "stopped"}}));
    Line(out_, kAutoBookingStoppedMessage);
}

void BookOutput::Error(std::string_view message, int exitCode) {
    if (mode_ == OutputMode::Json)
        return Json(Dump({{"event", "error"}, {"message", message}, {"exit", exitCode}}));
    Line(err_, "quilora-book: " + std::string(message));
}

void BookOutput::Record(const RecordRow& r) {
    if (mode_ == OutputMode::Json) {
        json j = {{"event", "record"},
                  {"id", r.id},
                  {"startedAt", r.startedAt},
                  {"cardNo", r.loginId},
                  {"patient", r.patientName},
                  {"patientCardNo", r.patientCardNo},
                  {"hospitalId", r.hospitalId},
                  {"hospital", r.hospitalName},
                  {"doctorId", r.doctorId},
                  {"doctor", r.doctorName},
                  {"sn", r.sn},
                  {"date", r.slotDate},
                  {"halfDay", HalfDayText(r.timeid)},
                  {"origin", r.origin},
                  {"outcome", r.outcome},
                  {"answer", r.answer}};
        if (r.releaseToRegister)
            j["releaseToRegisterMs"] = *r.releaseToRegister;
        if (r.requests)
            j["requests"] = *r.requests;
        return Json(Dump(j));
    }
    std::string text = r.startedAt + "  " + r.origin + "  " + r.outcome + "  " + r.patientName + "  " +
                       r.hospitalName + "  " + r.doctorName + "  " + r.slotDate + " " +
                       HalfDayText(r.timeid) + "  " + std::to_string(r.sn);
    if (r.requests)
        text += "  请求 " + std::to_string(*r.requests) + " 次";
    if (r.releaseToRegister)
        text += "  放号后 " + std::to_string(*r.releaseToRegister) + " ms";
    if (!r.answer.empty()) {
        std::string answer = r.answer;
        for (char& c : answer)
            if (c == '\n' || c == '\r')
                c = ' ';
        text += "  " + answer;
    }
    Line(out_, text);
}

namespace {

json NotifyEvent(const ChannelResult& r) {
    json j{{"event", "notify"}, {"channel", r.channel}, {"target", r.target}, {"ok", r.ok}};
    if (!r.ok)
        j["message"] = r.reason;
    return j;
}

} // namespace

void BookOutput::NotifyTested(const ChannelResult& result) {
    if (mode_ == OutputMode::Json)
        return Json(Dump(NotifyEvent(result)));
    Line(out_, result.Line());
}

void BookOutput::Notified(const ChannelResult& result) {
    if (mode_ == OutputMode::Json)
        return Json(Dump(NotifyEvent(result)));
    if (!result.ok)
        Line(err_, NoticeLine(result));
    else if (verbose_)
        Line(err_, NoticeLine(result));
}

} // namespace quilora::book
