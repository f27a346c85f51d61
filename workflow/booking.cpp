#include "booking.h"

#include "common/errors.h"
#include "common/normalise.h"
#include "common/stamp.h"
#include "scan/patterns.h"
#include "scan/tregexpr.h"
#include "workflow/int32_text.h"
#include "workflow/number_draw.h"

namespace quilora {

NumberList ReadNumberList(std::string_view answer, const std::function<void(std::string_view)>& onEntry) {
    NumberList list;
    ForEachMatch(pattern::kNumberEntry, answer, [&](const TRegExpr& re) {
        if (onEntry)
            onEntry(re.CaptureView(0));
        list.entries.push_back(re.Capture(0));
        list.numbers.push_back(ParseInt32(re.CaptureView(1)));
        list.url = re.Capture(2);
        list.provinceId = ParseInt32(re.CaptureView(3));
        list.hospitalId = ParseInt32(re.CaptureView(4));
    });
    return list;
}

FormFields ReadRegistrationForm(std::string_view form) {
    FormFields f;
    TRegExpr re;
    re.SetInputString(form);
    // A single search from the start of the current form text; on a match the
    // shortening patterns make what follows the match the form text.
    const auto find = [&re](std::string_view expression, bool shorten, auto&& take) {
        re.SetExpression(expression);
        if (!re.Exec())
            return;
        take(re.CaptureView(1));
        if (shorten)
            re.SetInputString(std::string(re.InputString().substr(re.MatchEnd())));
    };
    find(pattern::kFormCertificateType, false, [&](std::string_view g) { f.zhengjiantype = ParseInt32(g); });
    find(pattern::kFormCertificateNo, false, [&](std::string_view g) { f.zhengjianid = g; });
    find(pattern::kFormSelectedOption, true, [&](std::string_view g) { f.year = g; });
    find(pattern::kFormMonth, true, [&](std::string_view g) { f.month = g; });
    find(pattern::kFormSelectedOption, true, [&](std::string_view g) { f.day = g; });
    find(pattern::kFormIdentityNo, false, [&](std::string_view g) { f.identityNo = g; });
    find(pattern::kFormOtherCard, false, [&](std::string_view g) { f.othercard = g; });
    return f;
}

RegistrationValues RegistrationFor(const NumberList& list, int number, int memberId, const FormFields& form) {
    RegistrationValues v;
    v.id = number;
    v.url = list.url;
    v.memberid = memberId;
    v.provinceid = list.provinceId;
    v.ghthospitalid = list.hospitalId;
    v.identityNo = form.identityNo;
    v.othercard = form.othercard;
    v.year = form.year;
    v.month = form.month;
    v.day = form.day;
    v.zhengjiantype = form.zhengjiantype;
    v.zhengjianid = form.zhengjianid;
    return v;
}

bool IsBooked(std::string_view answer) {
    if (answer.find("成功") == std::string_view::npos)
        return false;
    for (const std::string_view refusal : {"未成功", "不成功", "没有成功", "失败"})
        if (answer.find(refusal) != std::string_view::npos)
            return false;
    return true;
}

std::string UnansweredMessage(long status) {
    if (status <= 0)
        return std::string(kUnansweredMessage);
    return "预约请求已发出，但Quilora服务器返回错误 " + std::to_string(status) +
           "，请进入网页查看是否已预约成功。";
}

BookingResult RunBooking(const PortalHosts& hosts, const SlotRef& slot, const BookingIo& io) {
    BookingResult result;
    // Number lists and forms take nothing: any trouble is tried again.
    const auto read = [&](const PortalAddress& address, AnswerRule rule) {
        ++result.requests;
        return NormalisePage(std::move(io.fetch(address, rule).text));
    };
    const std::string numbers =
        read(NumberListAddress(hosts, slot, EpochMillis()), AnswerRule::NoErrorStatus);
    io.log(kNumberListHeading);
    const NumberList list = ReadNumberList(numbers, io.log);
    if (list.numbers.empty()) {
        result.message = kNoNumberFreeMessage;
        return result;
    }

    const int number = list.numbers[DrawIndex(list.numbers.size())];
    const std::string form =
        read(RegistrationFormAddress(hosts, number, io.memberId(), EpochMillis()), AnswerRule::NoErrorStatus);
    const FormFields fields = ReadRegistrationForm(form);

    const RegistrationValues values = RegistrationFor(list, number, io.memberId(), fields);
    if (io.stopRequested && io.stopRequested())
        throw FetchError("已停止，预约请求没有发出。", FetchFailure::Cancelled);
    try {
        // Resent by the fetcher only while it certainly was not taken in.
        result.answer = read(RegistrationAddress(hosts, values, EpochMillis()), AnswerRule::Registration);
    } catch (const FetchError& e) {
        if (!e.MayHaveArrived())
            throw;
        io.log(e.what());
        result.outcome = BookingOutcome::Unanswered;
        result.message = UnansweredMessage(e.Failure() == FetchFailure::ErrorStatus ? e.Status() : 0);
        return result;
    }
    if (IsBooked(result.answer)) {
        result.outcome = BookingOutcome::Booked;
        result.message = kBookedMessage;
    } else {
        result.outcome = BookingOutcome::Refused;
        result.message = result.answer;
    }
    return result;
}

} // namespace quilora
