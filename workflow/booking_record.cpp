#include "workflow/booking_record.h"

#include <QSysInfo>
#include <QUuid>
#include <ctime>


#include "common/gbk.h"
#include "common/platform.h"

namespace quilora {

namespace {

std::string LocalTimeText(BookingRecord::Clock::time_point at) {
    const std::time_t t = BookingRecord::Clock::to_time_t(at);
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

db::SqlValue Optional(const std::optional<long long>& v) {
    return v ? db::SqlValue{*v} : db::SqlValue{};
}

// Who made the row: "host/pid/uuid", so that a sweep at start-up can tell a
// row of a process that died from one of a process still at work.
std::string NewAttemptKey() {
    return QSysInfo::machineHostName().left(100).toStdString() + "/" + std::to_string(platform::CurrentProcessId()) + "/" +
           QUuid::createUuid().toString(QUuid::Id128).toStdString();
}

// Whether the row's process is gone: one of this machine that no longer runs,
// or this very process (which has begun nothing yet when it sweeps).
bool OwnerGone(const std::string& key) {
    const auto slash = key.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return true;
    const auto hostEnd = key.rfind('/', slash - 1);
    if (hostEnd == std::string::npos)
        return true;
    if (key.substr(0, hostEnd) != QSysInfo::machineHostName().left(100).toStdString())
        return false;
    long pid = 0;
    try {
        pid = std::stol(key.substr(hostEnd + 1, slash - hostEnd - 1));
    } catch (const std::exception&) {
        return true;
    }
    if (pid <= 0 || pid == platform::CurrentProcessId())
        return true;
    return platform::ProcessHasEnded(pid);
}

} // namespace

std::string_view OriginText(BookingOrigin origin) {
    switch (origin) {
    case BookingOrigin::BookNow:
        return "立刻预约";
    case BookingOrigin::AutoBooking:
        return "自动预约";
    case BookingOrigin::List:
        return "列表";
    case BookingOrigin::CommandLine:
        return "命令行";
    }
    return "";
}

std::string_view OutcomeText(RecordOutcome outcome) {
    switch (outcome) {
    case RecordOutcome::InProgress:
        return "进行中";
    case RecordOutcome::Booked:
        return "已预约";
    case RecordOutcome::Refused:
        return "被拒绝";
    case RecordOutcome::Unconfirmed:
        return "未能确认";
    case RecordOutcome::Stopped:
        return "已停止";
    case RecordOutcome::Error:
        return "出错";
    }
    return "";
}

BookingRecord::BookingRecord(db::Connection& connection) : c_(connection) {}

std::string BookingRecord::Begin(const BookingAttempt& a) {
    // A key of its own rather than the row id: drivers disagree on reading back an inserted id.
    const std::string key = NewAttemptKey();
    db::Command(c_).Execute(
        "Insert into TBookingRecord (AttemptKey, StartedAt, LoginID, PatientCardNo, PatientName, HospitalID, "
        "HospitalName, DoctorID, DoctorName, SN, SlotDate, TimeID, Origin, Outcome) "
        "values(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
        {key, LocalTimeText(now_()), a.loginId, a.patientCardNo, a.patientName, a.hospitalId, a.hospitalName,
         a.doctorId, a.doctorName, a.sn, a.slotDate, a.timeid, std::string(OriginText(a.origin)),
         std::string(OutcomeText(RecordOutcome::InProgress))});
    return key;
}

void BookingRecord::Finish(const std::string& key, const AttemptEnd& end) {
    const std::optional<long long> requests =
        end.requests ? std::optional<long long>(*end.requests) : std::nullopt;
    db::Command(c_).Execute("Update TBookingRecord Set Outcome = ?, Answer = ?, Requests = ?, "
                            "ReleaseToRegisterMs = ? Where AttemptKey = ? And Outcome = ?",
                            {std::string(OutcomeText(end.outcome)),
                             TruncateGbk(end.answer, kRecordAnswerBytes), Optional(requests),
                             Optional(end.releaseToRegister), key,
                             std::string(OutcomeText(RecordOutcome::InProgress))});
}

int BookingRecord::SettleInterrupted() {
    const std::string inProgress(OutcomeText(RecordOutcome::InProgress));
    db::Query q(c_);
    db::OpenQuery(q, "Select AttemptKey From TBookingRecord Where Outcome = ?", {inProgress});
    int settled = 0;
    for (; !q.Eof(); q.Next()) {
        const std::string key = q.FieldAsString("AttemptKey");
        if (!OwnerGone(key))
            continue;
        db::Command(c_).Execute("Update TBookingRecord Set Outcome = ? Where AttemptKey = ? And Outcome = ?",
                                {std::string(OutcomeText(RecordOutcome::Unconfirmed)), key, inProgress});
        ++settled;
    }
    return settled;
}

std::vector<RecordRow> BookingRecord::Newest(std::optional<int> limit) {
    db::Query q(c_);
    db::OpenQuery(q, "Select * From TBookingRecord Order By RecordID Desc");
    std::vector<RecordRow> rows;
    for (; !q.Eof() && (!limit || static_cast<int>(rows.size()) < *limit); q.Next()) {
        RecordRow r;
        r.id = q.FieldAsInteger("RecordID");
        r.startedAt = q.FieldAsString("StartedAt");
        r.loginId = q.FieldAsString("LoginID");
        r.patientCardNo = q.FieldAsInteger("PatientCardNo");
        r.patientName = q.FieldAsString("PatientName");
        r.hospitalId = q.FieldAsInteger("HospitalID");
        r.hospitalName = q.FieldAsString("HospitalName");
        r.doctorId = q.FieldAsInteger("DoctorID");
        r.doctorName = q.FieldAsString("DoctorName");
        r.sn = q.FieldAsInteger("SN");
        r.slotDate = q.FieldAsString("SlotDate");
        r.timeid = q.FieldAsInteger("TimeID");
        r.origin = q.FieldAsString("Origin");
        r.outcome = q.FieldAsString("Outcome");
        r.answer = q.FieldAsString("Answer");
        if (!q.FieldAsString("ReleaseToRegisterMs").empty())
            r.releaseToRegister = q.FieldAsInteger("ReleaseToRegisterMs");
        if (!q.FieldAsString("Requests").empty())
            r.requests = q.FieldAsInteger("Requests");
        rows.push_back(std::move(r));
    }
    return rows;
}

} // namespace quilora
