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
    return answer.find("成功") != std::string_view::npos;
}

namespace {

// A registration that failed in a way that may have reached the portal.
bool MayHaveArrived(const FetchError& e) {
    switch (e.Failure()) {
    case FetchFailure::Refused:
    case FetchFailure::Network:
    case FetchFailure::ErrorStatus:
    case FetchFailure::Cancelled: // cancelled before it was sent
        return false;
    default:
        return true;
    }
}

constexpr int kMaxRegistrations = 3;

// Whether the registration form still offers this number: the portal answers a
// taken number with its refusal instead of the form.
bool StillOffered(const PortalHosts& hosts, int number, const BookingIo& io) {
    try {
        const std::string form = NormalisePage(
            std::move(io.fetch(RegistrationFormAddress(hosts, number, io.memberId(), EpochMillis()),
                               AnswerRule::NoServerTrouble)
                          .text));
        return form.find("id=hideothercard") != std::string::npos ||
               form.find("id=tbzhengjianid") != std::string::npos;
    } catch (const FetchError&) {
        return false;
    }
}

} // namespace

BookingResult RunBooking(const PortalHosts& hosts, const SlotRef& slot, const BookingIo& io) {
    const std::string numbers = NormalisePage(
        std::move(io.fetch(NumberListAddress(hosts, slot, EpochMillis()), AnswerRule::NoServerTrouble).text));
    io.log(kNumberListHeading);
    const NumberList list = ReadNumberList(numbers, io.log);
    if (list.numbers.empty())
        return {BookingOutcome::NoNumber, std::string(kNoNumberFreeMessage)};

    const int number = list.numbers[DrawIndex(list.numbers.size())];
    const std::string form =
        NormalisePage(std::move(io.fetch(RegistrationFormAddress(hosts, number, io.memberId(), EpochMillis()),
                                         AnswerRule::NoServerTrouble)
                                    .text));
    const FormFields fields = ReadRegistrationForm(form);

    const RegistrationValues values = RegistrationFor(list, number, io.memberId(), fields);
    std::string answer;
    for (int sent = 1;; ++sent) {
        try {
            answer = NormalisePage(std::move(
                io.fetch(RegistrationAddress(hosts, values, EpochMillis()), AnswerRule::ResendIfNotReceived)
                    .text));
            break;
        } catch (const FetchError& e) {
            if (!MayHaveArrived(e))
                throw;
            io.log(e.what());
            // A dropped or empty answer has ended on the portal's side: if the
            // number is still offered to us, that registration did not take it,
            // and it is sent again. A time-out may still be under way there.
            if (e.Failure() == FetchFailure::TimedOut || sent >= kMaxRegistrations ||
                !StillOffered(hosts, number, io))
                return {BookingOutcome::Unanswered, std::string(kUnansweredMessage)};
        }
    }
    if (IsBooked(answer))
        return {BookingOutcome::Booked, std::string(kBookedMessage)};
    return {BookingOutcome::Refused, std::move(answer)};
}

} // namespace quilora
