#include "workflow/watch_list.h"

#include <algorithm>
#include <chrono>
#include <ctime>

#include "common/gbk.h"
#include "workflow/order_policy.h"
#include "workflow/release_schedule.h"

namespace quilora {

namespace {

constexpr std::size_t kLastAnswerBytes = 200;

} // namespace

std::string TodayText() {
    const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

bool DatePassed(const WatchedSlot& s, std::string_view today) {
    // Both are YYYY-MM-DD: the text order is the date order.
    return !s.slot.date.empty() && s.slot.date < today;
}

std::string WatchStatusText(const WatchedSlot& s) {
    if (s.state != watch_state::kWaiting || s.polls == 0)
        return s.state;
    std::string text = "已查询 " + std::to_string(s.polls) + " 次";
    if (!s.lastAnswer.empty())
        text += " · 最近应答：" + s.lastAnswer;
    return text;
}

std::optional<std::string> RefuseToAdd(const std::vector<WatchedSlot>& list, const WatchedSlot& c,
                                       std::string_view today) {
    const OrderDecision decision = DecideOrder(c.slot.state);
    if (decision.action == OrderAction::Refuse || decision.action == OrderAction::Nothing)
        return decision.refusal;
    if (DatePassed(c, today))
        return "此时段的日期 " + c.slot.date + " 已过，不能加入自动预约列表。";
    if (!c.releaseAt.empty() && !ReleaseMoment(c.releaseAt, std::chrono::system_clock::now()))
        return "放号时间应写作 时:分 或 时:分:秒，例如 08:00 或 08:00:00：" + c.releaseAt;
    for (const WatchedSlot& w : list)
        if (w.slot.sn == c.slot.sn && w.slot.doctorId == c.slot.doctorId)
            return "此时段已在自动预约列表中。";
    if (list.size() >= kMaxWatchListSlots)
        return "自动预约列表最多 " + std::to_string(kMaxWatchListSlots) + " 个时段，请先移除一个。";
    return std::nullopt;
}

WatchList::WatchList(db::Connection& connection, std::string loginId)
    : c_(connection), loginId_(std::move(loginId)) {}

void WatchList::Load(std::string_view today) {
    db::Query q(c_);
    db::OpenQuery(q, "Select * From TWatchSlot Where LoginID = ? Order By ListOrder", {loginId_});
    slots_.clear();
    for (; !q.Eof(); q.Next()) {
        WatchedSlot w;
        w.patient.cardNo = q.FieldAsInteger("PatientCardNo");
        w.patient.name = q.FieldAsString("PatientName");
        w.slot.hospitalId = q.FieldAsInteger("HospitalID");
        w.slot.hospitalName = q.FieldAsString("HospitalName");
        w.slot.doctorId = q.FieldAsInteger("DoctorID");
        w.slot.doctorName = q.FieldAsString("DoctorName");
        w.slot.sn = q.FieldAsInteger("SN");
        w.slot.date = q.FieldAsString("SlotDate");
        w.slot.timeid = q.FieldAsInteger("TimeID");
        w.slot.type = q.FieldAsInteger("TypeID");
        w.slot.weekid = q.FieldAsInteger("WeekID");
        w.slot.url = q.FieldAsString("Url");
        w.slot.state = q.FieldAsInteger("SlotState");
        w.releaseAt = q.FieldAsString("ReleaseAt");
        w.armed = q.FieldAsInteger("Armed") != 0;
        w.state = q.FieldAsString("WatchState");
        w.polls = q.FieldAsInteger("Polls");
        w.lastAnswer = q.FieldAsString("LastAnswer");
        slots_.push_back(std::move(w));
    }
    for (std::size_t i = 0; i < slots_.size(); ++i)
        if (DatePassed(slots_[i], today) && (slots_[i].armed || slots_[i].state == watch_state::kWaiting)) {
            slots_[i].armed = false;
            slots_[i].state = watch_state::kPassed;
            SaveRow(i);
        }
}

std::optional<std::string> WatchList::Add(WatchedSlot slot, std::string_view today) {
    if (auto refusal = RefuseToAdd(slots_, slot, today))
        return refusal;
    slot.armed = false;
    slot.state = watch_state::kWaiting;
    slot.polls = 0;
    slot.lastAnswer.clear();
    slots_.push_back(std::move(slot));
    Save();
    return std::nullopt;
}

void WatchList::Remove(std::size_t index) {
    if (index >= slots_.size())
        return;
    slots_.erase(slots_.begin() + static_cast<std::ptrdiff_t>(index));
    Save();
}

void WatchList::SetArmed(bool armed) {
    for (WatchedSlot& w : slots_) {
        // A slot stopped by another's booking may wait again; booked, refused,
        // unconfirmed and passed ones stay as they ended.
        const bool canWait = w.state == watch_state::kWaiting || w.state == watch_state::kStopped;
        w.armed = armed && canWait;
        if (w.armed)
            w.state = watch_state::kWaiting;
    }
    Save();
}

std::vector<std::size_t> WatchList::ArmedIndexes() const {
    std::vector<std::size_t> armed;
    for (std::size_t i = 0; i < slots_.size(); ++i)
        if (slots_[i].armed)
            armed.push_back(i);
    return armed;
}

void WatchList::Report(std::size_t index, std::string_view state, int polls, std::string_view lastAnswer) {
    if (index >= slots_.size())
        return;
    WatchedSlot& w = slots_[index];
    w.state = state;
    w.polls = polls;
    w.lastAnswer = TruncateGbk(lastAnswer, kLastAnswerBytes);
    SaveRow(index);
}

void WatchList::Settle(std::size_t index, std::string_view state) {
    if (index >= slots_.size())
        return;
    slots_[index].armed = false;
    slots_[index].state = state;
    SaveRow(index);
}

void WatchList::SaveRow(std::size_t i) {
    const WatchedSlot& w = slots_[i];
    db::Command(c_).Execute(
        "Update TWatchSlot Set Armed = ?, WatchState = ?, Polls = ?, LastAnswer = ? "
        "Where LoginID = ? And ListOrder = ?",
        {w.armed ? 1LL : 0LL, w.state, w.polls, w.lastAnswer, loginId_, static_cast<long long>(i)});
}

void WatchList::Save() {
    db::Transaction tx(c_);
    db::Command cmd(c_);
    cmd.Execute("Delete From TWatchSlot Where LoginID = ?", {loginId_});
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        const WatchedSlot& w = slots_[i];
        cmd.Execute(
            "Insert into TWatchSlot (LoginID, ListOrder, PatientCardNo, PatientName, HospitalID, "
            "HospitalName, DoctorID, DoctorName, SN, SlotDate, TimeID, TypeID, WeekID, Url, SlotState, "
            "ReleaseAt, Armed, WatchState, Polls, LastAnswer) "
            "values(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
            {loginId_,
             static_cast<long long>(i),
             w.patient.cardNo,
             w.patient.name,
             w.slot.hospitalId,
             w.slot.hospitalName,
             w.slot.doctorId,
             w.slot.doctorName,
             w.slot.sn,
             w.slot.date,
             w.slot.timeid,
             w.slot.type,
             w.slot.weekid,
             w.slot.url,
             w.slot.state,
             w.releaseAt,
             w.armed ? 1LL : 0LL,
             w.state,
             w.polls,
             w.lastAnswer});
    }
    tx.Commit();
}

} // namespace quilora
