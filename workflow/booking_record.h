#pragma once
// The record of every booking attempt (TBookingRecord): a row goes in before
// the attempt's first request, saying it is under way, and the attempt's
// outcome is written onto that same row once known. Nothing else ever changes a
// row, but the start-up sweep: a row still under way then was cut short by a
// crash, and nobody knows whether its registration got in.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/database.h"

namespace quilora {

// How the attempt started.
enum class BookingOrigin { BookNow, AutoBooking, List, CommandLine };
std::string_view OriginText(BookingOrigin origin); // 立刻预约 / 自动预约 / 列表 / 命令行

enum class RecordOutcome { InProgress, Booked, Refused, Unconfirmed, Stopped, Error };
std::string_view OutcomeText(RecordOutcome outcome); // 进行中 / 已预约 / 被拒绝 / 未能确认 / 已停止 / 出错

// The portal's answer kept in a row, in GBK bytes.
inline constexpr std::size_t kRecordAnswerBytes = 1000;

struct BookingAttempt {
    std::string loginId; // the installation's card number
    int patientCardNo = 0;
    std::string patientName;
    int hospitalId = 0;
    std::string hospitalName;
    int doctorId = 0;
    std::string doctorName;
    int sn = 0;
    std::string slotDate;
    int timeid = 0; // the half-day
    BookingOrigin origin = BookingOrigin::BookNow;
};

struct AttemptEnd {
    RecordOutcome outcome = RecordOutcome::Error;
    std::string answer;                         // the portal's words, or what went wrong
    std::optional<int> requests;                // none when the attempt broke off uncounted
    std::optional<long long> releaseToRegister; // ms, when a release time was known
};

struct RecordRow {
    long long id = 0;
    std::string startedAt; // local time, "2026-12-11 13:20:01"
    std::string loginId;
    int patientCardNo = 0;
    std::string patientName;
    int hospitalId = 0;
    std::string hospitalName;
    int doctorId = 0;
    std::string doctorName;
    int sn = 0;
    std::string slotDate;
    int timeid = 0;
    std::string origin;  // as OriginText words it
    std::string outcome; // as OutcomeText words it
    std::string answer;
    std::optional<long long> releaseToRegister;
    std::optional<int> requests;
};

class BookingRecord {
public:
    using Clock = std::chrono::system_clock;
    explicit BookingRecord(db::Connection& connection);
    // Test seam: the clock of the rows' start time.
    void SetClock(Clock::time_point (*now)()) { now_ = now; }

    // The attempt's row, under way; gives its key for Finish.
    std::string Begin(const BookingAttempt& attempt);
    // The outcome onto the row of Begin; a row no longer under way is left as it is.
    void Finish(const std::string& key, const AttemptEnd& end);
    // Every row still under way whose process is gone becomes 未能确认; gives
    // how many. Run at start-up, before this process books anything. A row of
    // a process still running on this machine (the window beside quilora-book)
    // or of another machine is left under way.
    int SettleInterrupted();
    // Newest first; every row without a limit.
    std::vector<RecordRow> Newest(std::optional<int> limit = std::nullopt);

private:
    db::Connection& c_;
    Clock::time_point (*now_)() = &Clock::now;
};

} // namespace quilora
