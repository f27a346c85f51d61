#pragma once
// Everything quilora-book prints: a live status line on a terminal, plain
// lines into a pipe or file, or one JSON object per event with --json.
// Outcomes go to stdout, errors to stderr (to stdout as an event with --json).
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/notify_send.h"
#include "workflow/auto_booking.h"
#include "workflow/booking_record.h"
#include "workflow/patients.h"
#include "workflow/schedule_slot.h"

namespace quilora::book {

enum class OutputMode { Terminal, Lines, Json };

class BookOutput {
public:
    BookOutput(OutputMode mode, bool verbose, std::FILE* out, std::FILE* err);
    ~BookOutput();
    BookOutput(const BookOutput&) = delete;
    BookOutput& operator=(const BookOutput&) = delete;

    OutputMode Mode() const { return mode_; }

    void SignedIn(const std::string& cardNo);
    void PatientsFetched(std::size_t count);
    void Patients(const std::vector<PatientEntry>& patients);
    void ScheduleHeading(std::string_view doctor, std::string_view hospital);
    void Slot(const ScheduleSlot& slot);
    void NotReleased(const ScheduleSlot& slot);
    void Watching(std::string_view patient, const std::vector<int>& sns);
    // The engine's status, as it publishes it.
    void Status(const AutoBookingStatus& status, std::chrono::steady_clock::time_point now);
    void Log(std::string_view line);

    void Booked(int sn, std::string_view message);
    void Refused(std::string_view message);
    void Unanswered(std::string_view message);
    void Stopped();
    void Error(std::string_view message, int exitCode);
    // One row of the booking record (history).
    void Record(const RecordRow& row);
    // notify-test: each channel's result on stdout.
    void NotifyTested(const ChannelResult& result);
    // A notification of a run: a failure on stderr, a success with --verbose.
    void Notified(const ChannelResult& result);

private:
    void Json(const std::string& line);
    void Line(std::FILE* to, std::string_view text);
    void EndStatusLine();

    OutputMode mode_;
    bool verbose_;
    std::FILE* out_;
    std::FILE* err_;
    bool statusLineOpen_ = false; // Terminal: the live line waits for its newline
    // Lines: what the last printed status said, waited time aside.
    std::string lastStatusKey_;
    // Json: what was already reported of the running auto-booking.
    int reportedPolls_ = 0;
    std::string reportedEvent_;
    std::optional<AutoBookingStatus::Phase> reportedPhase_;
};

} // namespace quilora::book
