#pragma once
// The auto-booking list of an installation's card (TWatchSlot): up to five
// slots of any doctors, each with its patient and release time, kept with its
// armed flag so that an exit, a crash or a restart loses nothing. The window
// and quilora-book watch --saved share it.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/database.h"
#include "workflow/patients.h"
#include "workflow/schedule_slot.h"

namespace quilora {

// More slots than this in one tick would stretch it beyond its 800 ms.
inline constexpr std::size_t kMaxWatchListSlots = 5;

namespace watch_state {
inline constexpr std::string_view kWaiting = "等待中";
inline constexpr std::string_view kBooked = "已预约";
inline constexpr std::string_view kRefused = "被拒绝";
inline constexpr std::string_view kUnconfirmed = "未能确认";
inline constexpr std::string_view kStopped = "已停止"; // another slot of the list was booked
inline constexpr std::string_view kPassed = "已过期";  // its date is over: never armed again
} // namespace watch_state

struct WatchedSlot {
    PatientEntry patient;
    ScheduleSlot slot;     // with the doctor's and hospital's ids and names
    std::string releaseAt; // HH:MM[:SS] on the portal's clock; empty: none
    bool armed = false;
    std::string state = std::string(watch_state::kWaiting);
    int polls = 0;
    std::string lastAnswer; // "未放号 23 ms"
};

// Today's date as the portal writes slot dates ("2026-12-11"), local time.
std::string TodayText();
bool DatePassed(const WatchedSlot& s, std::string_view today);
// The 状态 cell: the state, or while waiting the polls so far and the last answer.
std::string WatchStatusText(const WatchedSlot& s);

// Why this slot cannot join the list (full, already in it, a state that
// cannot be booked, a date gone, a release time that is no time); none when it can.
std::optional<std::string> RefuseToAdd(const std::vector<WatchedSlot>& list, const WatchedSlot& candidate,
                                       std::string_view today);

class WatchList {
public:
    WatchList(db::Connection& connection, std::string loginId);

    // Reads the card's list in its order; a slot whose date is over is marked
    // 已过期 and disarmed, in the table too.
    void Load(std::string_view today);
    const std::vector<WatchedSlot>& Slots() const { return slots_; }
    // Adds and saves; gives the refusal instead when it cannot join.
    std::optional<std::string> Add(WatchedSlot slot, std::string_view today);
    void Remove(std::size_t index);
    // Arms every slot waiting or stopped by another's booking (disarms them all with false), saved.
    void SetArmed(bool armed);
    // The armed slots, in list order.
    std::vector<std::size_t> ArmedIndexes() const;
    // A slot's progress: its state, its polls and last answer; saved at once.
    void Report(std::size_t index, std::string_view state, int polls, std::string_view lastAnswer);
    // Ends the armed state of the slot (booked, refused...), saved.
    void Settle(std::size_t index, std::string_view state);

private:
    void Save();
    void SaveRow(std::size_t index);

    db::Connection& c_;
    std::string loginId_;
    std::vector<WatchedSlot> slots_;
};

} // namespace quilora
